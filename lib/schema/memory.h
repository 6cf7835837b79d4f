// Allocation for the schema utility.  Records, lists and strings handed to
// callers come from liblber's allocator, as libldap's do, so that either
// library's free functions (and ldap_value_free / ldap_memfree) release them.
// Each allocation asks the library's failure hook first (core/alloc.h), so
// that tests fail the Nth allocation of a call here as everywhere else.
#pragma once

#include <lber.h>

#include <cstddef>

namespace dirext::schema {

void *mem_alloc(std::size_t size);
void *mem_calloc(std::size_t count, std::size_t size);
void *mem_realloc(void *p, std::size_t size);
char *mem_strdup(const char *s);  // null for null

}  // namespace dirext::schema
