// The element readers, one family per run: the first byte picks the reader
// (and a tag), the rest is what it reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "events/records.h"

namespace {

void read_all(BerElement *ber, uint8_t selector)
{
    switch (selector % 6) {
    case 0: {  // strings
        char *s = nullptr;
        ber_len_t n = 0;
        const ber_tag_t tag = selector >= 0x80 ? selector : 0;
        if (parseLDAPString(ber, &s, tag) == 0) std::free(s);
        if (parseOctetString(ber, &s, &n, tag) == 0) std::free(s);
        break;
    }
    case 1: {  // string lists
        char **list = nullptr;
        if (parseStringSequence(ber, &list) == 0) freeStringSequence(list);
        break;
    }
    case 2: {  // referral lists
        int count = 0;
        ReferralAddress *list = nullptr;
        if (parseReferralList(ber, &count, &list) == 0) freeReferralList(count, list);
        break;
    }
    case 3: {  // the connection block
        ConnectionData *block = nullptr;
        if (parseConnectionData(ber, &block) == 0) freeConnectionData(block);
        break;
    }
    case 4: {  // network addresses
        NetAddrEventData *a = nullptr;
        if (parseNetAddrEventData(nullptr, ber, &a) == 0) ldap_event_free(a);
        a = nullptr;
        if (ber_get_IP(nullptr, ber, &a) == 0) ldap_event_free(a);
        break;
    }
    case 5: {  // the final response's registration list
        int count = 0;
        EventSpecifier *list = nullptr;
        if (dirext::events::read_registrations(ber, &count, &list) == 0) ldapx_memfree(list);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    // NUL-terminated, as liblber's own buffers are: it looks at the byte
    // behind every element it steps over.
    std::string copy(reinterpret_cast<const char *>(data + 1), size - 1);
    struct berval bytes;
    bytes.bv_val = copy.data();
    bytes.bv_len = copy.size();
    dirext::events::BerBuffer buffer;
    read_all(dirext::events::open_buffer(buffer, &bytes), data[0]);
    return 0;
}
