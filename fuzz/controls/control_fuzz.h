// Feeds arbitrary bytes to a response-control parser as the value of a
// control with its OID, in a control array as libldap hands them out.
#pragma once

#include <cstddef>
#include <cstdint>

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

template <typename Parse>
int run(const char *oid, const uint8_t *data, size_t size, Parse parse)
{
    LDAPControl control{};
    control.ldctl_oid = const_cast<char *>(oid);
    control.ldctl_value = {size, size ? const_cast<char *>(reinterpret_cast<const char *>(data)) : nullptr};
    LDAPControl *controls[] = {&control, nullptr};
    parse(session(), controls);
    return 0;
}

}  // namespace control_fuzz
