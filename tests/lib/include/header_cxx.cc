// The public header must also compile as C++, with C linkage for its names.
#include <dirext.h>

#include <cstdlib>
#include <type_traits>

static_assert(std::is_same_v<decltype(&ldapx_memfree), void (*)(void *)>);

int main()
{
    ldapx_memfree(nullptr);
    ldapx_memfree(std::malloc(16));
    return 0;
}
