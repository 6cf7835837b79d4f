// Feeds arbitrary bytes to a response-control parser as the value of a
// control with its OID, in a control array as libldap hands them out; and
// writes a parsed control back with liblber for the round-trip checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dirext.h"

namespace control_fuzz {

// One session for the whole run: the parsers only report through it.
inline LDAP *session()
{
    static LDAP *ld = [] {
        LDAP *raw = nullptr;
        ldap_initialize(&raw, "ldap://127.0.0.1:9");
        return raw;
    }();
    return ld;
}

// parse(session, controls) with bytes as the value of oid; its result.
template <typename Parse>
auto with_value(const char *oid, const char *data, size_t size, Parse parse)
{
    LDAPControl control{};
    control.ldctl_oid = const_cast<char *>(oid);
    control.ldctl_value = {size, size ? const_cast<char *>(data) : nullptr};
    LDAPControl *controls[] = {&control, nullptr};
    return parse(session(), controls);
}

template <typename Parse>
int run(const char *oid, const uint8_t *data, size_t size, Parse parse)
{
    with_value(oid, reinterpret_cast<const char *>(data), size, parse);
    return 0;
}

// A round trip that does not give back what was read is a fault.
inline void require(bool holds)
{
    if (!holds) std::abort();
}

inline bool same(const char *a, const char *b) { return a && b ? std::strcmp(a, b) == 0 : a == b; }

// A value in the shape the parser expects, written with liblber.
class Writer {
public:
    Writer() : ber_(ber_alloc_t(LBER_USE_DER)) { require(ber_ != nullptr); }
    ~Writer() { ber_free(ber_, 1); }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    template <typename... Args>
    Writer &put(const char *format, Args... args)
    {
        require(ber_printf(ber_, format, args...) != -1);
        return *this;
    }
    std::string bytes()
    {
        berval flat{};
        require(ber_flatten2(ber_, &flat, 0) != -1);
        return std::string(flat.bv_val, flat.bv_len);
    }

private:
    BerElement *ber_;
};

}  // namespace control_fuzz
