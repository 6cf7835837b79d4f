// The getters a certificate callback uses, on a store context built by hand
// (the handshake tests call them from inside a real verification).
#include <dirext.h>

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstring>
#include <string>
#include <vector>

#include "certs.h"

namespace {

using testsupport::Pki;

class Handle {
public:
    explicit Handle(X509 *cert, int error = X509_V_OK)
    {
        store_ = X509_STORE_new();
        ctx_ = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx_, store_, cert, nullptr);
        X509_STORE_CTX_set_current_cert(ctx_, cert);
        X509_STORE_CTX_set_error(ctx_, error);
    }
    ~Handle()
    {
        X509_STORE_CTX_free(ctx_);
        X509_STORE_free(store_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    void *get() const { return ctx_; }

private:
    X509_STORE *store_;
    X509_STORE_CTX *ctx_;
};

TEST(TlsGetCert, PemSizeQueryThenFullRead)
{
    const Pki &pki = Pki::instance();
    Handle handle(pki.server.cert.get());
    berval size{0, nullptr};
    ASSERT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_PEM, &size), 0);
    ASSERT_GT(size.bv_len, 0u);
    std::vector<char> buffer(size.bv_len);
    berval out{size.bv_len, buffer.data()};
    ASSERT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_PEM, &out), 0);
    EXPECT_EQ(out.bv_len, size.bv_len);
    std::string pem(buffer.data(), out.bv_len);
    EXPECT_EQ(pem.rfind("-----BEGIN TRUSTED CERTIFICATE-----\n", 0), 0u);
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509 *read = PEM_read_bio_X509_AUX(bio, nullptr, nullptr, nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(X509_cmp(read, pki.server.cert.get()), 0);
    X509_free(read);
    BIO_free(bio);
}

TEST(TlsGetCert, DerIsTheCertificatesEncoding)
{
    const Pki &pki = Pki::instance();
    Handle handle(pki.client.cert.get());
    berval size{0, nullptr};
    ASSERT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_DER, &size), 0);
    EXPECT_EQ(size.bv_len, pki.client.cert_der.size());
    std::vector<char> buffer(size.bv_len + 10, 'x');
    berval out{buffer.size(), buffer.data()};
    ASSERT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_DER, &out), 0);
    EXPECT_EQ(std::string(buffer.data(), out.bv_len), pki.client.cert_der);
}

TEST(TlsGetCert, ShortBufferGetsThePrefixAndNoMore)
{
    const Pki &pki = Pki::instance();
    Handle handle(pki.client.cert.get());
    std::vector<char> buffer(20, 'x');
    berval out{10, buffer.data()};
    ASSERT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_DER, &out), 0);
    EXPECT_EQ(out.bv_len, 10u);
    EXPECT_EQ(std::string(buffer.data(), 10), pki.client.cert_der.substr(0, 10));
    EXPECT_EQ(std::string(buffer.data() + 10, 10), std::string(10, 'x'));
}

TEST(TlsGetCert, Refusals)
{
    const Pki &pki = Pki::instance();
    Handle handle(pki.client.cert.get());
    char byte;
    berval out{0, nullptr};
    berval zero{0, &byte};
    EXPECT_EQ(ldapssl_get_cert(nullptr, LDAPSSL_CERT_OUT_PEM, &out), -1);
    EXPECT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_PEM, nullptr), -1);
    EXPECT_EQ(ldapssl_get_cert(handle.get(), 1, &out), -1);
    EXPECT_EQ(ldapssl_get_cert(handle.get(), 5, &out), -1);
    EXPECT_EQ(ldapssl_get_cert(handle.get(), LDAPSSL_CERT_OUT_DER, &zero), -1);
    Handle no_cert(nullptr);
    EXPECT_EQ(ldapssl_get_cert(no_cert.get(), LDAPSSL_CERT_OUT_DER, &out), -1);
}

struct NameCase {
    int selector;
    std::string expected;
};

TEST(TlsGetCertAttribute, IssuerAndSubjectTexts)
{
    const Pki &pki = Pki::instance();
    Handle handle(pki.server.cert.get());
    for (const NameCase &c : {NameCase{LDAPSSL_CERT_ISSUER, "/CN=dirext test CA"},
                              NameCase{LDAPSSL_CERT_SUBJECT, "/CN=dirext test server"}}) {
        int len = -1;
        ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), c.selector, nullptr, &len), 0);
        ASSERT_EQ(len, static_cast<int>(c.expected.size()));
        // One byte larger: terminated, same length.
        std::vector<char> buffer(c.expected.size() + 1, 'x');
        int room = static_cast<int>(buffer.size());
        ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), c.selector, buffer.data(), &room), 0);
        EXPECT_EQ(room, len);
        EXPECT_STREQ(buffer.data(), c.expected.c_str());
        // Exactly the length: every byte, unterminated, length unchanged.
        std::vector<char> exact(c.expected.size() + 4, 'x');
        room = len;
        ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), c.selector, exact.data(), &room), 0);
        EXPECT_EQ(room, len);
        EXPECT_EQ(std::string(exact.data(), c.expected.size()), c.expected);
        EXPECT_EQ(std::string(exact.data() + c.expected.size(), 4), "xxxx");
    }
}

TEST(TlsGetCertAttribute, TruncatedCopyStaysWithinLen)
{
    const Pki &pki = Pki::instance();
    Handle handle(pki.server.cert.get());
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    int len = 5;
    ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_SUBJECT, buffer, &len), 0);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("/CN=d") + std::string(11, 'x'));
    len = 0;
    EXPECT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_SUBJECT, buffer, &len), 0);
    EXPECT_EQ(buffer[0], '/');
    len = -1;
    EXPECT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_SUBJECT, buffer, &len), -1);
    // A long buffer is zero-filled after the text.
    char wide[40];
    std::memset(wide, 'x', sizeof wide);
    len = sizeof wide;
    ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_ISSUER, wide, &len), 0);
    EXPECT_EQ(std::string(wide, sizeof wide), "/CN=dirext test CA" + std::string(22, '\0'));
}

TEST(TlsGetCertAttribute, ValidityKeepsTheStoredTextAndKind)
{
    testsupport::CertSpec spec;
    spec.common_name = "validity";
    spec.not_before = "20240102030405Z";
    spec.not_after = "20510607080910Z";
    testsupport::Credential c = Pki::instance().issue("validity", spec, nullptr);
    Handle handle(c.cert.get());
    int len = 0;
    ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VALIDITY, nullptr, &len), 0);
    EXPECT_EQ(len, 88);
    ldapssl_validity v;
    std::memset(&v, 'x', sizeof v);
    len = sizeof v;
    ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VALIDITY, &v, &len), 0);
    EXPECT_EQ(len, 88);
    EXPECT_EQ(std::string(v.not_before, sizeof v.not_before), "240102030405Z" + std::string(27, '\0'));
    EXPECT_EQ(v.not_before_kind, LDAPSSL_TIME_UTC);
    EXPECT_EQ(std::string(v.not_after, sizeof v.not_after), "20510607080910Z" + std::string(25, '\0'));
    EXPECT_EQ(v.not_after_kind, LDAPSSL_TIME_GENERALIZED);
}

// *len is an output for the validity: a caller with an 88-byte record and
// *len 0, short or left unset gets the record filled all the same.
TEST(TlsGetCertAttribute, ValidityTakesAnyIncomingLength)
{
    Handle handle(Pki::instance().ca.cert.get());
    for (int incoming : {0, 87, -1, 88, 1000}) {
        ldapssl_validity v;
        std::memset(&v, 'x', sizeof v);
        int len = incoming;
        ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VALIDITY, &v, &len), 0) << incoming;
        EXPECT_EQ(len, 88);
        EXPECT_NE(v.not_before_kind, 0) << incoming;
        EXPECT_NE(v.not_after_kind, 0) << incoming;
        EXPECT_EQ(v.not_after[39], '\0');
    }
}

TEST(TlsGetCertAttribute, VerifyErrorNeedsAnIntSizedBuffer)
{
    Handle handle(Pki::instance().expired_server.cert.get(), X509_V_ERR_CERT_HAS_EXPIRED);
    int len = 0;
    ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VERIFY_ERROR, nullptr, &len), 0);
    EXPECT_EQ(len, 4);
    int error = -1;
    len = 4;
    ASSERT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VERIFY_ERROR, &error, &len), 0);
    EXPECT_EQ(error, X509_V_ERR_CERT_HAS_EXPIRED);
    long long wide = 0;
    len = 8;
    EXPECT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VERIFY_ERROR, &wide, &len), -1);
    len = 2;
    EXPECT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_VERIFY_ERROR, &wide, &len), -1);
    EXPECT_EQ(wide, 0);
}

TEST(TlsGetCertAttribute, Refusals)
{
    Handle handle(Pki::instance().ca.cert.get());
    Handle no_cert(nullptr);
    int len = 10;
    char buffer[10];
    EXPECT_EQ(ldapssl_get_cert_attribute(nullptr, LDAPSSL_CERT_ISSUER, buffer, &len), -1);
    EXPECT_EQ(ldapssl_get_cert_attribute(handle.get(), LDAPSSL_CERT_ISSUER, buffer, nullptr), -1);
    for (int selector : {0, 4, 99, 101, -1}) EXPECT_EQ(ldapssl_get_cert_attribute(handle.get(), selector, buffer, &len), -1);
    for (int selector : {LDAPSSL_CERT_ISSUER, LDAPSSL_CERT_SUBJECT, LDAPSSL_CERT_VALIDITY})
        EXPECT_EQ(ldapssl_get_cert_attribute(no_cert.get(), selector, nullptr, &len), -1);
}

}  // namespace
