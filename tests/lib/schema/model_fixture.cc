// The failure seam for the model tests: the schema utility's allocations
// (schema/memory.h) and the library's own (core/alloc.h) count towards the
// allocation that is made to fail.
#include "model_fixture.h"

#include "core/alloc.h"
#include "schema/memory.h"

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
    dirext::schema::set_alloc_fail_hook(nth < 0 ? nullptr : fail_now);
    g_count = 0;
    g_fail_at = nth;
    g_failed = false;
}

bool allocation_failed() { return g_failed; }

}  // namespace schematest
