// Owning handles for the libldap results the tool works with.
#pragma once

#include <ldap.h>

#include <memory>

namespace toolkit {

struct MessageFree {
    void operator()(LDAPMessage *m) const { ldap_msgfree(m); }
};
struct ValuesFree {
    void operator()(char **v) const { ldap_value_free(v); }
};
struct MemFree {
    void operator()(void *p) const { ldap_memfree(p); }
};
struct BerFree {
    void operator()(BerElement *b) const { ber_free(b, 0); }
};
struct BervalFree {
    void operator()(struct berval *b) const { ber_bvfree(b); }
};

using Message = std::unique_ptr<LDAPMessage, MessageFree>;
using Values = std::unique_ptr<char *, ValuesFree>;  // NULL-terminated, from ldap_get_values
using LdapString = std::unique_ptr<char, MemFree>;
using Ber = std::unique_ptr<BerElement, BerFree>;
using Berval = std::unique_ptr<struct berval, BervalFree>;

}  // namespace toolkit
