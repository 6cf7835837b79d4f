#include "schema/memory.h"

#include <cstring>

namespace dirext::schema {
namespace {
AllocFailHook g_fail_hook = nullptr;
bool fails(std::size_t size) { return g_fail_hook && g_fail_hook(size); }
}  // namespace

void set_alloc_fail_hook(AllocFailHook hook) { g_fail_hook = hook; }

void *mem_alloc(std::size_t size) { return fails(size) ? nullptr : ber_memalloc(size ? size : 1); }

void *mem_calloc(std::size_t count, std::size_t size)
{
    return fails(count * size) ? nullptr : ber_memcalloc(count ? count : 1, size ? size : 1);
}

void *mem_realloc(void *p, std::size_t size) { return fails(size) ? nullptr : ber_memrealloc(p, size ? size : 1); }

char *mem_strdup(const char *s)
{
    if (!s) return nullptr;
    std::size_t n = std::strlen(s) + 1;
    char *copy = static_cast<char *>(mem_alloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

}  // namespace dirext::schema
