// A notification value as a whole: the head, then the body through the
// dispatch by its tag and the decoder it selects, then the trailing address.
// The library reads it with the inline reader; the same decoders over
// liblber must come to exactly the same result, and an accepted body written
// again in its kind's shape must read back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "events/records.h"
#include "model.h"
#include "outcome.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that ASan sees any read behind the value; liblber
    // gets its own copy with the NUL it looks at behind the last element.
    std::vector<char> exact(data, data + size);
    struct berval value;
    value.bv_val = exact.data();
    value.bv_len = size;
    dirext::events::SpanReader span(value);
    const events_test::Outcome inline_read = events_test::read_through(span);
    if (inline_read.address_after_failure) __builtin_trap();  // a failed event leaves no address

    std::string terminated(reinterpret_cast<const char *>(data), size);
    struct berval copy = {size, terminated.data()};  // std::string keeps a NUL behind
    dirext::events::BerBuffer buffer;
    dirext::events::LberReader lber(dirext::events::open_buffer(buffer, &copy));
    if (!(events_test::read_through(lber) == inline_read) || span.remaining() != lber.remaining()) __builtin_trap();

    // Only the head, as a caller without eventData asks for it.
    int type = 0, result = 0;
    dirext::events::parse_event_value(&value, &type, &result, nullptr, nullptr);

    void *record = nullptr;
    NetAddrEventData *address = nullptr;
    if (dirext::events::parse_event_value(&value, &type, &result, &record, &address) == 0 && record) {
        const int kind = static_cast<int>(DIREXT_EVENT_KIND(record));
        auto decode_again = [&](const std::string &body, void **out, NetAddrEventData **again_address) {
            std::string again = wire::seq({wire::integer(type), wire::integer(result), wire::tlv(kind, body)});
            struct berval bytes = {again.size(), again.data()};
            int again_type = 0, again_result = 0;
            const int rc = dirext::events::parse_event_value(&bytes, &again_type, &again_result, out, again_address);
            return rc == 0 && (again_type != type || again_result != result) ? LDAP_OTHER : rc;
        };
        const model::Shape *shape = model::shape_for(kind);
        if (!shape || !model::same_when_rewritten(*shape, record, address, decode_again)) __builtin_trap();
    }
    ldap_event_free(record);
    ldap_event_free(address);
    return 0;
}
