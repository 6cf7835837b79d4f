// Owning handles for what libldap hands the LBURP and controls tests, and
// an entry to add.
#pragma once

#include <dirext.h>

#include <memory>
#include <string>

namespace ldaptest {

template <auto Fn>
struct Free {
    template <typename T>
    void operator()(T *p) const { Fn(p); }
};
inline void unbind(LDAP *ld) { ldap_unbind_ext(ld, nullptr, nullptr); }

using Ldap = std::unique_ptr<LDAP, Free<unbind>>;
using Message = std::unique_ptr<LDAPMessage, Free<ldap_msgfree>>;
using Control = std::unique_ptr<LDAPControl, Free<ldap_control_free>>;
using Controls = std::unique_ptr<LDAPControl *, Free<ldap_controls_free>>;

// Adds a person entry whose cn and sn are name.
inline int add_person(LDAP *ld, const std::string &dn, std::string name)
{
    char cn_type[] = "cn", sn_type[] = "sn", oc_type[] = "objectClass", person[] = "person";
    char *names[] = {name.data(), nullptr}, *classes[] = {person, nullptr};
    LDAPMod oc{LDAP_MOD_ADD, oc_type, {classes}}, cn{LDAP_MOD_ADD, cn_type, {names}}, sn{LDAP_MOD_ADD, sn_type, {names}};
    LDAPMod *mods[] = {&oc, &cn, &sn, nullptr};
    return ldap_add_ext_s(ld, dn.c_str(), mods, nullptr, nullptr);
}

}  // namespace ldaptest
