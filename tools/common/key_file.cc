#include "key_file.h"

#include <dirext/tls.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace toolkit {
namespace {
struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
}  // namespace

int key_file_type(const char *path)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(path, "r"));
    if (!bio) return -1;
    if (std::unique_ptr<X509, X509Free>(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)))
        return LDAPSSL_CERT_FILE_PEM;
    if (BIO_seek(bio.get(), 0) != 0) return -1;
    if (std::unique_ptr<X509, X509Free>(d2i_X509_bio(bio.get(), nullptr))) return LDAPSSL_CERT_FILE_DER;
    return -1;
}

}  // namespace toolkit
