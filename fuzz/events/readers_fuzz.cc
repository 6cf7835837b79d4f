// The element readers, one family per run: the first byte picks the reader
// (and a tag), the rest is what it reads.  What a list, block or address
// reader accepted, written again, must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "events/records.h"
#include "model.h"

namespace {

// What the list and block readers deliver, as members of a record.
struct Slots {
    char **list = nullptr;
    ReferralAddress *refs = nullptr;
    int32_t count = 0;
    ConnectionData *block = nullptr;
    ~Slots()
    {
        freeStringSequence(list);
        freeReferralList(count, refs);
        freeConnectionData(block);
    }
};

int read_into(model::Op op, BerElement *ber, Slots &s)
{
    if (op == model::Op::List) return parseStringSequence(ber, &s.list);
    if (op == model::Op::Conn) return parseConnectionData(ber, &s.block);
    int count = 0;
    const int rc = parseReferralList(ber, &count, &s.refs);
    s.count = count;
    return rc;
}

// Reads one family from `ber`; what it accepted must read back the same.
void round_trip(model::Op op, BerElement *ber)
{
    const model::Field field = op == model::Op::List   ? model::Field{op, offsetof(Slots, list)}
                               : op == model::Op::Conn ? model::Field{op, offsetof(Slots, block)}
                                                       : model::Field{op, offsetof(Slots, refs), 0, offsetof(Slots, count)};
    Slots first, again;
    if (read_into(op, ber, first) != 0) return;
    const model::Value v = model::read(field, &first);
    bool open = true;
    std::string bytes = model::write(field, v, nullptr, open);
    struct berval written = {bytes.size(), bytes.data()};
    dirext::events::BerBuffer buffer;
    if (read_into(op, dirext::events::open_buffer(buffer, &written), again) != 0 || !(model::read(field, &again) == v))
        __builtin_trap();
}

NetAddrEventData *read_address(const std::string &bytes)
{
    struct berval written = {bytes.size(), const_cast<char *>(bytes.data())};
    dirext::events::BerBuffer buffer;
    NetAddrEventData *a = nullptr;
    parseNetAddrEventData(nullptr, dirext::events::open_buffer(buffer, &written), &a);
    return a;
}

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
    case 1:  // string lists
        round_trip(model::Op::List, ber);
        break;
    case 2:  // referral lists
        round_trip(model::Op::Refs, ber);
        break;
    case 3:  // the connection block
        round_trip(model::Op::Conn, ber);
        break;
    case 4: {  // network addresses
        NetAddrEventData *a = nullptr;
        if (parseNetAddrEventData(nullptr, ber, &a) == 0) {
            const model::Value v = model::read_address(a);
            NetAddrEventData *again = read_address(wire::address(v.ints[0], v.strs[0]));
            if (!(model::read_address(again) == v)) __builtin_trap();
            ldap_event_free(again);
        }
        ldap_event_free(a);
        a = nullptr;
        if (ber_get_IP(nullptr, ber, &a) == 0) ldap_event_free(a);
        break;
    }
    case 5: {  // the final response's registration list
        int count = 0;
        EventSpecifier *list = nullptr;
        if (dirext::events::read_registrations(ber, &count, &list) != 0) break;
        std::string elements;
        for (int i = 0; i < count; ++i) elements += wire::seq({wire::integer(list[i].eventType), wire::enumerated(list[i].eventStatus)});
        std::string bytes = wire::seq({wire::integer(count), wire::tlv(0x31, elements)});
        struct berval written = {bytes.size(), bytes.data()};
        dirext::events::BerBuffer buffer;
        int again_count = 0;
        EventSpecifier *again = nullptr;
        if (dirext::events::read_registrations(dirext::events::open_buffer(buffer, &written), &again_count, &again) != 0 ||
            again_count != count || (count && std::memcmp(again, list, count * sizeof *list) != 0))
            __builtin_trap();
        ldapx_memfree(again);
        ldapx_memfree(list);
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
