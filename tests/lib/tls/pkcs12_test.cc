// PKCS#12 to clear text and its printing helpers, byte for byte.
#include <dirext.h>

#include <gtest/gtest.h>
#include <openssl/provider.h>

#include <string>

#include "certs.h"

namespace {

using testsupport::Pki;

struct BioFree {
    void operator()(BIO *b) const { BIO_free_all(b); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

Bio mem_bio() { return Bio(BIO_new(BIO_s_mem())); }
Bio bytes_bio(const std::string &s) { return Bio(BIO_new_mem_buf(s.data(), static_cast<int>(s.size()))); }
Bio bytes_bio(std::string &&) = delete;  // the BIO reads the bytes in place

std::string text_of(BIO *bio)
{
    char *data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(n));
}

std::string hex_spaced(const unsigned char *bytes, unsigned n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
        out += ' ';
    }
    return out;
}

// What the client bundles hold, in their order: the client's certificate, the
// CA's, then the key; the client's two bags carry the friendly name and the
// certificate's SHA-1 as local key id.
std::string expected_clear_text(const Pki &pki)
{
    unsigned char sha1[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    X509_digest(pki.client.cert.get(), EVP_sha1(), sha1, &n);
    std::string client_attributes = "Bag Attributes\n"
                                    "    friendlyName: client\n"
                                    "    localKeyID: " + hex_spaced(sha1, n) + "\n";
    return client_attributes +
           "subject=/CN=dirext test client\n"
           "issuer= /CN=dirext test CA\n" +
           pki.client.cert_pem +
           "Bag Attributes: <No Attributes>\n"
           "subject=/CN=dirext test CA\n"
           "issuer= /CN=dirext test CA\n" +
           pki.ca.cert_pem + client_attributes +
           "Key Attributes: <No Attributes>\n" +
           pki.client.key_pem;
}

TEST(TlsPkcs12ClearText, CurrentAndLegacyBundlesGiveTheSameExactText)
{
    const Pki &pki = Pki::instance();
    for (const testsupport::Pkcs12Bundle *bundle : {&pki.client_p12, &pki.client_p12_legacy}) {
        Bio in = bytes_bio(bundle->bytes);
        Bio clear(pkcs12_BIO_to_clear_BIO(in.get(), Pki::kPassword));
        ASSERT_NE(clear, nullptr) << bundle->path;
        EXPECT_EQ(text_of(clear.get()), expected_clear_text(pki)) << bundle->path;
    }
}

TEST(TlsPkcs12ClearText, LegacyBundleLeavesTheDefaultProvidersAlone)
{
    const Pki &pki = Pki::instance();
    Bio in(file_to_BIO(pki.client_p12_legacy.path.c_str()));
    ASSERT_NE(in, nullptr);
    Bio clear(pkcs12_BIO_to_clear_BIO(in.get(), Pki::kPassword));
    ASSERT_NE(clear, nullptr);
    EXPECT_EQ(OSSL_PROVIDER_available(nullptr, "legacy"), 0);
}

TEST(TlsPkcs12ClearText, WrongPasswordOrDataGivesNothing)
{
    const Pki &pki = Pki::instance();
    for (const std::string *bytes : {&pki.client_p12.bytes, &pki.client_p12_legacy.bytes}) {
        for (const char *password : {"wrong", "", static_cast<const char *>(nullptr)}) {
            Bio in = bytes_bio(*bytes);
            EXPECT_EQ(pkcs12_BIO_to_clear_BIO(in.get(), password), nullptr) << (password ? password : "(null)");
        }
    }
    Bio der = bytes_bio(pki.client.cert_der);
    EXPECT_EQ(pkcs12_BIO_to_clear_BIO(der.get(), Pki::kPassword), nullptr);
    std::string half = pki.client_p12.bytes.substr(0, pki.client_p12.bytes.size() / 2);
    Bio truncated = bytes_bio(half);
    EXPECT_EQ(pkcs12_BIO_to_clear_BIO(truncated.get(), Pki::kPassword), nullptr);
    Bio out = mem_bio();
    EXPECT_EQ(dump_certs_keys_buf(out.get(), nullptr, Pki::kPassword), 0);
    EXPECT_EQ(dump_certs_keys_p12(out.get(), nullptr, Pki::kPassword), 0);
    EXPECT_EQ(dump_certs_pkeys_bags(out.get(), nullptr, Pki::kPassword), 0);
}

TEST(TlsPkcs12ClearText, UnencryptedKeyBagAndNestedSafeContents)
{
    const Pki &pki = Pki::instance();
    // A key bag (not shrouded) inside a safe-contents bag, beside a certificate
    // bag with no attributes.
    PKCS8_PRIV_KEY_INFO *p8 = EVP_PKEY2PKCS8(pki.client.key.get());
    PKCS12_SAFEBAG *key_bag = PKCS12_SAFEBAG_create0_p8inf(p8);
    ASSERT_NE(key_bag, nullptr);
    PKCS12_add_friendlyname_asc(key_bag, "k", -1);
    STACK_OF(PKCS12_SAFEBAG) *inner = sk_PKCS12_SAFEBAG_new_null();
    sk_PKCS12_SAFEBAG_push(inner, key_bag);
    PKCS12_SAFEBAG *cert_bag = PKCS12_SAFEBAG_create_cert(pki.ca.cert.get());

    Bio out = mem_bio();
    EXPECT_EQ(dump_certs_pkeys_bags(out.get(), inner, nullptr), 1);
    EXPECT_EQ(dump_certs_pkeys_bag(out.get(), cert_bag, nullptr), 1);
    EXPECT_EQ(text_of(out.get()), "Bag Attributes\n"
                                  "    friendlyName: k\n"
                                  "Key Attributes: <No Attributes>\n" +
                                      pki.client.key_pem +
                                      "Bag Attributes: <No Attributes>\n"
                                      "subject=/CN=dirext test CA\n"
                                      "issuer= /CN=dirext test CA\n" +
                                      pki.ca.cert_pem);
    PKCS12_SAFEBAG_free(cert_bag);
    sk_PKCS12_SAFEBAG_pop_free(inner, PKCS12_SAFEBAG_free);
}

TEST(TlsPrintAttribs, EveryValueForm)
{
    STACK_OF(X509_ATTRIBUTE) *attributes = sk_X509_ATTRIBUTE_new_null();
    const unsigned char id[] = {0x00, 0xAB, 0x7f};
    auto add = [&](X509_ATTRIBUTE *a) { sk_X509_ATTRIBUTE_push(attributes, a); };
    // localKeyID (octet string), friendlyName (BMPString), an unknown OID with
    // a bit string, an INTEGER (unsupported) and an attribute without values.
    X509_ATTRIBUTE *key_id = X509_ATTRIBUTE_create_by_NID(nullptr, NID_localKeyID, V_ASN1_OCTET_STRING, id, 3);
    add(key_id);
    add(X509_ATTRIBUTE_create_by_NID(nullptr, NID_friendlyName, MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char *>("my key"), -1));
    ASN1_OBJECT *unknown = OBJ_txt2obj("1.3.6.1.4.1.32473.9.1", 1);
    add(X509_ATTRIBUTE_create_by_OBJ(nullptr, unknown, V_ASN1_BIT_STRING, id, 2));
    ASN1_INTEGER *seven = ASN1_INTEGER_new();
    ASN1_INTEGER_set(seven, 7);
    X509_ATTRIBUTE *number = X509_ATTRIBUTE_create(NID_pkcs9_unstructuredName, V_ASN1_INTEGER, seven);
    add(number);
    X509_ATTRIBUTE *empty = X509_ATTRIBUTE_new();
    X509_ATTRIBUTE_set1_object(empty, OBJ_nid2obj(NID_pkcs9_emailAddress));
    add(empty);

    Bio out = mem_bio();
    EXPECT_EQ(print_attribs(out.get(), attributes, "Bag Attributes"), 1);
    EXPECT_EQ(text_of(out.get()), "Bag Attributes\n"
                                  "    localKeyID: 00 AB 7F \n"
                                  "    friendlyName: my key\n"
                                  "    1.3.6.1.4.1.32473.9.1: 00 AB \n"
                                  "    unstructuredName: <Unsupported tag 2>\n"
                                  "    emailAddress: <No Values>\n");
    sk_X509_ATTRIBUTE_pop_free(attributes, X509_ATTRIBUTE_free);
    ASN1_OBJECT_free(unknown);

    Bio none = mem_bio();
    STACK_OF(X509_ATTRIBUTE) *empty_set = sk_X509_ATTRIBUTE_new_null();
    EXPECT_EQ(print_attribs(none.get(), nullptr, "Key Attributes"), 1);
    EXPECT_EQ(print_attribs(none.get(), empty_set, "Bag Attributes"), 1);
    EXPECT_EQ(text_of(none.get()), "Key Attributes: <No Attributes>\nBag Attributes: <Empty Attributes>\n");
    sk_X509_ATTRIBUTE_free(empty_set);
}

TEST(TlsHexPrin, UpperCaseBytesEachFollowedByABlank)
{
    const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    Bio out = mem_bio();
    hex_prin(out.get(), bytes, 4);
    hex_prin(out.get(), bytes, 0);
    hex_prin(out.get(), bytes, -3);
    EXPECT_EQ(text_of(out.get()), "00 0F A0 FF ");
}

TEST(TlsDumpCertText, SubjectThenIssuerLine)
{
    const Pki &pki = Pki::instance();
    Bio out = mem_bio();
    EXPECT_EQ(dump_cert_text(out.get(), pki.server.cert.get()), 0);
    EXPECT_EQ(text_of(out.get()), "subject=/CN=dirext test server\nissuer= /CN=dirext test CA\n");
}

TEST(TlsDumpCertText, NamesStayWithin255Characters)
{
    testsupport::CertSpec spec;
    spec.common_name = std::string(64, 'n');  // CN's upper bound
    testsupport::Credential cert = Pki::instance().issue("long", spec, nullptr);
    // Widen the subject past 255 characters with further name entries.
    X509_NAME *name = X509_get_subject_name(cert.cert.get());
    for (int i = 0; i < 4; ++i)
        X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>(std::string(60, 'o').c_str()), -1, -1, 0);
    Bio out = mem_bio();
    dump_cert_text(out.get(), cert.cert.get());
    std::string text = text_of(out.get());
    std::string subject_line = text.substr(0, text.find('\n'));
    EXPECT_LE(subject_line.size(), std::string("subject=").size() + 255);
    EXPECT_EQ(subject_line.rfind("subject=/CN=nnn", 0), 0u);
}

}  // namespace
