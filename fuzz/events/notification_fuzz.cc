// A notification value as a whole: the head, then the body through the
// dispatch by its tag and the decoder it selects, then the trailing address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "events/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // As libldap delivers a value: a copy with a terminating NUL.  liblber
    // looks at the byte behind every element it steps over.
    std::string copy(reinterpret_cast<const char *>(data), size);
    struct berval value;
    value.bv_val = copy.data();
    value.bv_len = size;
    int type = 0, result = 0;
    void *record = nullptr;
    NetAddrEventData *address = nullptr;
    int rc = dirext::events::parse_event_value(&value, &type, &result, &record, &address);
    if (rc != LDAP_SUCCESS && address) __builtin_trap();  // a failed event leaves no address
    ldap_event_free(record);
    ldap_event_free(address);
    // Only the head, as a caller without eventData asks for it.
    dirext::events::parse_event_value(&value, &type, &result, nullptr, nullptr);
    return 0;
}
