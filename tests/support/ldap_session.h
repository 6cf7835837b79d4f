// libldap sessions for tests: connected with time-outs, bound simply, and
// the result code a session holds.  Tests of the library include <dirext.h>
// before this header, as before any <ldap.h>.
#pragma once

#include <gtest/gtest.h>
#include <ldap.h>

#include <memory>
#include <string>

namespace testsupport {

// The administrator of the test trees.
inline const char kAdminDn[] = "cn=admin,o=lab";
inline const char kAdminPassword[] = "secret";

struct Unbind {
    void operator()(LDAP *ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Ldap = std::unique_ptr<LDAP, Unbind>;

// A connected LDAP v3 session, not yet bound; null on failure.  Time-outs
// keep a broken server from hanging the test.
inline Ldap open_session(const std::string &url, bool chase_referrals = true)
{
    LDAP *raw = nullptr;
    if (ldap_initialize(&raw, url.c_str()) != LDAP_SUCCESS) return nullptr;
    Ldap ld(raw);
    int version = LDAP_VERSION3;
    timeval timeout{10, 0};
    ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(raw, LDAP_OPT_TIMEOUT, &timeout);
    if (!chase_referrals) ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    return ld;
}

inline int simple_bind(LDAP *ld, const std::string &dn, const std::string &password)
{
    berval cred{password.size(), const_cast<char *>(password.data())};
    return ldap_sasl_bind_s(ld, dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
}

// A session bound as the administrator (a refused bind fails the test).
inline Ldap open_admin(const std::string &url, bool chase_referrals = true)
{
    Ldap ld = open_session(url, chase_referrals);
    EXPECT_TRUE(ld);
    if (ld) {
        EXPECT_EQ(simple_bind(ld.get(), kAdminDn, kAdminPassword), LDAP_SUCCESS);
    }
    return ld;
}

// The session's LDAP_OPT_RESULT_CODE (12345 if it cannot be read).
inline int session_code(LDAP *ld)
{
    int rc = 12345;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
}

}  // namespace testsupport
