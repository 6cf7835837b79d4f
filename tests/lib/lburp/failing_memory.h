// Allocation failures on demand: fail_from(n) makes the nth allocation from
// now and every later one fail, until stop().  It covers the library's own
// allocations (its allocation seam) and liblber's for an element given a
// memory context with watch(): liblber 2.5 calls the memory functions set
// with LBER_OPT_MEMORY_FNS only for elements that have one, and plain malloc
// for all others.  The functions are installed before main runs, as liblber
// requires.
#pragma once

#include <lber.h>

#include <cstdlib>

#include "core/alloc.h"

namespace failing_memory {

inline long countdown = -1;  // allocations left before failing; -1: never fail
inline bool tripped = false;  // an allocation failed since fail_from()

inline bool fail_now()
{
    if (countdown < 0) return false;
    if (countdown == 0) return tripped = true;
    --countdown;
    return false;
}

inline void *do_malloc(ber_len_t size, void *) { return fail_now() ? nullptr : std::malloc(size ? size : 1); }
inline void *do_calloc(ber_len_t n, ber_len_t size, void *)
{
    return fail_now() ? nullptr : std::calloc(n ? n : 1, size ? size : 1);
}
inline void *do_realloc(void *p, ber_len_t size, void *)
{
    return fail_now() ? nullptr : std::realloc(p, size ? size : 1);
}
inline void do_free(void *p, void *) { std::free(p); }

inline const bool installed = [] {
    static BerMemoryFunctions fns = {do_malloc, do_calloc, do_realloc, do_free};
    ber_set_option(nullptr, LBER_OPT_MEMORY_FNS, &fns);
    dirext::set_alloc_fail_hook([](std::size_t) { return fail_now(); });
    return true;
}();

// Routes the element's own allocations through the failing functions.
inline void watch(BerElement *ber)
{
    static int context;
    void *ctx = &context;
    ber_set_option(ber, LBER_OPT_BER_MEMCTX, &ctx);
}

inline void fail_from(long n)
{
    countdown = n;
    tripped = false;
}
inline void stop() { countdown = -1; }

// Runs call with the 0th, 1st, 2nd ... allocation failing until one run
// needs no failed allocation; check(rc, failed) sees each result.  Returns
// how many runs failed an allocation.
template <typename Call, typename Check>
int sweep(Call call, Check check)
{
    for (long n = 0;; ++n) {
        fail_from(n);
        const int rc = call();
        const bool failed = tripped;
        stop();
        check(rc, failed);
        if (!failed) return int(n);
        if (n > 10000) return -1;
    }
}

}  // namespace failing_memory
