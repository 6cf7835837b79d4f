// Bytes as tests state them: hex text both ways, and BER elements built by
// hand, without liblber, so that the bytes a decoder reads are exactly the
// ones the test wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace wire {

// bytes -> "020105" (lower case)
inline std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// "02 01 05" -> bytes; anything but hex digits (spaces) is skipped.
inline std::string unhex(std::string_view text)
{
    std::string out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

// The shortest definite length.
inline std::string length(std::size_t n)
{
    if (n < 0x80) return std::string(1, static_cast<char>(n));
    std::string bytes;
    for (; n; n >>= 8) bytes.insert(bytes.begin(), static_cast<char>(n & 0xff));
    return std::string(1, static_cast<char>(0x80 | bytes.size())) + bytes;
}

inline std::string tlv(uint8_t tag, const std::string &contents)
{
    return std::string(1, static_cast<char>(tag)) + length(contents.size()) + contents;
}

inline std::string cat(std::initializer_list<std::string> parts)
{
    std::string out;
    for (const auto &p : parts) out += p;
    return out;
}

// Minimal two's complement contents.
inline std::string integer(int64_t value, uint8_t tag = 0x02)
{
    std::string bytes;
    for (int i = 7; i >= 0; --i) bytes += static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xff);
    std::size_t start = 0;
    while (start + 1 < bytes.size()) {
        unsigned char b = bytes[start], next = bytes[start + 1];
        if ((b == 0x00 && !(next & 0x80)) || (b == 0xff && (next & 0x80))) ++start;
        else break;
    }
    return tlv(tag, bytes.substr(start));
}

inline std::string enumerated(int64_t value) { return integer(value, 0x0a); }
inline std::string octets(const std::string &s, uint8_t tag = 0x04) { return tlv(tag, s); }
inline std::string seq(std::initializer_list<std::string> parts, uint8_t tag = 0x30) { return tlv(tag, cat(parts)); }
inline std::string set(std::initializer_list<std::string> parts) { return tlv(0x31, cat(parts)); }

}  // namespace wire
