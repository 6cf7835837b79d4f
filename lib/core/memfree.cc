// Release function for plain blocks the library hands to its callers.
#include <cstdlib>

#include "dirext/common.h"

extern "C" void ldapx_memfree(void *p)
{
    std::free(p);  // free(NULL) is a no-op, as callers expect
}
