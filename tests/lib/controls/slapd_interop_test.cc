// URL search and proxied authorisation against a real directory server (a
// private slapd).  slapd lets its rootdn act as any identity of its database,
// and records the identity an add ran as in the entry's creatorsName.
#include <dirext.h>

#include <cstring>
#include <memory>
#include <string>

#include "ldap_handles.h"
#include "slapd.h"

namespace {

using testsupport::Slapd;

using ldaptest::Control;
using ldaptest::Ldap;
using ldaptest::Message;

// Named in lower case so that `ctest -R interop` selects these cases.
class controls_interop : public testsupport::SlapdTest {
protected:
    Ldap bind(const char *dn, const char *password)
    {
        LDAP *raw = nullptr;
        EXPECT_EQ(ldap_initialize(&raw, slapd().url().c_str()), LDAP_SUCCESS);
        Ldap ld(raw);
        int version = LDAP_VERSION3;
        timeval timeout{10, 0};
        ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
        ldap_set_option(raw, LDAP_OPT_TIMEOUT, &timeout);
        berval cred{std::strlen(password), const_cast<char *>(password)};
        EXPECT_EQ(ldap_sasl_bind_s(raw, dn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr), LDAP_SUCCESS);
        return ld;
    }

    // "Who am I?" (RFC 4532), which slapd answers for the operation's identity.
    std::string who(LDAP *ld, LDAPControl **controls, int *rc)
    {
        berval *value = nullptr;
        *rc = ldap_extended_operation_s(ld, LDAP_EXOP_WHO_AM_I, nullptr, controls, nullptr, nullptr, &value);
        std::string out = value && value->bv_val ? std::string(value->bv_val, value->bv_len) : "";
        ber_bvfree(value);
        return out;
    }

    std::string first_value(LDAP *ld, const char *dn, const char *attr)
    {
        char *attrs[] = {const_cast<char *>(attr), nullptr};
        LDAPMessage *raw = nullptr;
        EXPECT_EQ(ldap_search_ext_s(ld, dn, LDAP_SCOPE_BASE, nullptr, attrs, 0, nullptr, nullptr, nullptr, 0, &raw),
                  LDAP_SUCCESS);
        Message res(raw);
        berval **values = ldap_get_values_len(ld, ldap_first_entry(ld, res.get()), attr);
        std::string out = values && values[0] ? std::string(values[0]->bv_val, values[0]->bv_len) : "";
        ldap_value_free_len(values);
        return out;
    }
};

TEST_F(controls_interop, UrlSearch)
{
    Ldap ld = bind(Slapd::kRootDn, Slapd::kRootPassword);
    LDAPMessage *raw = nullptr;
    ASSERT_EQ(ldap_url_search_s(ld.get(), "ldap:///ou=people,o=lab?uid,cn?one?(uid=alice)", 0, &raw), LDAP_SUCCESS);
    Message res(raw);
    ASSERT_EQ(ldap_count_entries(ld.get(), res.get()), 1);
    char *dn = ldap_get_dn(ld.get(), ldap_first_entry(ld.get(), res.get()));
    EXPECT_STREQ(dn, Slapd::kUserDn);
    ldap_memfree(dn);

    // The asynchronous form: an ordinary request of the session.
    const int msgid = ldap_url_search(ld.get(), "ldap:///o=lab?o?base", 0);
    ASSERT_GT(msgid, 0);
    timeval timeout{10, 0};
    ASSERT_GT(ldap_result(ld.get(), msgid, LDAP_MSG_ALL, &timeout, &raw), 0);
    res.reset(raw);
    EXPECT_EQ(ldap_count_entries(ld.get(), res.get()), 1);
    EXPECT_EQ(ldap_result2error(ld.get(), res.get(), 0), LDAP_SUCCESS);

    EXPECT_EQ(ldap_url_search_s(ld.get(), "ldap:///ou=nowhere,o=lab??sub", 0, &raw), LDAP_NO_SUCH_OBJECT);
    ldap_msgfree(raw);
    EXPECT_EQ(ldap_url_search(ld.get(), "ldap:///o=lab???" "?!x-unknown=1", 0), -1);
    int code = 0;
    ldap_get_option(ld.get(), LDAP_OPT_RESULT_CODE, &code);
    EXPECT_EQ(code, LDAP_NOT_SUPPORTED);
}

TEST_F(controls_interop, ProxiedAuthorisationChangesTheIdentity)
{
    Ldap ld = bind(Slapd::kRootDn, Slapd::kRootPassword);
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_proxyauth_control(ld.get(), (std::string("dn:") + Slapd::kUserDn).c_str(), &raw),
              LDAP_SUCCESS);
    Control proxy(raw);
    LDAPControl *controls[] = {proxy.get(), nullptr};

    int rc = -1;
    EXPECT_EQ(who(ld.get(), nullptr, &rc), std::string("dn:") + Slapd::kRootDn);
    EXPECT_EQ(who(ld.get(), controls, &rc), std::string("dn:") + Slapd::kUserDn);
    EXPECT_EQ(rc, LDAP_SUCCESS);

    // An add made with the control is made by that identity.
    char oc_type[] = "objectClass", ou_type[] = "ou", oc[] = "organizationalUnit", ou[] = "proxied";
    char *oc_values[] = {oc, nullptr}, *ou_values[] = {ou, nullptr};
    LDAPMod oc_mod{LDAP_MOD_ADD, oc_type, {oc_values}}, ou_mod{LDAP_MOD_ADD, ou_type, {ou_values}};
    LDAPMod *mods[] = {&oc_mod, &ou_mod, nullptr};
    ASSERT_EQ(ldap_add_ext_s(ld.get(), "ou=proxied,o=lab", mods, controls, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(first_value(ld.get(), "ou=proxied,o=lab", "creatorsName"), Slapd::kUserDn);
}

TEST_F(controls_interop, ProxiedAuthorisationNeedsTheRight)
{
    // alice has no authzTo: she may not act as the administrator.
    Ldap ld = bind(Slapd::kUserDn, Slapd::kUserPassword);
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_proxyauth_control(ld.get(), (std::string("dn:") + Slapd::kRootDn).c_str(), &raw),
              LDAP_SUCCESS);
    Control proxy(raw);
    LDAPControl *controls[] = {proxy.get(), nullptr};
    int rc = -1;
    who(ld.get(), controls, &rc);
    EXPECT_EQ(rc, 123);  // authorizationDenied
}

// slapd has no persistent search: a critical request is refused as such.
TEST_F(controls_interop, PersistentSearchIsRefusedAsUnavailable)
{
    Ldap ld = bind(Slapd::kRootDn, Slapd::kRootPassword);
    LDAPControl *raw = nullptr;
    ASSERT_EQ(ldap_create_persistentsearch_control(ld.get(), 15, 1, 1, 1, &raw), LDAP_SUCCESS);
    Control psearch(raw);
    LDAPControl *controls[] = {psearch.get(), nullptr};
    LDAPMessage *res = nullptr;
    EXPECT_EQ(ldap_search_ext_s(ld.get(), "o=lab", LDAP_SCOPE_SUBTREE, nullptr, nullptr, 0, controls, nullptr,
                                nullptr, 0, &res),
              LDAP_UNAVAILABLE_CRITICAL_EXTENSION);
    ldap_msgfree(res);
}

}  // namespace
