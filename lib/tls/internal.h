// Shared by the TLS sources: the g_Sync guard, the C-boundary guard (core),
// the context checks every setter starts with, and the entry points one
// source uses from another.
#pragma once

#include "dirext/common.h"  // reads <ldap.h> the library's way; include it first
#include "dirext/tls.h"

#include "core/boundary.h"

#include <pthread.h>

#include <openssl/x509v3.h>

namespace dirext::tls {

// Holds g_Sync for a scope.
class SyncGuard {
public:
    SyncGuard() { pthread_mutex_lock(&g_Sync); }
    ~SyncGuard() { pthread_mutex_unlock(&g_Sync); }
    SyncGuard(const SyncGuard &) = delete;
    SyncGuard &operator=(const SyncGuard &) = delete;
};

// Makes OpenSSL compute and cache a certificate's extension data now, while
// one thread holds it: verifications on several handshaking threads would
// otherwise fill that cache lazily and race each other inside OpenSSL.
inline void cache_extensions(X509 *cert) { X509_check_purpose(cert, -1, 0); }

// The context, when the library is initialised and has one; else null.
// Caller holds g_Sync.
inline SSL_CTX *current_context() { return g_SSLReg ? g_CryptCtx : nullptr; }

// What pkcs12_BIO_to_clear_BIO does, for the library's own callers: they use
// this, never the exported name, which another definition could stand in for.
BIO *pkcs12_to_clear_bio(BIO *in, const char *password);

}  // namespace dirext::tls
