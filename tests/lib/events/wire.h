// Hand-built BER for the event tests, the fuzz seeds and the benchmark.
// Written without liblber, so that the bytes the decoders read are the ones
// the test states.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace wire {

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

// A list as the events send it: each member a SEQUENCE holding one OCTET STRING.
inline std::string string_list(std::initializer_list<std::string> members, uint8_t tag = 0x30)
{
    std::string contents;
    for (const auto &m : members) contents += seq({octets(m)});
    return tlv(tag, contents);
}

inline std::string triple(int a, int b, int c) { return seq({integer(a), integer(b), integer(c)}); }
inline std::string connection(int a, int b, const std::string &s) { return seq({integer(a), integer(b), octets(s)}); }
inline std::string address(int type, const std::string &bytes) { return integer(type) + octets(bytes); }

// LDAP messages around an event value.
inline std::string intermediate(int msgid, const std::string *name, const std::string *value)
{
    std::string body;
    if (name) body += tlv(0x80, *name);
    if (value) body += tlv(0x81, *value);
    return seq({integer(msgid), tlv(0x79, body)});
}

inline std::string notification(int msgid, const std::string &value)
{
    static const std::string name = "2.16.840.1.113719.1.27.100.81";
    return intermediate(msgid, &name, &value);
}

inline std::string extended_response(int msgid, int result, const std::string *name, const std::string *value,
                                      const std::string &diagnostic = "")
{
    std::string body = enumerated(result) + octets("") + octets(diagnostic);
    if (name) body += tlv(0x8a, *name);
    if (value) body += tlv(0x8b, *value);
    return seq({integer(msgid), tlv(0x78, body)});
}

inline std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace wire
