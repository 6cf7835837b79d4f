// Mutual TLS end to end against the directory simulator: the client
// certificate and key that the library installs from each source form reach
// the server, which verifies them against the CA and notes the subject, over
// ldaps:// and after StartTLS alike.
#include <dirext.h>

#include <dirsim/server.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "certs.h"
#include "sim_fixture.h"

namespace {

using testsupport::Pki;

berval as_berval(const std::string &bytes) { return {bytes.size(), const_cast<char *>(bytes.data())}; }

// Binds as the administrator over a session for url (StartTLS first when
// asked); the libldap result.
int admin_bind(const std::string &url, bool start_tls)
{
    testsupport::Ldap ld = testsupport::open_session(url);
    if (!ld) return LDAP_LOCAL_ERROR;
    if (start_tls) {
        if (int rc = ldap_start_tls_s(ld.get(), nullptr, nullptr)) return rc;
    }
    return testsupport::simple_bind(ld.get(), testsupport::kAdminDn, testsupport::kAdminPassword);
}

struct Source {
    const char *what;
    // Installs the client's certificate and key; 0 on success for both.
    std::function<int(const Pki &)> install;
};

void PrintTo(const Source &s, std::ostream *os) { *os << s.what; }

class MutualTlsWithSimulator : public testing::TestWithParam<Source> {
protected:
    void SetUp() override
    {
        dirsim::Options options;
        options.ldif_text = testsupport::kLabTree;
        options.tls_cert_file = pki_.server.chain_pem_path;
        options.tls_key_file = pki_.server.key_pem_path;
        options.ldaps = true;
        options.request_client_cert = true;
        options.tls_ca_file = pki_.ca.cert_pem_path;
        server_ = testsupport::start_sim(options);
        ASSERT_TRUE(server_);
        ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
        ASSERT_EQ(ldapssl_add_trusted_cert(pki_.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    }
    void TearDown() override { EXPECT_EQ(ldapssl_client_deinit(), 0); }

    const Pki &pki_ = Pki::instance();
    std::unique_ptr<dirsim::Server> server_;
};

TEST_P(MutualTlsWithSimulator, ServerSeesTheClientCertificate)
{
    ASSERT_EQ(GetParam().install(pki_), 0);
    EXPECT_EQ(admin_bind(server_->ldaps_url(), false), LDAP_SUCCESS);
    EXPECT_EQ(admin_bind(server_->url(), true), LDAP_SUCCESS);
    EXPECT_EQ(server_->client_subjects(), std::vector<std::string>(2, "/CN=dirext test client"));
    std::vector<bool> over_tls;
    for (const auto &r : server_->requests())
        if (r.op == "bind") over_tls.push_back(r.tls);
    EXPECT_EQ(over_tls, (std::vector<bool>{true, true}));
}

int both(const void *cert, int cert_type, const void *key, int key_type, const char *password = nullptr)
{
    int rc = ldapssl_set_client_cert(cert, cert_type, password);
    return rc ? rc : ldapssl_set_client_private_key(key, key_type, password);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, MutualTlsWithSimulator,
    testing::Values(
        Source{"PemFiles",
               [](const Pki &p) {
                   return both(p.client.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM, p.client.key_pem_path.c_str(),
                               LDAPSSL_CERT_FILE_PEM);
               }},
        Source{"PemBuffers",
               [](const Pki &p) {
                   berval cert = as_berval(p.client.cert_pem), key = as_berval(p.client.key_pem);
                   return both(&cert, LDAPSSL_CERT_BUFFER_PEM, &key, LDAPSSL_CERT_BUFFER_PEM);
               }},
        Source{"DerBufferWithEncryptedPemKey",
               [](const Pki &p) {
                   berval cert = as_berval(p.client.cert_der);
                   return both(&cert, LDAPSSL_CERT_BUFFER_DER, p.client.key_pem_encrypted_path.c_str(),
                               LDAPSSL_CERT_FILE_PEM, Pki::kPassword);
               }},
        Source{"Pkcs12File",
               [](const Pki &p) {
                   const char *path = p.client_p12.path.c_str();
                   return both(path, LDAPSSL_CERT_FILE_PKCS12, path, LDAPSSL_CERT_FILE_PKCS12, Pki::kPassword);
               }},
        Source{"Pkcs12Buffer",
               [](const Pki &p) {
                   berval bundle = as_berval(p.client_p12.bytes);
                   return both(&bundle, LDAPSSL_CERT_BUFFER_PKCS12, &bundle, LDAPSSL_CERT_BUFFER_PKCS12,
                               Pki::kPassword);
               }},
        Source{"LegacyPkcs12File",
               [](const Pki &p) {
                   const char *path = p.client_p12_legacy.path.c_str();
                   return both(path, LDAPSSL_CERT_FILE_PKCS12, path, LDAPSSL_CERT_FILE_PKCS12, Pki::kPassword);
               }}),
    [](const testing::TestParamInfo<Source> &info) { return std::string(info.param.what); });

TEST_F(MutualTlsWithSimulator, WithoutClientCertificateTheSimulatorNotesNone)
{
    EXPECT_EQ(admin_bind(server_->ldaps_url(), false), LDAP_SUCCESS);
    EXPECT_TRUE(server_->client_subjects().empty());
}

}  // namespace
