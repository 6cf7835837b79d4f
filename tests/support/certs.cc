#include "certs.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "paths.h"

namespace testsupport {
namespace {

template <auto Fn>
struct Free {
    template <typename T>
    void operator()(T *p) const { Fn(p); }
};
using BioPtr = std::unique_ptr<BIO, Free<BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Free<X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Free<PKCS12_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Free<X509_EXTENSION_free>>;
using MdPtr = std::unique_ptr<EVP_MD, Free<EVP_MD_free>>;
struct CertStackFree {
    void operator()(STACK_OF(X509) *s) const { sk_X509_free(s); }  // borrowed certificates
};
using CertStackPtr = std::unique_ptr<STACK_OF(X509), CertStackFree>;

[[noreturn]] void fail(const std::string &what)
{
    unsigned long e = ERR_get_error();
    char reason[256] = "";
    if (e) ERR_error_string_n(e, reason, sizeof reason);
    ERR_clear_error();
    throw std::runtime_error("certs: " + what + (e ? std::string(": ") + reason : std::string()));
}

void check(int ok, const char *what)
{
    if (ok <= 0) fail(what);
}

std::string bio_bytes(BIO *bio)
{
    char *data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(n));
}

template <typename Writer>
std::string to_bytes(Writer write, const char *what)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) fail(what);
    check(write(bio.get()), what);
    return bio_bytes(bio.get());
}

std::string oneline(const X509_NAME *name)
{
    char buf[512];
    return X509_NAME_oneline(name, buf, sizeof buf) ? buf : "";
}

PkeyPtr new_key()
{
    PkeyPtr key(EVP_EC_gen("P-256"));
    if (!key) fail("EC key generation");
    return key;
}

void set_time(ASN1_TIME *field, const std::string &absolute, long offset)
{
    if (!absolute.empty())
        check(ASN1_TIME_set_string_X509(field, absolute.c_str()), "certificate time");
    else if (!X509_gmtime_adj(field, offset))
        fail("certificate time");
}

void add_extension(X509 *cert, X509V3_CTX *ctx, int nid, const std::string &value)
{
    ExtPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str()));
    if (!ext) fail("extension " + value);
    check(X509_add_ext(cert, ext.get(), -1), "add extension");
}

}  // namespace

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("certs: cannot write " + path);
}

Credential Pki::issue(const std::string &name, const CertSpec &spec, const Credential *issuer) const
{
    PkeyPtr key = new_key();
    X509Ptr cert(X509_new());
    if (!cert) fail("X509_new");
    check(X509_set_version(cert.get(), 2), "version");

    unsigned char serial[8];
    check(RAND_bytes(serial, sizeof serial), "serial");
    serial[0] &= 0x7f;  // positive
    std::unique_ptr<BIGNUM, Free<BN_free>> bn(BN_bin2bn(serial, sizeof serial, nullptr));
    if (!bn || !BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get()))) fail("serial");

    X509_NAME *subject = X509_get_subject_name(cert.get());
    check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char *>(spec.common_name.c_str()), -1, -1, 0),
          "subject");
    X509 *issuer_cert = issuer ? issuer->cert.get() : cert.get();
    EVP_PKEY *issuer_key = issuer ? issuer->key.get() : key.get();
    check(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer_cert)), "issuer");
    set_time(X509_getm_notBefore(cert.get()), spec.not_before, spec.not_before_offset);
    set_time(X509_getm_notAfter(cert.get()), spec.not_after, spec.not_after_offset);
    check(X509_set_pubkey(cert.get(), key.get()), "public key");

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer_cert, cert.get(), nullptr, nullptr, 0);
    switch (spec.kind) {
    case CertSpec::Kind::ca:
        add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
        add_extension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
        break;
    case CertSpec::Kind::server:
        add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
        add_extension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature,keyAgreement");
        add_extension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth");
        break;
    case CertSpec::Kind::client:
        add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
        add_extension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature,keyAgreement");
        add_extension(cert.get(), &ctx, NID_ext_key_usage, "clientAuth");
        break;
    }
    std::string san;
    for (const std::string &ip : spec.ip_addresses) san += (san.empty() ? "IP:" : ",IP:") + ip;
    for (const std::string &dns : spec.dns_names) san += (san.empty() ? "DNS:" : ",DNS:") + dns;
    if (!san.empty()) add_extension(cert.get(), &ctx, NID_subject_alt_name, san);
    add_extension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    add_extension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(cert.get(), issuer_key, EVP_sha256()) <= 0) fail("sign");

    Credential c;
    c.name = name;
    c.subject = oneline(X509_get_subject_name(cert.get()));
    c.issuer = oneline(X509_get_issuer_name(cert.get()));
    c.cert_pem = to_bytes([&](BIO *b) { return PEM_write_bio_X509(b, cert.get()); }, "certificate PEM");
    c.cert_der = to_bytes([&](BIO *b) { return i2d_X509_bio(b, cert.get()); }, "certificate DER");
    c.key_pem = to_bytes([&](BIO *b) { return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr); },
                         "key PEM");
    c.key_der = to_bytes([&](BIO *b) { return i2d_PKCS8PrivateKey_bio(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr); },
                         "key DER");
    c.key_pem_encrypted = to_bytes(
        [&](BIO *b) {
            return PEM_write_bio_PKCS8PrivateKey(b, key.get(), EVP_aes_256_cbc(), nullptr, 0, nullptr,
                                                 const_cast<char *>(kPassword));
        },
        "encrypted key PEM");

    std::string stem = dir + "/" + name;
    c.cert_pem_path = stem + ".crt.pem";
    c.cert_der_path = stem + ".crt.der";
    c.key_pem_path = stem + ".key.pem";
    c.key_der_path = stem + ".key.der";
    c.key_pem_encrypted_path = stem + ".key.enc.pem";
    c.chain_pem_path = stem + ".chain.pem";
    write_file(c.cert_pem_path, c.cert_pem);
    write_file(c.cert_der_path, c.cert_der);
    write_file(c.key_pem_path, c.key_pem);
    write_file(c.key_der_path, c.key_der);
    write_file(c.key_pem_encrypted_path, c.key_pem_encrypted);
    write_file(c.chain_pem_path, c.cert_pem + (issuer ? issuer->cert_pem : std::string()));

    c.cert.reset(cert.release(), X509_free);
    c.key.reset(key.release(), EVP_PKEY_free);
    return c;
}

namespace {

// OpenSSL 3 has RC2 only in its legacy provider: the legacy bundle is made in
// a private library context, as `openssl pkcs12 -export -legacy` would.
std::string make_pkcs12(const Credential &holder, const Credential &ca, bool legacy)
{
    struct LibCtx {
        OSSL_LIB_CTX *ctx = nullptr;
        OSSL_PROVIDER *def = nullptr, *leg = nullptr;
        ~LibCtx()
        {
            if (leg) OSSL_PROVIDER_unload(leg);
            if (def) OSSL_PROVIDER_unload(def);
            OSSL_LIB_CTX_free(ctx);
        }
    } lib;
    if (legacy) {
        lib.ctx = OSSL_LIB_CTX_new();
        if (!lib.ctx) fail("library context");
        lib.def = OSSL_PROVIDER_load(lib.ctx, "default");
        lib.leg = OSSL_PROVIDER_load(lib.ctx, "legacy");
        if (!lib.def || !lib.leg) fail("legacy provider");
    }
    CertStackPtr cas(sk_X509_new_null());
    if (!cas || !sk_X509_push(cas.get(), ca.cert.get())) fail("CA stack");
    int key_nid = legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : NID_aes_256_cbc;
    int cert_nid = legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : NID_aes_256_cbc;
    Pkcs12Ptr p12(PKCS12_create_ex(Pki::kPassword, "client", holder.key.get(), holder.cert.get(), cas.get(), key_nid,
                                   cert_nid, PKCS12_DEFAULT_ITER, -1, 0, lib.ctx, nullptr));
    if (!p12) fail("PKCS12_create");
    MdPtr md(EVP_MD_fetch(lib.ctx, legacy ? "SHA1" : "SHA256", nullptr));
    if (!md) fail("MAC digest");
    check(PKCS12_set_mac(p12.get(), Pki::kPassword, -1, nullptr, 0, PKCS12_DEFAULT_ITER, md.get()), "MAC");
    return to_bytes([&](BIO *b) { return i2d_PKCS12_bio(b, p12.get()); }, "PKCS#12 DER");
}

}  // namespace

Pki::Pki(const std::string &directory) : dir(directory)
{
    CertSpec ca_spec;
    ca_spec.kind = CertSpec::Kind::ca;
    ca_spec.common_name = "dirext test CA";
    ca_spec.not_after = "20510101000000Z";
    ca = issue("ca", ca_spec, nullptr);

    CertSpec other_ca_spec = ca_spec;
    other_ca_spec.common_name = "dirext other CA";
    other_ca_spec.not_after.clear();
    other_ca_spec.not_after_offset = 365L * 86400;
    other_ca = issue("other_ca", other_ca_spec, nullptr);

    CertSpec server_spec;
    server_spec.kind = CertSpec::Kind::server;
    server_spec.common_name = "dirext test server";
    server_spec.ip_addresses = {"127.0.0.1"};
    server = issue("server", server_spec, &ca);

    CertSpec expired_spec = server_spec;
    expired_spec.not_before_offset = -2L * 86400;
    expired_spec.not_after_offset = -86400;
    expired_server = issue("expired_server", expired_spec, &ca);

    CertSpec other_server_spec = server_spec;
    other_server_spec.common_name = "dirext other server";
    other_server = issue("other_server", other_server_spec, &other_ca);

    CertSpec client_spec;
    client_spec.kind = CertSpec::Kind::client;
    client_spec.common_name = "dirext test client";
    client = issue("client", client_spec, &ca);

    client_p12.bytes = make_pkcs12(client, ca, false);
    client_p12.path = dir + "/client.p12";
    write_file(client_p12.path, client_p12.bytes);
    client_p12_legacy.bytes = make_pkcs12(client, ca, true);
    client_p12_legacy.path = dir + "/client.legacy.p12";
    write_file(client_p12_legacy.path, client_p12_legacy.bytes);

    both_cas_pem_path = dir + "/both_cas.pem";
    write_file(both_cas_pem_path, ca.cert_pem + other_ca.cert_pem);
}

const Pki &Pki::instance()
{
    struct Owned {
        std::string dir = temp_dir("dirext-pki");
        Pki pki{dir};
        ~Owned()
        {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    };
    static Owned owned;
    return owned.pki;
}

}  // namespace testsupport
