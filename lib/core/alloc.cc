#include "core/alloc.h"

#include <cstdlib>
#include <cstring>

namespace dirext {
namespace {
AllocFailHook g_fail_hook = nullptr;
}

void set_alloc_fail_hook(AllocFailHook hook) { g_fail_hook = hook; }

bool alloc_fails(std::size_t size) { return g_fail_hook && g_fail_hook(size); }

void *alloc(std::size_t size)
{
    if (alloc_fails(size)) return nullptr;
    return std::malloc(size ? size : 1);
}

void *alloc_zeroed(std::size_t count, std::size_t size)
{
    if (alloc_fails(count * size)) return nullptr;
    return std::calloc(count ? count : 1, size ? size : 1);
}

char *dup_bytes(const char *bytes, std::size_t n)
{
    char *copy = static_cast<char *>(alloc(n + 1));
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, bytes, n);
    copy[n] = '\0';
    return copy;
}

}  // namespace dirext
