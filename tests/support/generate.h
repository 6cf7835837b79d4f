// Random, structurally valid values for the codecs' round-trip properties.
// Seeded and repeatable: DIREXT_PROPERTY_SEED chooses the seed (default: a
// fixed one), DIREXT_PROPERTY_RUNS the number of values a property tries.
// A property reports its seed and run number on failure, so that
// DIREXT_PROPERTY_SEED=<seed> reproduces it.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace generate {

inline uint64_t seed()
{
    const char *text = std::getenv("DIREXT_PROPERTY_SEED");
    return text && *text ? std::strtoull(text, nullptr, 0) : 0x5eed2026u;
}

inline int runs(int fallback = 2000)
{
    const char *text = std::getenv("DIREXT_PROPERTY_RUNS");
    return text && *text ? std::atoi(text) : fallback;
}

class Random {
public:
    explicit Random(uint64_t seed_value = seed()) : engine_(seed_value), seed_(seed_value) {}

    uint64_t seed_used() const { return seed_; }
    bool coin() { return below(2) == 1; }
    // 0 .. n-1 (n > 0)
    uint64_t below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(engine_); }
    uint8_t byte() { return static_cast<uint8_t>(below(256)); }

    // Any 32-bit integer, the edges (0, -1, 1, the extremes) a quarter of the time.
    int32_t int32()
    {
        static constexpr int32_t edges[] = {0, -1, 1, INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1, 127, 128, -128, -129, 255, 256};
        if (below(4) == 0) return edges[below(sizeof edges / sizeof edges[0])];
        return static_cast<int32_t>(static_cast<uint32_t>(engine_()));
    }

    // A length for a string or a list: 0 and 1 often, sometimes long.
    std::size_t length(std::size_t longest = 300)
    {
        switch (below(8)) {
        case 0: return 0;
        case 1: return 1;
        case 2: return static_cast<std::size_t>(below(longest + 1));
        default: return static_cast<std::size_t>(below(17));
        }
    }

    // Octets over the full byte range (NULs included), of length() bytes.
    std::string octets(std::size_t longest = 300)
    {
        std::string out(length(longest), '\0');
        for (char &c : out) c = static_cast<char>(byte());
        return out;
    }

    // Text with no NUL (for C strings): bytes 1..255.
    std::string text(std::size_t longest = 300)
    {
        std::string out(length(longest), '\0');
        for (char &c : out) c = static_cast<char>(1 + below(255));
        return out;
    }

    template <typename T, typename Make>
    std::vector<T> list(Make make, std::size_t longest = 40)
    {
        std::vector<T> out(length(longest));
        for (T &item : out) item = make();
        return out;
    }

private:
    std::mt19937_64 engine_;
    uint64_t seed_;
};

}  // namespace generate
