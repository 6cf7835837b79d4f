// Allocation for the schema utility.  Records, lists and strings handed to
// callers come from liblber's allocator, as libldap's do, so that either
// library's free functions (and ldap_value_free / ldap_memfree) release them;
// these wrappers add the failure seam that tests use to fail the Nth
// allocation of a call (liblber's own replaceable memory functions serve only
// allocations with a memory context, which ber_memalloc does not pass).
#pragma once

#include "core/alloc.h"

#include <lber.h>

#include <cstddef>

namespace dirext::schema {

void *mem_alloc(std::size_t size);
void *mem_calloc(std::size_t count, std::size_t size);
void *mem_realloc(void *p, std::size_t size);
char *mem_strdup(const char *s);  // null for null

// Test hook: when set, called before every allocation above; returning true
// makes that allocation fail.  Not thread-safe.
void set_alloc_fail_hook(AllocFailHook hook);

}  // namespace dirext::schema
