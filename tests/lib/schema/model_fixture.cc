// The failure seam for the model tests: every allocation of the library
// (core/alloc.h's hook, which the schema utility's allocator asks too) counts
// towards the allocation that is made to fail.
#include "model_fixture.h"

#include "core/alloc.h"

namespace schematest {
namespace {

long g_count = 0;
long g_fail_at = -1;
bool g_failed = false;

bool fail_now(std::size_t)
{
    if (g_fail_at < 0 || g_count++ != g_fail_at) return false;
    g_failed = true;
    return true;
}

}  // namespace

void fail_allocation(long nth)
{
    dirext::set_alloc_fail_hook(nth < 0 ? nullptr : fail_now);
    g_count = 0;
    g_fail_at = nth;
    g_failed = false;
}

bool allocation_failed() { return g_failed; }

}  // namespace schematest
