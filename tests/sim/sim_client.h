// Shared pieces of the simulator's tests: a small tree and a libldap client
// bound to an in-process server.
#pragma once

#include <gtest/gtest.h>
#include <ldap.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dirsim/server.h"
#include "sim_fixture.h"

namespace simtest {

inline const char kServerDn[] = "cn=server1,ou=servers,o=lab";
using testsupport::kAdminDn;
inline const char kLimber[] = "2.16.840.1.113719.1.27.100.49";

inline const std::string kTree = testsupport::kLabTree + R"(
dn: ou=people,o=lab
objectClass: organizationalUnit
ou: people

dn: cn=Alice Smith,ou=people,o=lab
objectClass: person
cn: Alice Smith
sn: Smith
uidNumber: 100
description: likes (parens) and *stars*

dn: cn=Bob Jones,ou=people,o=lab
objectClass: person
cn: Bob Jones
sn: Jones
uidNumber: 99

dn: ou=servers,o=lab
objectClass: organizationalUnit
ou: servers

dn: cn=server1,ou=servers,o=lab
objectClass: device
objectClass: extensibleObject
cn: server1
indexDefinition: 0$cn$0$0$1$1$cn
indexDefinition: 0$idx1$2$0$0$1$sn
)";

using testsupport::Ldap;
using testsupport::simple_bind;

// A connected session, not yet bound.
inline Ldap open_session(const std::string &url) { return testsupport::open_session(url, false); }

inline std::string diagnostic(LDAP *ld)
{
    char *msg = nullptr;
    ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &msg);
    std::string out = msg ? msg : "";
    ldap_memfree(msg);
    return out;
}

struct ExtResult {
    int rc;
    std::optional<std::string> oid, value;
};

// An extended operation through libldap; the response name and value as received.
inline ExtResult extended(LDAP *ld, const char *oid, const std::optional<std::string> &value = std::nullopt,
                          LDAPControl **controls = nullptr)
{
    berval v{};
    if (value) v = {value->size(), const_cast<char *>(value->data())};
    char *retoid = nullptr;
    berval *retdata = nullptr;
    ExtResult r;
    r.rc = ldap_extended_operation_s(ld, oid, value ? &v : nullptr, controls, nullptr, &retoid, &retdata);
    if (retoid) r.oid = retoid;
    if (retdata) r.value = std::string(retdata->bv_val, retdata->bv_len);
    ldap_memfree(retoid);
    ber_bvfree(retdata);
    return r;
}

class DirsimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = testsupport::start_sim({.ldif_text = kTree});
        ASSERT_TRUE(server_);
    }

    // A session bound as the administrator; the log is cleared afterwards so
    // that a test sees only its own requests.
    Ldap admin()
    {
        Ldap ld = testsupport::open_admin(server_->url(), false);
        server_->clear_requests();
        return ld;
    }

    std::unique_ptr<dirsim::Server> server_;
};

}  // namespace simtest
