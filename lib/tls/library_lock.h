// The library lock (CRYPTO_w_lock / CRYPTO_w_unlock) for C++ callers inside
// the library, such as the random pool: a BasicLockable, so
//     std::lock_guard<dirext::LibraryLock> hold(dirext::library_lock);
#pragma once

#include "dirext.h"

namespace dirext {

struct LibraryLock {
    void lock() { CRYPTO_w_lock(0); }
    void unlock() { CRYPTO_w_unlock(0); }
};

inline LibraryLock library_lock;

}  // namespace dirext
