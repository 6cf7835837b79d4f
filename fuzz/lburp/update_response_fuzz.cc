// The LBURP update response's failure list, from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "lburp/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    berval value{size, const_cast<char *>(reinterpret_cast<const char *>(data))};
    int count = -1;
    LBURPFailedOperation *list = nullptr;
    const int rc = dirext::lburp::decode_failure_list(value, &count, &list);
    if (rc == LDAP_SUCCESS) {
        for (int i = 0; i < count && list; ++i) ldap_memfree(list[i].diagnosticMessage);
        ldapx_memfree(list);
    } else if (list || count != -1) {
        __builtin_trap();  // a failure must leave the outputs alone
    }
    return 0;
}
