// Every body decoder called directly, as a caller holding a BerElement
// positioned inside a body would: the first byte picks the decoder.  The
// same description run by the inline reader must come to the same result, and
// an accepted body written again in its kind's shape must read back the same.
#include <cstddef>
#include <cstdint>

#include "decode.h"
#include "dump.h"
#include "events/records.h"
#include "model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const int tag = 0x61 + data[0] % 29;
    events_test::Decoder decoder = events_test::decoder_for(tag);
    if (!decoder) return 0;
    std::string contents(reinterpret_cast<const char *>(data + 1), size - 1);
    events_test::Decoded d;
    events_test::decode(tag, contents, d);
    if (d.rc != 0 && d.address) __builtin_trap();  // a failed address is never delivered

    const dirext::events::Record *desc = dirext::events::record_for(tag);
    if (!desc) __builtin_trap();  // every tag with an exported decoder has a description
    struct berval bytes = {contents.size(), contents.data()};
    dirext::events::SpanReader span(bytes);
    events_test::Decoded s;
    s.rc = dirext::events::decode(*desc, span, &s.record, &s.address);
    const bool same = s.rc == d.rc && events_test::dump(s.record) == events_test::dump(d.record) &&
                      events_test::dump(s.address) == events_test::dump(d.address) &&
                      span.remaining() == d.rest.size();
    if (!same) __builtin_trap();

    if (d.rc != 0 || !d.record) return 0;
    auto decode_again = [&](const std::string &bytes, void **out, NetAddrEventData **address) {
        events_test::Ber ber = events_test::reader(bytes);
        return decoder(nullptr, ber.get(), out, address);
    };
    const model::Shape *shape = model::shape_for(tag);
    if (!shape || !model::same_when_rewritten(*shape, d.record, d.address, decode_again)) __builtin_trap();
    return 0;
}
