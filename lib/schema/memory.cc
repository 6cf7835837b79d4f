#include "schema/memory.h"

#include "core/alloc.h"

#include <cstring>

namespace dirext::schema {

void *mem_alloc(std::size_t size) { return alloc_fails(size) ? nullptr : ber_memalloc(size ? size : 1); }

void *mem_calloc(std::size_t count, std::size_t size)
{
    return alloc_fails(count * size) ? nullptr : ber_memcalloc(count ? count : 1, size ? size : 1);
}

void *mem_realloc(void *p, std::size_t size)
{
    return alloc_fails(size) ? nullptr : ber_memrealloc(p, size ? size : 1);
}

char *mem_strdup(const char *s)
{
    if (!s) return nullptr;
    std::size_t n = std::strlen(s) + 1;
    char *copy = static_cast<char *>(mem_alloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

}  // namespace dirext::schema
