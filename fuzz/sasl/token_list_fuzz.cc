// parseTokenList walked to its end over arbitrary bytes: every token lies
// inside the string, and the walk ends.
#include <dirext.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *str = reinterpret_cast<const char *>(data);
    DigestTokenCursor *cursor = nullptr;
    for (size_t steps = 0;; ++steps) {
        if (steps > size + 1) std::abort();  // one token per call at the most
        const char *token = nullptr;
        int len = 0;
        const int rc = parseTokenList(str, size, &token, &len, &cursor, nullptr);
        if (token && (token < str || len <= 0 || token + len > str + size)) std::abort();
        if (rc != 0 || !token) break;
    }
    std::free(cursor);
    return 0;
}
