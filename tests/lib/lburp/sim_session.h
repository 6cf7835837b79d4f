// An in-process directory simulator and libldap sessions bound to it, for the
// LBURP and controls tests.
#pragma once

#include <dirext.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "dirsim/server.h"
#include "ldap_handles.h"
#include "sim_fixture.h"

namespace simsession {

using testsupport::kAdminDn;
using testsupport::kAdminPassword;

inline const std::string kTree = testsupport::kLabTree + R"(
dn: ou=people,o=lab
objectClass: organizationalUnit
ou: people

dn: cn=Alice Smith,ou=people,o=lab
objectClass: person
cn: Alice Smith
sn: Smith
uid: alice

dn: cn=Bob Jones,ou=people,o=lab
objectClass: person
cn: Bob Jones
sn: Jones

dn: ou=bulk,o=lab
objectClass: organizationalUnit
ou: bulk
)";

using ldaptest::Message;
using testsupport::Ldap;

// A session to url, bound as dn (anonymous for none); null on failure.
inline Ldap open(const std::string &url, const char *dn = kAdminDn, const char *password = kAdminPassword)
{
    Ldap ld = testsupport::open_session(url, false);
    if (ld && dn && testsupport::simple_bind(ld.get(), dn, password) != LDAP_SUCCESS) return nullptr;
    return ld;
}

using testsupport::session_code;

// The whole answer to msgid, waiting at most 10 s.
inline Message result(LDAP *ld, int msgid)
{
    LDAPMessage *res = nullptr;
    timeval timeout{10, 0};
    if (ldap_result(ld, msgid, LDAP_MSG_ALL, &timeout, &res) <= 0) return nullptr;
    return Message(res);
}

using wire::hex;

class SimTest : public ::testing::Test {
protected:
    virtual dirsim::Options options() const
    {
        dirsim::Options o;
        o.ldif_text = kTree;
        return o;
    }

    void SetUp() override
    {
        server_ = testsupport::start_sim(options());
        ASSERT_TRUE(server_);
        ld_ = open(server_->url());
        ASSERT_TRUE(ld_);
        server_->clear_requests();
    }

    // The requests logged so far with this op (and OID, when given).
    std::vector<dirsim::Request> logged(const std::string &op, const std::string &oid = "") const
    {
        std::vector<dirsim::Request> out;
        for (const auto &r : server_->requests())
            if (r.op == op && (oid.empty() || r.oid == oid)) out.push_back(r);
        return out;
    }

    LDAP *ld() { return ld_.get(); }

    std::unique_ptr<dirsim::Server> server_;
    Ldap ld_;
};

}  // namespace simsession
