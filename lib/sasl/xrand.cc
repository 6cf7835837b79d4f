// The library's pseudo-random pool: 1023 bytes stirred with MD5, a running
// digest, and an entropy estimate.  Hashing runs outside the library lock on
// local copies; only the index bookkeeping and the folding of the running
// digest happen under it.  Pool bytes are read and written without the lock
// by design, so every access to them is a relaxed atomic one: concurrent
// mixing may lose an XOR, but it is well-defined and invisible to TSan.
#include "sasl/digest.h"
#include "sasl/md5.h"
#include "tls/library_lock.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

namespace dirext::sasl {
namespace {

constexpr int kPoolSize = 1023;
constexpr double kEntropyNeeded = 20.0;
constexpr std::size_t kOsSeedBytes = 32;

struct Pool {
    unsigned char bytes[kPoolSize + 16];  // 16 spare bytes behind the pool
    int pos;                              // 0 <= pos < fill once filled
    int fill;
    unsigned char digest[md5::kDigestSize];
    std::uint64_t counters[2];  // [0] XRAND_bytes calls, [1] blocks mixed by XRAND_add
    double entropy;
    std::atomic<bool> polled;  // written under the lock, read without it
    bool stirred;
};
Pool pool;  // zero at load; guarded by the library lock except bytes and polled

// Set while this thread's XRAND_bytes holds the library lock, so that the
// XRAND_add calls it makes do not lock again.  Per thread: a process-wide flag
// would let another thread's XRAND_add skip the lock meanwhile.
thread_local bool lock_held = false;

// Takes the library lock unless this thread already holds it.
class PoolLock {
public:
    PoolLock() : took_(!lock_held)
    {
        if (took_) library_lock.lock();
    }
    ~PoolLock()
    {
        if (took_) library_lock.unlock();
    }
    PoolLock(const PoolLock &) = delete;
    PoolLock &operator=(const PoolLock &) = delete;

private:
    bool took_;
};

unsigned char load_byte(int i)
{
    return std::atomic_ref<unsigned char>(pool.bytes[i]).load(std::memory_order_relaxed);
}

void xor_byte(int i, unsigned char v)
{
    std::atomic_ref<unsigned char> b(pool.bytes[i]);
    b.store(static_cast<unsigned char>(b.load(std::memory_order_relaxed) ^ v), std::memory_order_relaxed);
}

// n pool bytes from index i, wrapping at wrap.
void read_pool(int i, int n, int wrap, unsigned char *out)
{
    for (int k = 0; k < n; ++k, i = (i + 1) % wrap) out[k] = load_byte(i);
}

void add_seed_value(unsigned seed)
{
    std::srand(seed);
    const int value = std::rand();
    rand_add(&value, sizeof value, 1.0);
}

// 32 bytes of the operating system's randomness: the process facts alone are
// guessable, and so would be the client nonce drawn from them.
void add_os_randomness()
{
    unsigned char seed[kOsSeedBytes];
    std::size_t have = 0;
    while (have < sizeof seed) {
        const ssize_t n = getrandom(seed + have, sizeof seed - have, GRND_NONBLOCK);
        if (n > 0) {
            have += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (have < sizeof seed) {
        const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            while (have < sizeof seed) {
                const ssize_t n = read(fd, seed + have, sizeof seed - have);
                if (n > 0)
                    have += static_cast<std::size_t>(n);
                else if (n == 0 || errno != EINTR)
                    break;
            }
            close(fd);
        }
    }
    if (have) rand_add(seed, static_cast<int>(have), 0.0);  // credit stays with the poll's twenty
    md5::wipe(seed, sizeof seed);
}

}  // namespace

void rand_add(const void *buf, int num, double entropy)
{
    // Nothing to mix: the fold below would cancel the running digest and the
    // credit would be for nothing.
    if (!buf || num <= 0) return;
    const unsigned char *in = static_cast<const unsigned char *>(buf);
    int index;
    std::uint64_t local_counters[2];
    unsigned char local_digest[md5::kDigestSize];
    {
        PoolLock hold;
        index = pool.pos;
        std::memcpy(local_counters, pool.counters, sizeof local_counters);
        std::memcpy(local_digest, pool.digest, sizeof local_digest);
        const long long next = static_cast<long long>(pool.pos) + num;
        if (next >= kPoolSize) {
            pool.pos = static_cast<int>(next % kPoolSize);
            pool.fill = kPoolSize;
        } else {
            pool.pos = static_cast<int>(next);
            if (pool.fill < kPoolSize && pool.pos > pool.fill) pool.fill = pool.pos;
        }
        pool.counters[1] += static_cast<std::uint64_t>(num / 16 + (num % 16 > 0 ? 1 : 0));
    }

    MD5Context m;
    unsigned char mixed[16];
    for (int done = 0; done < num; done += 16) {
        const int j = num - done < 16 ? num - done : 16;
        md5::init(&m);
        md5::update(&m, local_digest, sizeof local_digest);
        read_pool(index, j, kPoolSize, mixed);
        md5::update(&m, mixed, static_cast<std::size_t>(j));
        md5::update(&m, in + done, static_cast<std::size_t>(j));
        md5::update(&m, local_counters, sizeof local_counters);
        md5::final(local_digest, &m);
        ++local_counters[1];
        for (int k = 0; k < j; ++k, index = (index + 1) % kPoolSize) xor_byte(index, local_digest[k]);
    }
    md5::wipe(&m, sizeof m);
    md5::wipe(mixed, sizeof mixed);

    {
        PoolLock hold;
        for (std::size_t k = 0; k < sizeof local_digest; ++k) pool.digest[k] ^= local_digest[k];
        if (pool.entropy < kEntropyNeeded && entropy > 0) pool.entropy += entropy;
    }
    md5::wipe(local_digest, sizeof local_digest);
}

int rand_bytes(unsigned char *buf, int num)
{
    if (num < 0 || (!buf && num > 0)) return LDAP_PARAM_ERROR;
    if (!pool.polled.load(std::memory_order_acquire)) rand_poll();

    int index, fill;
    std::uint64_t local_counters[2];
    unsigned char local_digest[md5::kDigestSize];
    bool ok;
    library_lock.lock();
    lock_held = true;
    pool.polled = true;
    ok = pool.entropy >= kEntropyNeeded;
    if (!ok) {
        pool.entropy -= num;
        if (pool.entropy < 0) pool.entropy = 0;
    }
    if (!pool.stirred) {
        static const char kDummySeed[] = "....................";
        for (int i = 0; i < 64; ++i) rand_add(kDummySeed, 16, 0.0);
        if (ok) pool.stirred = true;
    }
    index = pool.pos;
    fill = pool.fill;  // the stirring above filled the whole pool
    std::memcpy(local_counters, pool.counters, sizeof local_counters);
    std::memcpy(local_digest, pool.digest, sizeof local_digest);
    pool.pos = static_cast<int>((static_cast<long long>(pool.pos) + num) % fill);
    ++pool.counters[0];
    lock_held = false;
    library_lock.unlock();

    MD5Context m;
    unsigned char mixed[8];
    for (int done = 0; done < num; done += 8) {
        const int j = num - done < 8 ? num - done : 8;
        md5::init(&m);
        md5::update(&m, local_digest + 8, 8);
        md5::update(&m, local_counters, sizeof local_counters);
        md5::update(&m, buf + done, static_cast<std::size_t>(j));
        read_pool(index, j, fill, mixed);
        md5::update(&m, mixed, static_cast<std::size_t>(j));
        md5::final(local_digest, &m);
        for (int k = 0; k < j; ++k) {
            xor_byte(index, local_digest[k]);
            index = (index + 1) % fill;
            buf[done + k] = local_digest[k + 8];
        }
    }
    md5::init(&m);
    md5::update(&m, local_counters, sizeof local_counters);
    md5::update(&m, local_digest, sizeof local_digest);
    {
        PoolLock hold;
        md5::update(&m, pool.digest, sizeof pool.digest);
        md5::final(pool.digest, &m);
    }
    md5::wipe(local_digest, sizeof local_digest);
    md5::wipe(mixed, sizeof mixed);
    return ok ? 0 : XRAND_NOT_SEEDED;
}

int rand_poll()
{
    add_seed_value(static_cast<unsigned>(getpid()));
    add_seed_value(static_cast<unsigned>(getuid()));
    for (int i = 0; i < 16; ++i) {
        struct timeval t1, t2;
        gettimeofday(&t1, nullptr);
        gettimeofday(&t2, nullptr);
        add_seed_value(static_cast<unsigned>((t1.tv_sec + t1.tv_usec) ^ (t2.tv_sec + t2.tv_usec)));
    }
    add_seed_value(static_cast<unsigned>(getppid()));
    add_seed_value(static_cast<unsigned>(sysconf(_SC_PAGESIZE)));
    add_os_randomness();
    PoolLock hold;
    pool.polled = true;
    return 1;
}

int rand_status()
{
    if (!pool.polled.load(std::memory_order_acquire)) rand_poll();
    PoolLock hold;
    return pool.entropy >= kEntropyNeeded ? 1 : 0;
}

void rand_cleanup()
{
    PoolLock hold;
    for (int i = 0; i < kPoolSize + 16; ++i)
        std::atomic_ref<unsigned char>(pool.bytes[i]).store(0, std::memory_order_relaxed);
    pool.pos = pool.fill = 0;
    md5::wipe(pool.digest, sizeof pool.digest);
    pool.counters[0] = pool.counters[1] = 0;
    pool.entropy = 0;
    pool.polled = false;
    pool.stirred = false;
}

PoolSnapshot pool_snapshot()
{
    PoolLock hold;
    PoolSnapshot s;
    s.pos = pool.pos;
    s.fill = pool.fill;
    std::memcpy(s.digest, pool.digest, sizeof s.digest);
    s.counters[0] = pool.counters[0];
    s.counters[1] = pool.counters[1];
    s.entropy = pool.entropy;
    s.polled = pool.polled;
    s.stirred = pool.stirred;
    return s;
}

void pool_set_for_testing(bool polled, double entropy)
{
    PoolLock hold;
    pool.polled = polled;
    pool.entropy = entropy;
}

}  // namespace dirext::sasl

extern "C" {

DIREXT_API void XRAND_add(const void *buf, int num, double entropy) { dirext::sasl::rand_add(buf, num, entropy); }
DIREXT_API void XRAND_seed(const void *buf, int num)
{
    dirext::sasl::rand_add(buf, num, static_cast<double>(num));
}
DIREXT_API int XRAND_bytes(unsigned char *buf, int num) { return dirext::sasl::rand_bytes(buf, num); }
DIREXT_API int XRAND_pseudo_bytes(unsigned char *buf, int num) { return dirext::sasl::rand_bytes(buf, num); }
DIREXT_API int XRAND_status(void) { return dirext::sasl::rand_status(); }
DIREXT_API int XRAND_poll(void) { return dirext::sasl::rand_poll(); }
DIREXT_API void XRAND_cleanup(void) { dirext::sasl::rand_cleanup(); }

}  // extern "C"
