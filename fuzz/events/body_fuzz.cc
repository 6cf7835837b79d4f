// Every body decoder called directly, as a caller holding a BerElement
// positioned inside a body would: the first byte picks the decoder.
#include <cstddef>
#include <cstdint>

#include "decode.h"

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
    return 0;
}
