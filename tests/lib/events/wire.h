// Hand-built event values and the LDAP messages around them, for the event
// tests, the fuzz seeds and the benchmark.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// By path: the benchmark builds this folder's sources with only this folder
// on its include path.
#include "../../support/bytes.h"

namespace wire {

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

}  // namespace wire
