// Real TLS handshakes on loopback: libldap negotiates with the library's
// context against an OpenSSL server that answers binds.
#include <dirext.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "certs.h"
#include "tls_server.h"

namespace {

using testsupport::Credential;
using testsupport::Pki;
using tlstest::simple_bind;
using tlstest::TlsBindServer;

// The server sends its certificate and its CA's, as servers usually do.
std::unique_ptr<TlsBindServer> serve(const Credential &cert, bool request_client_cert = false)
{
    return std::make_unique<TlsBindServer>(
        TlsBindServer::Options{cert.chain_pem_path, cert.key_pem_path, request_client_cert});
}

// The server sends its own certificate only, so that verification fails on
// it (depth 0) rather than on an untrusted CA certificate in the chain.
std::unique_ptr<TlsBindServer> serve_alone(const Credential &cert)
{
    return std::make_unique<TlsBindServer>(TlsBindServer::Options{cert.cert_pem_path, cert.key_pem_path, false});
}

class TlsHandshake : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0); }
    void TearDown() override { EXPECT_EQ(ldapssl_client_deinit(), 0); }
};

struct Peer {
    const char *name;
    const Credential Pki::*server;
    const Credential Pki::*trusted;  // null: nothing trusted
    bool passes_verification;
};

void PrintTo(const Peer &peer, std::ostream *os) { *os << peer.name; }

class ServerVerification : public TlsHandshake, public testing::WithParamInterface<Peer> {};

TEST_P(ServerVerification, ModeOneVerifiesModeZeroDoesNot)
{
    const Pki &pki = Pki::instance();
    const Peer &peer = GetParam();
    auto server = serve(pki.*peer.server);
    if (peer.trusted) {
        ASSERT_EQ(ldapssl_add_trusted_cert((pki.*peer.trusted).cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    }

    int rc = simple_bind(server->url());
    EXPECT_EQ(rc == LDAP_SUCCESS, peer.passes_verification) << rc;

    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF), 0);
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_PEER), 0);
    rc = simple_bind(server->url());
    EXPECT_EQ(rc == LDAP_SUCCESS, peer.passes_verification) << rc;
    EXPECT_EQ(server->binds_answered(), peer.passes_verification ? 3 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    TlsPeers, ServerVerification,
    testing::Values(Peer{"trusted_ca", &Pki::server, &Pki::ca, true},
                    Peer{"no_ca", &Pki::server, nullptr, false},
                    Peer{"other_ca", &Pki::server, &Pki::other_ca, false},
                    Peer{"expired", &Pki::expired_server, &Pki::ca, false},
                    Peer{"server_of_other_ca", &Pki::other_server, &Pki::ca, false}),
    [](const testing::TestParamInfo<Peer> &info) { return std::string(info.param.name); });

TEST_F(TlsHandshake, TrustedCertificateFromInitFileAndLdapsslInitSession)
{
    const Pki &pki = Pki::instance();
    auto server = serve(pki.server);
    ASSERT_EQ(ldapssl_client_init(pki.ca.cert_der_path.c_str(), nullptr), 0);
    LDAP *ld = ldapssl_init("127.0.0.1", server->port(), 1);
    ASSERT_NE(ld, nullptr);
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval password{6, const_cast<char *>("secret")};
    EXPECT_EQ(ldap_sasl_bind_s(ld, "cn=admin,o=test", LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr),
              LDAP_SUCCESS);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
}

// What the callback saw on its first call.
struct Seen {
    int calls = 0;
    std::string issuer, subject;
    ldapssl_validity validity{};
    int error = 0;
    int answer = 0;
};
Seen seen;

int record(void *handle)
{
    if (seen.calls++ == 0) {
        char text[256] = {};
        int len = sizeof text - 1;
        ldapssl_get_cert_attribute(handle, LDAPSSL_CERT_ISSUER, text, &len);
        seen.issuer = text;
        std::fill(std::begin(text), std::end(text), '\0');
        len = sizeof text - 1;
        ldapssl_get_cert_attribute(handle, LDAPSSL_CERT_SUBJECT, text, &len);
        seen.subject = text;
        len = sizeof seen.validity;
        ldapssl_get_cert_attribute(handle, LDAPSSL_CERT_VALIDITY, &seen.validity, &len);
        len = sizeof seen.error;
        ldapssl_get_cert_attribute(handle, LDAPSSL_CERT_VERIFY_ERROR, &seen.error, &len);
    }
    return seen.answer;
}

std::string asn1_text(const ASN1_TIME *t)
{
    return std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(t)),
                       static_cast<std::size_t>(ASN1_STRING_length(t)));
}

TEST_F(TlsHandshake, CallbackAcceptsAnUntrustedServerUntilModeOneIsSetAgain)
{
    const Pki &pki = Pki::instance();
    auto server = serve_alone(pki.server);
    seen = Seen{};
    seen.answer = 0;
    ASSERT_EQ(ldapssl_set_verify_callback(record), 0);
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_GE(seen.calls, 1);
    EXPECT_EQ(seen.subject, "/CN=dirext test server");
    EXPECT_EQ(seen.issuer, "/CN=dirext test CA");
    EXPECT_EQ(seen.error, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
    EXPECT_EQ(seen.validity.not_before, asn1_text(X509_get0_notBefore(pki.server.cert.get())));
    EXPECT_EQ(seen.validity.not_after, asn1_text(X509_get0_notAfter(pki.server.cert.get())));
    EXPECT_EQ(seen.validity.not_after_kind, LDAPSSL_TIME_UTC);

    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_PEER), 0);
    int calls = seen.calls;
    EXPECT_NE(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_EQ(seen.calls, calls);  // no longer asked
}

TEST_F(TlsHandshake, CallbackIsAskedAboutAnUntrustedCaInTheChain)
{
    const Pki &pki = Pki::instance();
    auto server = serve(pki.server);
    seen = Seen{};
    seen.answer = 0;
    ASSERT_EQ(ldapssl_set_verify_callback(record), 0);
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_EQ(seen.subject, "/CN=dirext test CA");
    EXPECT_EQ(seen.error, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN);
    EXPECT_EQ(seen.validity.not_after, std::string("20510101000000Z"));
    EXPECT_EQ(seen.validity.not_after_kind, LDAPSSL_TIME_GENERALIZED);
}

TEST_F(TlsHandshake, CallbackSeesTheExpiryAndCanRefuse)
{
    const Pki &pki = Pki::instance();
    auto server = serve(pki.expired_server);
    ASSERT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    seen = Seen{};
    seen.answer = 1;
    ASSERT_EQ(ldapssl_set_verify_callback(record), 0);
    EXPECT_NE(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.error, X509_V_ERR_CERT_HAS_EXPIRED);
    EXPECT_EQ(seen.subject, "/CN=dirext test server");
    EXPECT_EQ(seen.validity.not_after, asn1_text(X509_get0_notAfter(pki.expired_server.cert.get())));

    seen = Seen{};
    seen.answer = 0;
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_GE(seen.calls, 1);
}

TEST_F(TlsHandshake, TrustedChainNeverAsksTheCallback)
{
    const Pki &pki = Pki::instance();
    auto server = serve(pki.server);
    ASSERT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    seen = Seen{};
    seen.answer = 1;
    ASSERT_EQ(ldapssl_set_verify_callback(record), 0);
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_EQ(seen.calls, 0);
}

TEST_F(TlsHandshake, AcceptedChainStillNeedsTheHostName)
{
    // A certificate for another address: the callback waves the chain
    // through, libldap's host-name check still refuses.
    const Pki &pki = Pki::instance();
    testsupport::CertSpec spec;
    spec.common_name = "elsewhere";
    spec.ip_addresses = {"192.0.2.1"};
    Credential elsewhere = pki.issue("elsewhere", spec, &pki.ca);
    auto server = serve(elsewhere);
    ASSERT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    EXPECT_NE(simple_bind(server->url()), LDAP_SUCCESS);
    seen = Seen{};
    seen.answer = 0;
    ASSERT_EQ(ldapssl_set_verify_callback(record), 0);
    EXPECT_NE(simple_bind(server->url()), LDAP_SUCCESS);
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF), 0);
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
}

struct ClientCert {
    const char *name;
    int type;
};

void PrintTo(const ClientCert &c, std::ostream *os) { *os << c.name; }

class MutualTls : public TlsHandshake, public testing::WithParamInterface<ClientCert> {};

TEST_P(MutualTls, ServerSeesTheClientCertificate)
{
    const Pki &pki = Pki::instance();
    auto server = serve(pki.server, true);
    ASSERT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    int type = GetParam().type;
    berval pem{pki.client.cert_pem.size(), const_cast<char *>(pki.client.cert_pem.data())};
    berval key{pki.client.key_pem.size(), const_cast<char *>(pki.client.key_pem.data())};
    berval der{pki.client.cert_der.size(), const_cast<char *>(pki.client.cert_der.data())};
    berval p12{pki.client_p12_legacy.bytes.size(), const_cast<char *>(pki.client_p12_legacy.bytes.data())};
    switch (type) {
    case LDAPSSL_CERT_BUFFER_PEM:
        ASSERT_EQ(ldapssl_set_client_cert(&pem, type, nullptr), 0);
        ASSERT_EQ(ldapssl_set_client_private_key(&key, type, nullptr), 0);
        break;
    case LDAPSSL_CERT_BUFFER_DER:
        ASSERT_EQ(ldapssl_set_client_cert(&der, type, nullptr), 0);
        ASSERT_EQ(ldapssl_set_client_private_key(pki.client.key_pem_encrypted_path.c_str(), LDAPSSL_CERT_FILE_PEM,
                                                 Pki::kPassword),
                  0);
        break;
    case LDAPSSL_CERT_FILE_PKCS12:
        ASSERT_EQ(ldapssl_set_client_cert(pki.client_p12.path.c_str(), type, Pki::kPassword), 0);
        ASSERT_EQ(ldapssl_set_client_private_key(pki.client_p12.path.c_str(), type, Pki::kPassword), 0);
        break;
    case LDAPSSL_CERT_BUFFER_PKCS12:
        ASSERT_EQ(ldapssl_set_client_cert(&p12, type, Pki::kPassword), 0);
        ASSERT_EQ(ldapssl_set_client_private_key(&p12, type, Pki::kPassword), 0);
        break;
    }
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_EQ(server->client_subjects(), std::vector<std::string>{"/CN=dirext test client"});
}

INSTANTIATE_TEST_SUITE_P(TlsSources, MutualTls,
                         testing::Values(ClientCert{"pem_buffer", LDAPSSL_CERT_BUFFER_PEM},
                                         ClientCert{"der_buffer", LDAPSSL_CERT_BUFFER_DER},
                                         ClientCert{"pkcs12_file", LDAPSSL_CERT_FILE_PKCS12},
                                         ClientCert{"legacy_pkcs12_buffer", LDAPSSL_CERT_BUFFER_PKCS12}),
                         [](const testing::TestParamInfo<ClientCert> &info) { return std::string(info.param.name); });

TEST_F(TlsHandshake, WithoutClientCertificateTheServerSeesNone)
{
    const Pki &pki = Pki::instance();
    auto server = serve(pki.server, true);
    ASSERT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    EXPECT_EQ(simple_bind(server->url()), LDAP_SUCCESS);
    EXPECT_EQ(server->client_subjects(), std::vector<std::string>{""});
}

}  // namespace
