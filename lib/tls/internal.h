// Shared by the TLS sources: the g_Sync guard, the C-boundary wrapper and
// the context checks every setter starts with.
#pragma once

#include <pthread.h>

#include <exception>
#include <utility>

#include "dirext.h"

namespace dirext::tls {

// Holds g_Sync for a scope.
class SyncGuard {
public:
    SyncGuard() { pthread_mutex_lock(&g_Sync); }
    ~SyncGuard() { pthread_mutex_unlock(&g_Sync); }
    SyncGuard(const SyncGuard &) = delete;
    SyncGuard &operator=(const SyncGuard &) = delete;
};

// Runs body and turns any exception (std::bad_alloc in practice) into the
// function's failure code: nothing may unwind into a C caller.
template <typename Body>
auto c_boundary(decltype(std::declval<Body>()()) failure, Body &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// The context, when the library is initialised and has one; else null.
// Caller holds g_Sync.
inline SSL_CTX *current_context() { return g_SSLReg ? g_CryptCtx : nullptr; }

}  // namespace dirext::tls
