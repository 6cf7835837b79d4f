// PKCS#12 bundles to clear PEM text, from which the client certificate and
// key are then read like any PEM source.
//
// Bundles from older tools (and `openssl pkcs12 -export -legacy`) encrypt
// with RC2-40 or 3DES; OpenSSL 3 has RC2 only in its legacy provider, and
// loading a provider into the default library context would change the
// application's set-up.  So decryption runs in a private library context
// with the default and legacy providers.
#include "core/handles.h"
#include "tls/internal.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/provider.h>

#include <climits>
#include <cstring>
#include <string>

namespace dirext::tls {
namespace {

class Pkcs12LibraryContext {
public:
    Pkcs12LibraryContext()
    {
        ctx_ = OSSL_LIB_CTX_new();
        if (!ctx_) return;
        default_ = OSSL_PROVIDER_load(ctx_, "default");
        legacy_ = OSSL_PROVIDER_load(ctx_, "legacy");  // may be absent: then only current bundles
        ERR_clear_error();
    }
    ~Pkcs12LibraryContext()
    {
        if (legacy_) OSSL_PROVIDER_unload(legacy_);
        if (default_) OSSL_PROVIDER_unload(default_);
        OSSL_LIB_CTX_free(ctx_);
    }
    Pkcs12LibraryContext(const Pkcs12LibraryContext &) = delete;
    Pkcs12LibraryContext &operator=(const Pkcs12LibraryContext &) = delete;

    // Null (OpenSSL's default context) if the private one could not be made.
    OSSL_LIB_CTX *get() const { return default_ ? ctx_ : nullptr; }

private:
    OSSL_LIB_CTX *ctx_ = nullptr;
    OSSL_PROVIDER *default_ = nullptr;
    OSSL_PROVIDER *legacy_ = nullptr;
};

OSSL_LIB_CTX *libctx()
{
    static Pkcs12LibraryContext instance;  // for the process's lifetime
    return instance.get();
}

// A null password is "no password" to PKCS#12, distinct from "".
bool password_length(const char *password, int *length)
{
    std::size_t n = password ? std::strlen(password) : 0;
    if (n > INT_MAX) return false;
    *length = static_cast<int>(n);
    return true;
}

// PKCS12_unpack_p7encdata without the _ex variant decrypts in the default
// library context; this is the same over the private one.
STACK_OF(PKCS12_SAFEBAG) *decrypt_bags(PKCS7 *p7, const char *password)
{
    int length;
    if (!password_length(password, &length)) return nullptr;
    if (!PKCS7_type_is_encrypted(p7) || !p7->d.encrypted || !p7->d.encrypted->enc_data) return nullptr;
    PKCS7_ENC_CONTENT *content = p7->d.encrypted->enc_data;
    if (!content->algorithm || !content->enc_data) return nullptr;
    return static_cast<STACK_OF(PKCS12_SAFEBAG) *>(
        PKCS12_item_decrypt_d2i_ex(content->algorithm, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password, length,
                                   content->enc_data, 1, libctx(), nullptr));
}

// The attribute's type: its long name, or its dotted identifier.
std::string attribute_name(const ASN1_OBJECT *object)
{
    int nid = OBJ_obj2nid(object);
    const char *name = nid != NID_undef ? OBJ_nid2ln(nid) : nullptr;
    if (name) return name;
    int n = OBJ_obj2txt(nullptr, 0, object, 1);
    if (n <= 0) return {};
    std::string dotted(static_cast<std::size_t>(n) + 1, '\0');
    OBJ_obj2txt(dotted.data(), n + 1, object, 1);
    dotted.resize(static_cast<std::size_t>(n));
    return dotted;
}

// hex_prin: the bytes as upper-case hex pairs, each followed by a space.
void print_hex(BIO *out, const unsigned char *bytes, int len)
{
    if (!out || !bytes) return;
    for (int i = 0; i < len; ++i) BIO_printf(out, "%02X ", bytes[i]);
}

// dump_cert_text: the certificate's subject and issuer lines.
int print_cert_names(BIO *out, X509 *cert)
{
    if (!out || !cert) return 0;
    char subject[256], issuer[256];  // the one-line form, cut at 255 characters
    if (!X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject)) subject[0] = '\0';
    if (!X509_NAME_oneline(X509_get_issuer_name(cert), issuer, sizeof issuer)) issuer[0] = '\0';
    BIO_printf(out, "subject=%s\nissuer= %s\n", subject, issuer);
    return 0;
}

// print_attribs: the named attribute list, the first value of each.
int print_attributes(BIO *out, const STACK_OF(X509_ATTRIBUTE) *attributes, const char *name)
{
    if (!out) return 1;
    if (!name) name = "";
    if (!attributes) {
        BIO_printf(out, "%s: <No Attributes>\n", name);
        return 1;
    }
    if (sk_X509_ATTRIBUTE_num(attributes) == 0) {
        BIO_printf(out, "%s: <Empty Attributes>\n", name);
        return 1;
    }
    guard(0, [&] {
        BIO_printf(out, "%s\n", name);
        for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
            X509_ATTRIBUTE *attribute = sk_X509_ATTRIBUTE_value(attributes, i);
            BIO_printf(out, "    %s: ", attribute_name(X509_ATTRIBUTE_get0_object(attribute)).c_str());
            if (X509_ATTRIBUTE_count(attribute) == 0) {
                BIO_puts(out, "<No Values>\n");
                continue;
            }
            const ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(attribute, 0);  // the first value only
            switch (value->type) {
            case V_ASN1_BMPSTRING: {
                const ASN1_STRING *s = value->value.bmpstring;
                OpenSslStringPtr text(OPENSSL_uni2asc(s->data, s->length));
                BIO_printf(out, "%s\n", text ? text.get() : "");
                break;
            }
            case V_ASN1_OCTET_STRING:
            case V_ASN1_BIT_STRING:
                print_hex(out, value->value.asn1_string->data, value->value.asn1_string->length);
                BIO_puts(out, "\n");
                break;
            default:
                BIO_printf(out, "<Unsupported tag %d>\n", value->type);
            }
        }
        return 0;
    });
    return 1;
}

// "Key Attributes" and the key as unencrypted PEM.
int write_key(BIO *out, const PKCS8_PRIV_KEY_INFO *p8)
{
    PkeyPtr key(EVP_PKCS82PKEY_ex(p8, libctx(), nullptr));
    if (!key) return 0;
    print_attributes(out, PKCS8_pkey_get0_attrs(p8), "Key Attributes");
    return PEM_write_bio_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 ? 1 : 0;
}

int dump_bags(BIO *out, const STACK_OF(PKCS12_SAFEBAG) *bags, const char *password);

// dump_certs_pkeys_bag: one bag as PEM text, a nested bag list included.
int dump_bag(BIO *out, const PKCS12_SAFEBAG *bag, const char *password)
{
    if (!out || !bag) return 0;
    return guard(0, [&] {
        const STACK_OF(X509_ATTRIBUTE) *attributes = PKCS12_SAFEBAG_get0_attrs(bag);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_keyBag:
            print_attributes(out, attributes, "Bag Attributes");
            return write_key(out, PKCS12_SAFEBAG_get0_p8inf(bag));
        case NID_pkcs8ShroudedKeyBag: {
            print_attributes(out, attributes, "Bag Attributes");
            int length;
            if (!password_length(password, &length)) return 0;
            Pkcs8InfoPtr p8(PKCS12_decrypt_skey_ex(bag, password, length, libctx(), nullptr));
            return p8 ? write_key(out, p8.get()) : 0;
        }
        case NID_certBag: {
            print_attributes(out, attributes, "Bag Attributes");
            if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) return 1;
            X509Ptr cert(PKCS12_SAFEBAG_get1_cert(bag));
            if (!cert) return 0;
            print_cert_names(out, cert.get());
            return PEM_write_bio_X509(out, cert.get()) == 1 ? 1 : 0;
        }
        case NID_safeContentsBag:
            print_attributes(out, attributes, "Bag Attributes");
            return dump_bags(out, PKCS12_SAFEBAG_get0_safes(bag), password);
        default:
            return 1;
        }
    });
}

// dump_certs_pkeys_bags: every bag of the list, in order.
int dump_bags(BIO *out, const STACK_OF(PKCS12_SAFEBAG) *bags, const char *password)
{
    if (!out || !bags) return 0;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i)
        if (!dump_bag(out, sk_PKCS12_SAFEBAG_value(bags, i), password)) return 0;
    return 1;
}

// dump_certs_keys_p12: the bags of every safe of the bundle.
int dump_bundle(BIO *out, PKCS12 *p12, const char *password)
{
    if (!out || !p12) return 0;
    return guard(0, [&] {
        Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
        if (!safes) return 0;
        for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
            PKCS7 *p7 = sk_PKCS7_value(safes.get(), i);
            SafeBagStackPtr bags;
            switch (OBJ_obj2nid(p7->type)) {
            case NID_pkcs7_data:
                bags.reset(PKCS12_unpack_p7data(p7));
                break;
            case NID_pkcs7_encrypted:
                bags.reset(decrypt_bags(p7, password));
                break;
            default:
                continue;
            }
            if (!bags || !dump_bags(out, bags.get(), password)) return 0;
        }
        return 1;
    });
}

// dump_certs_keys_buf: the DER bundle read from `in`.
int dump_bundle_bio(BIO *out, BIO *in, const char *password)
{
    if (!out || !in) return 0;
    OPENSSL_add_all_algorithms_noconf();
    Pkcs12Ptr p12(d2i_PKCS12_bio(in, nullptr));
    if (!p12) return 0;
    // The bundle's MAC is not verified: a wrong password shows in the
    // decryption, and the contents are the caller's own.
    return dump_bundle(out, p12.get(), password) ? 1 : 0;
}

}  // namespace

BIO *pkcs12_to_clear_bio(BIO *in, const char *password)
{
    return guard(static_cast<BIO *>(nullptr), [&]() -> BIO * {
        BioPtr clear(BIO_new(BIO_s_mem()));
        if (!clear || !dump_bundle_bio(clear.get(), in, password)) return nullptr;
        return clear.release();
    });
}

}  // namespace dirext::tls

using namespace dirext;
using namespace dirext::tls;

extern "C" BIO *pkcs12_BIO_to_clear_BIO(BIO *in, const char *password)
{
    return pkcs12_to_clear_bio(in, password);
}

extern "C" int dump_certs_keys_buf(BIO *out, BIO *in, const char *password)
{
    return dump_bundle_bio(out, in, password);
}

extern "C" int dump_certs_keys_p12(BIO *out, PKCS12 *p12, const char *password)
{
    return dump_bundle(out, p12, password);
}

extern "C" int dump_certs_pkeys_bags(BIO *out, const STACK_OF(PKCS12_SAFEBAG) *bags, const char *password)
{
    return dump_bags(out, bags, password);
}

extern "C" int dump_certs_pkeys_bag(BIO *out, const PKCS12_SAFEBAG *bag, const char *password)
{
    return dump_bag(out, bag, password);
}

extern "C" int print_attribs(BIO *out, const STACK_OF(X509_ATTRIBUTE) *attributes, const char *name)
{
    return print_attributes(out, attributes, name);
}

extern "C" void hex_prin(BIO *out, const unsigned char *bytes, int len)
{
    print_hex(out, bytes, len);
}

extern "C" int dump_cert_text(BIO *out, X509 *cert)
{
    return print_cert_names(out, cert);
}
