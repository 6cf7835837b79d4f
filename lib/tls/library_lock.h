// The library lock (CRYPTO_w_lock / CRYPTO_w_unlock) for C++ callers inside
// the library, such as the random pool: a BasicLockable, so
//     std::lock_guard<dirext::LibraryLock> hold(dirext::library_lock);
// It takes the lock directly, not through the exported names, which another
// definition in the process could stand in for.
#pragma once

namespace dirext {

namespace tls {
void lock_library();
void unlock_library();
}  // namespace tls

struct LibraryLock {
    void lock() { tls::lock_library(); }
    void unlock() { tls::unlock_library(); }
};

inline LibraryLock library_lock;

}  // namespace dirext
