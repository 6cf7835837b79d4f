// The library's own allocations go through this seam, so that a test can make
// the Nth allocation of any call fail and check the result code and that
// nothing leaked.  (liblber's allocations have their own seam:
// ber_set_option(NULL, LBER_OPT_MEMORY_FNS, ...).)
//
// Memory that callers release with free()/ldapx_memfree() comes from
// dirext::alloc; it is plain malloc memory.
#pragma once

#include <cstddef>

namespace dirext {

void *alloc(std::size_t size);                    // malloc, unless the test hook says fail
void *alloc_zeroed(std::size_t count, std::size_t size);
char *dup_bytes(const char *bytes, std::size_t n);  // n bytes plus a terminator

// Test hook: when set, called before every allocation; returning true makes
// that allocation fail.  Not thread-safe: set it while no other call runs.
using AllocFailHook = bool (*)(std::size_t size);
void set_alloc_fail_hook(AllocFailHook hook);

// Asks the hook about an allocation made elsewhere (core/ber_seam.h): true when it
// is to fail.
bool alloc_fails(std::size_t size);

}  // namespace dirext
