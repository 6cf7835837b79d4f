// Trusted certificates and the client's own certificate and key, added to
// the process-wide context.
#include "core/handles.h"
#include "tls/internal.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <climits>
#include <cstring>

namespace dirext::tls {
namespace {

bool latest_error_is(int lib, int reason)
{
    unsigned long e = ERR_peek_last_error();
    return e != 0 && ERR_GET_LIB(e) == lib && ERR_GET_REASON(e) == reason;
}

// file_to_BIO: the file opened for reading.
BIO *open_file_bio(const char *path)
{
    if (!path) return nullptr;
    BioPtr bio(BIO_new(BIO_s_file()));
    if (!bio || BIO_read_filename(bio.get(), path) <= 0) return nullptr;
    return bio.release();
}

// add_cert: the certificate added to the context's trust store.
int add_cert_to_context(X509 *cert)
{
    if (!g_CryptCtx || !cert) return -1;
    cache_extensions(cert);
    ERR_clear_error();
    if (X509_STORE_add_cert(SSL_CTX_get_cert_store(g_CryptCtx), cert) == 1) return 0;
    // A certificate the store already holds is not an error.
    if (latest_error_is(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE)) {
        ERR_clear_error();
        return 0;
    }
    return -1;
}

bool is_file_type(int type)
{
    return type == LDAPSSL_CERT_FILE_PEM || type == LDAPSSL_CERT_FILE_DER || type == LDAPSSL_CERT_FILE_PKCS12;
}

// A BIO over the source: the file for FILE types, the berval's bytes (not
// copied) for BUFFER types.
BioPtr source_bio(const void *source, int type)
{
    if (is_file_type(type)) return BioPtr(open_file_bio(static_cast<const char *>(source)));
    const auto *bv = static_cast<const struct berval *>(source);
    if (!bv->bv_val || bv->bv_len > INT_MAX) return nullptr;
    return BioPtr(BIO_new_mem_buf(bv->bv_val, static_cast<int>(bv->bv_len)));
}

// Pass-phrase callback for every PEM read: the given password or nothing.
// OpenSSL's default would prompt on the terminal, and a library must not.
int passphrase(char *buf, int size, int /*rwflag*/, void *password)
{
    if (!password || size <= 0) return -1;
    std::size_t n = std::strlen(static_cast<const char *>(password));
    if (n > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buf, password, n);
    return static_cast<int>(n);
}

// Every certificate of a PEM source, in order.  The read that ends the loop
// must be "no start line" (the end of the data) after at least one added.
int add_pem_certs(BIO *bio)
{
    int added = 0;
    for (;;) {
        ERR_clear_error();
        X509Ptr cert(PEM_read_bio_X509_AUX(bio, nullptr, passphrase, nullptr));
        if (!cert) break;
        if (add_cert_to_context(cert.get()) != 0) return -1;
        ++added;
    }
    if (added > 0 && latest_error_is(ERR_LIB_PEM, PEM_R_NO_START_LINE)) {
        ERR_clear_error();
        return 0;
    }
    return -1;
}

// Installs the context's pass-phrase callback and password for one call.
class PassphraseScope {
public:
    PassphraseScope(SSL_CTX *ctx, const char *password) : ctx_(ctx)
    {
        SSL_CTX_set_default_passwd_cb(ctx_, passphrase);
        SSL_CTX_set_default_passwd_cb_userdata(ctx_, const_cast<char *>(password));
    }
    ~PassphraseScope()
    {
        SSL_CTX_set_default_passwd_cb_userdata(ctx_, nullptr);
        SSL_CTX_set_default_passwd_cb(ctx_, nullptr);
    }
    PassphraseScope(const PassphraseScope &) = delete;
    PassphraseScope &operator=(const PassphraseScope &) = delete;

private:
    SSL_CTX *ctx_;
};

// The PEM text a source stands for: the source itself (PEM buffer) or the
// clear text of its PKCS#12 bundle.
BioPtr pem_bio(const void *source, int type, const char *password)
{
    BioPtr bio = source_bio(source, type);
    if (!bio || type == LDAPSSL_CERT_BUFFER_PEM) return bio;
    return BioPtr(pkcs12_to_clear_bio(bio.get(), password));
}

bool install_cert(SSL_CTX *ctx, const void *source, int type, const char *password)
{
    switch (type) {
    case LDAPSSL_CERT_FILE_PEM:
        return SSL_CTX_use_certificate_file(ctx, static_cast<const char *>(source), SSL_FILETYPE_PEM) == 1;
    case LDAPSSL_CERT_FILE_DER:
        return SSL_CTX_use_certificate_file(ctx, static_cast<const char *>(source), SSL_FILETYPE_ASN1) == 1;
    case LDAPSSL_CERT_BUFFER_DER: {
        const auto *bv = static_cast<const struct berval *>(source);
        if (!bv->bv_val || bv->bv_len > INT_MAX) return false;
        return SSL_CTX_use_certificate_ASN1(ctx, static_cast<int>(bv->bv_len),
                                            reinterpret_cast<const unsigned char *>(bv->bv_val)) == 1;
    }
    case LDAPSSL_CERT_BUFFER_PEM:
    case LDAPSSL_CERT_FILE_PKCS12:
    case LDAPSSL_CERT_BUFFER_PKCS12: {
        BioPtr pem = pem_bio(source, type, password);
        if (!pem) return false;
        X509Ptr cert(PEM_read_bio_X509(pem.get(), nullptr, passphrase, const_cast<char *>(password)));
        return cert && SSL_CTX_use_certificate(ctx, cert.get()) == 1;
    }
    default:
        return false;
    }
}

bool install_key(SSL_CTX *ctx, const void *source, int type, const char *password)
{
    switch (type) {
    case LDAPSSL_CERT_FILE_PEM:
        return SSL_CTX_use_PrivateKey_file(ctx, static_cast<const char *>(source), SSL_FILETYPE_PEM) == 1;
    case LDAPSSL_CERT_BUFFER_PEM:
    case LDAPSSL_CERT_FILE_PKCS12:
    case LDAPSSL_CERT_BUFFER_PKCS12: {
        BioPtr pem = pem_bio(source, type, password);
        if (!pem) return false;
        PkeyPtr key(PEM_read_bio_PrivateKey(pem.get(), nullptr, passphrase, const_cast<char *>(password)));
        return key && SSL_CTX_use_PrivateKey(ctx, key.get()) == 1;
    }
    default:
        return false;  // a DER key has no type code of its own
    }
}

using Installer = bool (*)(SSL_CTX *, const void *, int, const char *);

int set_client_item(Installer install, const void *source, int type, const char *password)
{
    if (!source) return LDAP_PARAM_ERROR;
    return guard(1, [&] {
        SyncGuard hold;
        SSL_CTX *ctx = current_context();
        if (!ctx) return 1;
        PassphraseScope scope(ctx, password);
        return install(ctx, source, type, password) ? 0 : 1;
    });
}

}  // namespace
}  // namespace dirext::tls

using namespace dirext;
using namespace dirext::tls;

extern "C" int ldapssl_add_trusted_cert(const void *source, int type)
{
    if (!source) return -1;
    return guard(-1, [&] {
        SyncGuard hold;
        if (!current_context()) return -1;
        if (type < LDAPSSL_CERT_FILE_PEM || type > LDAPSSL_CERT_BUFFER_DER) return -1;
        BioPtr bio = source_bio(source, type);
        if (!bio) return -1;
        if (type == LDAPSSL_CERT_FILE_PEM || type == LDAPSSL_CERT_BUFFER_PEM) return add_pem_certs(bio.get());
        ERR_clear_error();
        X509Ptr cert(d2i_X509_bio(bio.get(), nullptr));
        return cert ? add_cert_to_context(cert.get()) : -1;
    });
}

extern "C" int ldapssl_set_client_cert(const void *source, int type, const char *password)
{
    return set_client_item(install_cert, source, type, password);
}

extern "C" int ldapssl_set_client_private_key(const void *source, int type, const char *password)
{
    return set_client_item(install_key, source, type, password);
}

extern "C" int add_cert(X509 *cert)
{
    return add_cert_to_context(cert);
}

extern "C" BIO *file_to_BIO(const char *path)
{
    return open_file_bio(path);
}
