// The LBURP update response's failure list, from arbitrary bytes.  A list it
// accepts, written back entry by entry with liblber, must decode to the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lburp/internal.h"

namespace {

struct List {
    int count = -1;  // before rc, which the decoder's call initialises
    LBURPFailedOperation *list = nullptr;
    int rc;
    explicit List(berval value) : rc(dirext::lburp::decode_failure_list(value, &count, &list))
    {
        if (rc != LDAP_SUCCESS && (list || count != -1)) __builtin_trap();  // a failure must leave the outputs alone
        if (rc == LDAP_SUCCESS && !list) count = 0;
    }
    ~List()
    {
        for (int i = 0; i < count && list; ++i) ldap_memfree(list[i].diagnosticMessage);
        ldapx_memfree(list);
    }
};

bool same(const LBURPFailedOperation &a, const LBURPFailedOperation &b)
{
    const char *x = a.diagnosticMessage ? a.diagnosticMessage : "", *y = b.diagnosticMessage ? b.diagnosticMessage : "";
    return a.operationNumber == b.operationNumber && a.resultCode == b.resultCode && std::strcmp(x, y) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // liblber may look at the byte after the last element, which the values
    // libldap hands out always have (a NUL): give the input one too.
    std::string value(reinterpret_cast<const char *>(data), size);
    const List first(berval{size, value.data()});
    if (first.rc != LDAP_SUCCESS) return 0;
    BerElement *ber = ber_alloc_t(LBER_USE_DER);
    for (int i = 0; ber && i < first.count; ++i) {
        const LBURPFailedOperation &f = first.list[i];
        if (ber_printf(ber, "{i{ess}}", f.operationNumber, f.resultCode, "",
                       f.diagnosticMessage ? f.diagnosticMessage : "") == -1)
            std::abort();
    }
    berval bytes{};
    if (!ber || ber_flatten2(ber, &bytes, 0) == -1) std::abort();
    const List again(bytes);
    bool holds = again.rc == LDAP_SUCCESS && again.count == first.count;
    for (int i = 0; holds && i < first.count; ++i) holds = same(first.list[i], again.list[i]);
    ber_free(ber, 1);
    if (!holds) std::abort();
    return 0;
}
