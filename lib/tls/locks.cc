// The mutex table behind OpenSSL's 1.0-style locking callback, and the
// library lock that the random pool uses.
//
// OpenSSL 1.1 and later lock internally: CRYPTO_set_locking_callback and
// CRYPTO_set_id_callback are no-op macros there.  The table and LockCallback
// stay for applications that call them directly.
#include "tls/internal.h"
#include "tls/library_lock.h"

#include <pthread.h>

extern "C" {
// Zero is PTHREAD_MUTEX_INITIALIZER on glibc, so the table is usable (as
// plain mutexes) even before LockInit.
pthread_mutex_t g_Locks[LDAPSSL_NUM_LOCKS];
}

namespace {

pthread_mutex_t library_mutex = PTHREAD_MUTEX_INITIALIZER;

[[maybe_unused]] unsigned long thread_id()
{
    return static_cast<unsigned long>(pthread_self());
}

}  // namespace

namespace dirext::tls {

void lock_library() { pthread_mutex_lock(&library_mutex); }

void unlock_library() { pthread_mutex_unlock(&library_mutex); }

}  // namespace dirext::tls

extern "C" void LockInit(void)
{
    // Error-checking mutexes: an unlock from a thread that does not hold the
    // lock fails instead of corrupting it.
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    for (pthread_mutex_t &m : g_Locks) pthread_mutex_init(&m, &attr);
    pthread_mutexattr_destroy(&attr);
    CRYPTO_set_id_callback(thread_id);
    CRYPTO_set_locking_callback(LockCallback);
}

extern "C" void LockCallback(int mode, int n, const char * /*file*/, int /*line*/)
{
    if (n < 0 || n >= LDAPSSL_NUM_LOCKS) return;
    if (mode & CRYPTO_LOCK)
        pthread_mutex_lock(&g_Locks[n]);
    else
        pthread_mutex_unlock(&g_Locks[n]);
}

extern "C" void LockCleanUp(void)
{
    // A mutex somebody holds cannot be destroyed safely (nor unlocked by us):
    // leave it as it is.
    for (pthread_mutex_t &m : g_Locks) {
        if (pthread_mutex_trylock(&m) != 0) continue;
        pthread_mutex_unlock(&m);
        pthread_mutex_destroy(&m);
    }
}

extern "C" void CRYPTO_thread_setup(void) {}

extern "C" void CRYPTO_thread_cleanup(void)
{
    // Destroyed and made anew, so that a later CRYPTO_w_lock still works.
    if (pthread_mutex_trylock(&library_mutex) != 0) return;
    pthread_mutex_unlock(&library_mutex);
    pthread_mutex_destroy(&library_mutex);
    pthread_mutex_init(&library_mutex, nullptr);
}

extern "C" void CRYPTO_w_lock(int /*type*/)
{
    dirext::tls::lock_library();
}

extern "C" void CRYPTO_w_unlock(int /*type*/)
{
    dirext::tls::unlock_library();
}
