// Owning handles for the C resources the library works with, after the
// pattern of bssl::UniquePtr: every resource is released by its owner's
// destructor, so every return path releases what the call allocated.
#pragma once

#include "dirext/common.h"  // reads <ldap.h> the library's way; include it first
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <memory>

namespace dirext {

template <auto Fn>
struct Deleter {
    template <typename T>
    void operator()(T *p) const { Fn(p); }
};

struct BerFreeAll {  // frees the encoder's or decoder's buffer as well
    void operator()(BerElement *b) const { ber_free(b, 1); }
};

using BerPtr = std::unique_ptr<BerElement, BerFreeAll>;

// An element over bytes it does not own (a reader over a caller's buffer, or
// ldap_first_attribute's cursor into a message): the bytes stay.
struct BerFreeElementOnly {
    void operator()(BerElement *b) const { ber_free(b, 0); }
};
using BerViewPtr = std::unique_ptr<BerElement, BerFreeElementOnly>;

using BervalPtr = std::unique_ptr<struct berval, Deleter<ber_bvfree>>;
using LdapStringPtr = std::unique_ptr<char, Deleter<ldap_memfree>>;
using LdapValuesPtr = std::unique_ptr<char *, Deleter<ldap_value_free>>;
using LdapValuesLenPtr = std::unique_ptr<struct berval *, Deleter<ldap_value_free_len>>;
using MessagePtr = std::unique_ptr<LDAPMessage, Deleter<ldap_msgfree>>;
using UrlDescPtr = std::unique_ptr<LDAPURLDesc, Deleter<ldap_free_urldesc>>;

using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12_free>>;
using Pkcs8InfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO_free>>;

// Stacks own their elements: pop_free releases both.
struct Pkcs7StackFree {
    void operator()(STACK_OF(PKCS7) *s) const { sk_PKCS7_pop_free(s, PKCS7_free); }
};
struct SafeBagStackFree {
    void operator()(STACK_OF(PKCS12_SAFEBAG) *s) const { sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free); }
};
using Pkcs7StackPtr = std::unique_ptr<STACK_OF(PKCS7), Pkcs7StackFree>;
using SafeBagStackPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagStackFree>;

struct StdFree {  // malloc memory, as callers release with free or ldapx_memfree
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, StdFree>;

struct OpenSslFree {  // OPENSSL_free is a macro
    void operator()(void *p) const { OPENSSL_free(p); }
};
using OpenSslStringPtr = std::unique_ptr<char, OpenSslFree>;

// liblber's allocator: memory that callers release with ber_memfree,
// ldap_memfree or ldap_value_free (the schema utility's records and lists).
template <typename T>
using BerMemPtr = std::unique_ptr<T, Deleter<ber_memfree>>;
struct BerMemvFree {  // a null-terminated array together with its entries
    void operator()(char **list) const { ber_memvfree(reinterpret_cast<void **>(list)); }
};
using BerStringListPtr = std::unique_ptr<char *, BerMemvFree>;

}  // namespace dirext
