// Trusted certificates and client credentials (black box).
#include <dirext.h>

#include <gtest/gtest.h>

#include <string>

#include "certs.h"

namespace {

using testsupport::Pki;

berval bv(const std::string &bytes)
{
    return berval{static_cast<ber_len_t>(bytes.size()), const_cast<char *>(bytes.data())};
}
berval bv(std::string &&) = delete;  // the berval would outlive its bytes

// Beside the test certificates, so that it goes when they go.
std::string write_temp(const std::string &name, const std::string &bytes)
{
    std::string path = testsupport::Pki::instance().dir + "/" + name;
    testsupport::write_file(path, bytes);
    return path;
}

class Tls : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0); }
    void TearDown() override { EXPECT_EQ(ldapssl_client_deinit(), 0); }

    static int trusted_count()
    {
        return sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(g_CryptCtx)));
    }
    static bool contains(X509_STORE *store, X509 *cert)
    {
        STACK_OF(X509_OBJECT) *objects = X509_STORE_get0_objects(store);
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
            X509 *held = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
            if (held && X509_cmp(held, cert) == 0) return true;
        }
        return false;
    }
};

TEST_F(Tls, TrustedCertFromEachSourceType)
{
    const Pki &pki = Pki::instance();
    berval pem = bv(pki.ca.cert_pem), der = bv(pki.other_ca.cert_der), server_der = bv(pki.server.cert_der);
    EXPECT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    EXPECT_EQ(ldapssl_add_trusted_cert(pki.other_ca.cert_der_path.c_str(), LDAPSSL_CERT_FILE_DER), 0);
    EXPECT_EQ(ldapssl_add_trusted_cert(&pem, LDAPSSL_CERT_BUFFER_PEM), 0);  // again: not an error
    EXPECT_EQ(ldapssl_add_trusted_cert(&der, LDAPSSL_CERT_BUFFER_DER), 0);
    EXPECT_EQ(ldapssl_add_trusted_cert(&server_der, LDAPSSL_CERT_BUFFER_DER), 0);
    EXPECT_EQ(trusted_count(), 3);
    EXPECT_TRUE(contains(SSL_CTX_get_cert_store(g_CryptCtx), pki.server.cert.get()));
}

TEST_F(Tls, ThreeCertificatesInOnePemAreAllAdded)
{
    const Pki &pki = Pki::instance();
    std::string three = pki.ca.cert_pem + pki.other_ca.cert_pem + pki.client.cert_pem;
    std::string path = write_temp("three.pem", three);
    ASSERT_EQ(ldapssl_add_trusted_cert(path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    EXPECT_EQ(trusted_count(), 3);
    std::string with_preamble = "some text before the first block\n" + three;
    berval buffer = bv(with_preamble);
    EXPECT_EQ(ldapssl_add_trusted_cert(&buffer, LDAPSSL_CERT_BUFFER_PEM), 0);
    EXPECT_EQ(trusted_count(), 3);
}

TEST_F(Tls, CorruptSecondPemBlockFailsAfterAddingTheFirst)
{
    const Pki &pki = Pki::instance();
    std::string second = pki.other_ca.cert_pem;
    second[second.find('\n') + 10] = '!';  // not Base64
    std::string pem = pki.ca.cert_pem + second + pki.client.cert_pem;
    berval buffer = bv(pem);
    EXPECT_EQ(ldapssl_add_trusted_cert(&buffer, LDAPSSL_CERT_BUFFER_PEM), -1);
    EXPECT_EQ(trusted_count(), 1);
    EXPECT_TRUE(contains(SSL_CTX_get_cert_store(g_CryptCtx), pki.ca.cert.get()));
}

TEST_F(Tls, TrustedCertRefusals)
{
    const Pki &pki = Pki::instance();
    std::string junk_path = write_temp("junk.pem", "no certificate here\n");
    berval empty{0, nullptr};
    std::string junk_text = "no certificate here\n";
    berval junk = bv(junk_text);
    berval pem_as_der = bv(pki.ca.cert_pem);
    std::string truncated = pki.ca.cert_der.substr(0, pki.ca.cert_der.size() - 1);
    berval truncated_der = bv(truncated);
    struct Case {
        const char *what;
        const void *source;
        int type;
    } cases[] = {
        {"null source", nullptr, LDAPSSL_CERT_FILE_PEM},
        {"PKCS#12 type", pki.client_p12.path.c_str(), LDAPSSL_CERT_FILE_PKCS12},
        {"type 0", pki.ca.cert_pem_path.c_str(), 0},
        {"type 7", pki.ca.cert_pem_path.c_str(), 7},
        {"missing file", "/nonexistent/ca.pem", LDAPSSL_CERT_FILE_PEM},
        {"missing DER file", "/nonexistent/ca.der", LDAPSSL_CERT_FILE_DER},
        {"PEM file without certificates", junk_path.c_str(), LDAPSSL_CERT_FILE_PEM},
        {"PEM file read as DER", pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_DER},
        {"DER file read as PEM", pki.ca.cert_der_path.c_str(), LDAPSSL_CERT_FILE_PEM},
        {"empty buffer", &empty, LDAPSSL_CERT_BUFFER_PEM},
        {"text buffer", &junk, LDAPSSL_CERT_BUFFER_PEM},
        {"PEM buffer read as DER", &pem_as_der, LDAPSSL_CERT_BUFFER_DER},
        {"truncated DER", &truncated_der, LDAPSSL_CERT_BUFFER_DER},
        {"directory", "/tmp", LDAPSSL_CERT_FILE_PEM},
    };
    for (const Case &c : cases) EXPECT_EQ(ldapssl_add_trusted_cert(c.source, c.type), -1) << c.what;
    EXPECT_EQ(trusted_count(), 0);
}

TEST(TlsNotInitialised, SettersRefuse)
{
    const Pki &pki = Pki::instance();
    EXPECT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), -1);
    EXPECT_EQ(ldapssl_set_client_cert(pki.client.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_private_key(pki.client.key_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_cert(nullptr, LDAPSSL_CERT_FILE_PEM, nullptr), LDAP_PARAM_ERROR);
}

// Each accepted way to set the client certificate and key installs exactly the
// client's own pair.
struct ClientSource {
    const char *name;
    int type;
    // the source argument for the certificate and for the key (null: skip)
    std::string (*cert)(const Pki &);
    std::string (*key)(const Pki &);
    const char *password;
};

void PrintTo(const ClientSource &s, std::ostream *os) { *os << s.name; }

class ClientCredentials : public testing::TestWithParam<ClientSource> {
protected:
    void SetUp() override { ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0); }
    void TearDown() override { EXPECT_EQ(ldapssl_client_deinit(), 0); }
};

bool is_file(int type)
{
    return type == LDAPSSL_CERT_FILE_PEM || type == LDAPSSL_CERT_FILE_DER || type == LDAPSSL_CERT_FILE_PKCS12;
}

TEST_P(ClientCredentials, InstallsTheClientsPair)
{
    const Pki &pki = Pki::instance();
    const ClientSource &s = GetParam();
    std::string cert_source = s.cert(pki);
    berval cert_bv = bv(cert_source);
    const void *cert_arg = is_file(s.type) ? static_cast<const void *>(cert_source.c_str()) : &cert_bv;
    EXPECT_EQ(ldapssl_set_client_cert(cert_arg, s.type, s.password), 0);
    X509 *installed = SSL_CTX_get0_certificate(g_CryptCtx);
    ASSERT_NE(installed, nullptr);
    EXPECT_EQ(X509_cmp(installed, pki.client.cert.get()), 0);
    if (s.key) {
        std::string key_source = s.key(pki);
        berval key_bv = bv(key_source);
        const void *key_arg = is_file(s.type) ? static_cast<const void *>(key_source.c_str()) : &key_bv;
        EXPECT_EQ(ldapssl_set_client_private_key(key_arg, s.type, s.password), 0);
        EXPECT_EQ(SSL_CTX_check_private_key(g_CryptCtx), 1);
        EXPECT_EQ(EVP_PKEY_eq(SSL_CTX_get0_privatekey(g_CryptCtx), pki.client.key.get()), 1);
    }
    EXPECT_EQ(SSL_CTX_get_default_passwd_cb_userdata(g_CryptCtx), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    TlsSources, ClientCredentials,
    testing::Values(
        ClientSource{"pem_file", LDAPSSL_CERT_FILE_PEM, [](const Pki &p) { return p.client.cert_pem_path; },
                     [](const Pki &p) { return p.client.key_pem_path; }, nullptr},
        ClientSource{"encrypted_pem_file", LDAPSSL_CERT_FILE_PEM, [](const Pki &p) { return p.client.cert_pem_path; },
                     [](const Pki &p) { return p.client.key_pem_encrypted_path; }, Pki::kPassword},
        ClientSource{"der_file", LDAPSSL_CERT_FILE_DER, [](const Pki &p) { return p.client.cert_der_path; }, nullptr,
                     nullptr},
        ClientSource{"pem_buffer", LDAPSSL_CERT_BUFFER_PEM, [](const Pki &p) { return p.client.cert_pem; },
                     [](const Pki &p) { return p.client.key_pem; }, nullptr},
        ClientSource{"encrypted_pem_buffer", LDAPSSL_CERT_BUFFER_PEM, [](const Pki &p) { return p.client.cert_pem; },
                     [](const Pki &p) { return p.client.key_pem_encrypted; }, Pki::kPassword},
        ClientSource{"der_buffer", LDAPSSL_CERT_BUFFER_DER, [](const Pki &p) { return p.client.cert_der; }, nullptr,
                     nullptr},
        ClientSource{"pkcs12_file", LDAPSSL_CERT_FILE_PKCS12, [](const Pki &p) { return p.client_p12.path; },
                     [](const Pki &p) { return p.client_p12.path; }, Pki::kPassword},
        ClientSource{"pkcs12_buffer", LDAPSSL_CERT_BUFFER_PKCS12, [](const Pki &p) { return p.client_p12.bytes; },
                     [](const Pki &p) { return p.client_p12.bytes; }, Pki::kPassword},
        ClientSource{"legacy_pkcs12_file", LDAPSSL_CERT_FILE_PKCS12,
                     [](const Pki &p) { return p.client_p12_legacy.path; },
                     [](const Pki &p) { return p.client_p12_legacy.path; }, Pki::kPassword},
        ClientSource{"legacy_pkcs12_buffer", LDAPSSL_CERT_BUFFER_PKCS12,
                     [](const Pki &p) { return p.client_p12_legacy.bytes; },
                     [](const Pki &p) { return p.client_p12_legacy.bytes; }, Pki::kPassword}),
    [](const testing::TestParamInfo<ClientSource> &info) { return std::string(info.param.name); });

TEST_F(Tls, ClientCredentialRefusals)
{
    const Pki &pki = Pki::instance();
    berval key_der = bv(pki.client.key_der);
    berval legacy = bv(pki.client_p12_legacy.bytes);
    berval not_p12 = bv(pki.client.cert_der);
    const char *key_path = pki.client.key_pem_path.c_str();
    // Key types without a key form, and wrong data or passwords: 1.
    EXPECT_EQ(ldapssl_set_client_private_key(pki.client.key_der_path.c_str(), LDAPSSL_CERT_FILE_DER, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_private_key(&key_der, LDAPSSL_CERT_BUFFER_DER, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_private_key(key_path, 0, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_cert(pki.client.cert_pem_path.c_str(), 7, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_private_key(pki.client.key_pem_encrypted_path.c_str(), LDAPSSL_CERT_FILE_PEM,
                                             "wrong"),
              1);
    EXPECT_EQ(ldapssl_set_client_private_key(pki.client.key_pem_encrypted_path.c_str(), LDAPSSL_CERT_FILE_PEM,
                                             nullptr),
              1);  // no password: no prompt either
    EXPECT_EQ(ldapssl_set_client_cert(pki.client_p12.path.c_str(), LDAPSSL_CERT_FILE_PKCS12, "wrong"), 1);
    EXPECT_EQ(ldapssl_set_client_cert(&legacy, LDAPSSL_CERT_BUFFER_PKCS12, "wrong"), 1);
    EXPECT_EQ(ldapssl_set_client_private_key(&legacy, LDAPSSL_CERT_BUFFER_PKCS12, nullptr), 1);
    EXPECT_EQ(ldapssl_set_client_cert(&not_p12, LDAPSSL_CERT_BUFFER_PKCS12, Pki::kPassword), 1);
    EXPECT_EQ(ldapssl_set_client_cert("/nonexistent.p12", LDAPSSL_CERT_FILE_PKCS12, Pki::kPassword), 1);
    EXPECT_EQ(ldapssl_set_client_cert(pki.client.cert_der_path.c_str(), LDAPSSL_CERT_FILE_PEM, nullptr), 1);
    EXPECT_EQ(SSL_CTX_get0_certificate(g_CryptCtx), nullptr);
    EXPECT_EQ(SSL_CTX_get0_privatekey(g_CryptCtx), nullptr);
    // Null sources: -9.
    EXPECT_EQ(ldapssl_set_client_cert(nullptr, LDAPSSL_CERT_FILE_PEM, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldapssl_set_client_private_key(nullptr, LDAPSSL_CERT_FILE_PEM, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldapssl_set_client_private_key(nullptr, LDAPSSL_CERT_BUFFER_DER, nullptr), LDAP_PARAM_ERROR);
}

TEST_F(Tls, KeyOfAnotherCertificateIsRefused)
{
    const Pki &pki = Pki::instance();
    ASSERT_EQ(ldapssl_set_client_cert(pki.client.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM, nullptr), 0);
    EXPECT_EQ(ldapssl_set_client_private_key(pki.server.key_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM, nullptr), 1);
}

}  // namespace
