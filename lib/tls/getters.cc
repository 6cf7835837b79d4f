// Reading the certificate under verification, from inside the application's
// certificate callback.  No lock: they touch only the handle they are given.
#include "core/handles.h"
#include "tls/internal.h"

#include <openssl/pem.h>

#include <algorithm>
#include <cstddef>
#include <climits>
#include <cstring>

static_assert(offsetof(ldapssl_validity, not_before) == 0 && offsetof(ldapssl_validity, not_before_kind) == 40 &&
              offsetof(ldapssl_validity, not_after) == 44 && offsetof(ldapssl_validity, not_after_kind) == 84 &&
              sizeof(ldapssl_validity) == 88);

namespace dirext::tls {
namespace {

constexpr int kValiditySize = sizeof(ldapssl_validity);

X509 *current_cert(void *cert_handle)
{
    return X509_STORE_CTX_get_current_cert(static_cast<X509_STORE_CTX *>(cert_handle));
}

// The time's characters, cut at 39, and its kind; an empty time stays zero.
void copy_time(const ASN1_TIME *time, char (&text)[40], int &kind)
{
    if (!time || ASN1_STRING_length(time) <= 0) return;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(ASN1_STRING_length(time)), sizeof text - 1);
    std::memcpy(text, ASN1_STRING_get0_data(time), n);
    kind = ASN1_STRING_type(time) == V_ASN1_GENERALIZEDTIME ? LDAPSSL_TIME_GENERALIZED : LDAPSSL_TIME_UTC;
}

int name_text(X509_NAME *name, void *out, int *len)
{
    OpenSslStringPtr text(X509_NAME_oneline(name, nullptr, 0));
    if (!text) return -1;
    std::size_t n = std::strlen(text.get());
    if (n > INT_MAX) return -1;
    if (!out) {
        *len = static_cast<int>(n);
        return 0;
    }
    if (*len < 0) return -1;
    // strncpy's contract: exactly *len bytes written, zero-filled after the
    // text; a text of *len or more is cut and not terminated.
    std::size_t room = static_cast<std::size_t>(*len);
    std::size_t copied = std::min(n, room);
    std::memcpy(out, text.get(), copied);
    std::memset(static_cast<char *>(out) + copied, 0, room - copied);
    if (n < room) *len = static_cast<int>(n);
    return 0;
}

}  // namespace
}  // namespace dirext::tls

using namespace dirext;
using namespace dirext::tls;

extern "C" int ldapssl_get_cert(void *cert_handle, int format, struct berval *out)
{
    if (!cert_handle || !out) return -1;
    X509 *cert = current_cert(cert_handle);
    if (!cert) return -1;
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return -1;
    int written = 0;
    if (format == LDAPSSL_CERT_OUT_PEM)
        written = PEM_write_bio_X509_AUX(bio.get(), cert);
    else if (format == LDAPSSL_CERT_OUT_DER)
        written = i2d_X509_bio(bio.get(), cert);
    if (written != 1) return -1;

    if (!out->bv_val) {
        out->bv_len = BIO_number_written(bio.get());
        return 0;
    }
    int room = static_cast<int>(std::min<ber_len_t>(out->bv_len, INT_MAX));
    int n = room > 0 ? BIO_read(bio.get(), out->bv_val, room) : 0;
    if (n <= 0) return -1;
    out->bv_len = static_cast<ber_len_t>(n);
    return 0;
}

extern "C" int ldapssl_get_cert_attribute(void *cert_handle, int selector, void *out, int *len)
{
    if (!cert_handle || !len) return -1;
    auto *store_ctx = static_cast<X509_STORE_CTX *>(cert_handle);
    switch (selector) {
    case LDAPSSL_CERT_ISSUER:
    case LDAPSSL_CERT_SUBJECT: {
        X509 *cert = current_cert(store_ctx);
        if (!cert) return -1;
        return name_text(selector == LDAPSSL_CERT_ISSUER ? X509_get_issuer_name(cert) : X509_get_subject_name(cert),
                         out, len);
    }
    case LDAPSSL_CERT_VALIDITY: {
        X509 *cert = current_cert(store_ctx);
        if (!cert) return -1;
        // *len is an output here: the record is fixed at 88 bytes, and the
        // caller's buffer must hold them whatever *len held on the way in.
        *len = kValiditySize;
        if (!out) return 0;
        ldapssl_validity validity{};
        copy_time(X509_get0_notAfter(cert), validity.not_after, validity.not_after_kind);
        copy_time(X509_get0_notBefore(cert), validity.not_before, validity.not_before_kind);
        std::memcpy(out, &validity, sizeof validity);
        return 0;
    }
    case LDAPSSL_CERT_VERIFY_ERROR: {
        if (!out) {
            *len = sizeof(int);
            return 0;
        }
        if (*len != static_cast<int>(sizeof(int))) return -1;
        int error = X509_STORE_CTX_get_error(store_ctx);
        std::memcpy(out, &error, sizeof error);
        return 0;
    }
    default:
        return -1;
    }
}
