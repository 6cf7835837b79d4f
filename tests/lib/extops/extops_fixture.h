// A directory simulator in process and libldap sessions to it, for the
// tests of the management extended operations.
#pragma once

#include <dirext.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dirsim/server.h"
#include "sim_fixture.h"

namespace extops_test {

inline const char kArc[] = "2.16.840.1.113719.1.27.100.";
inline std::string oid(int arc) { return kArc + std::to_string(arc); }

inline constexpr const char *kAdmin = testsupport::kAdminDn;
inline const char kServer1[] = "cn=server1,ou=servers,o=lab";
inline const char kServer2[] = "cn=server2,ou=servers,o=lab";

// o=lab is a partition held by a master replica on server1.
inline const std::string kTree = testsupport::kLabEntry + "replica: cn=server1,ou=servers,o=lab#0\n\n" +
                                 testsupport::kAdminEntry + R"(
dn: ou=servers,o=lab
objectClass: organizationalUnit
ou: servers

dn: cn=server1,ou=servers,o=lab
objectClass: device
cn: server1

dn: cn=server2,ou=servers,o=lab
objectClass: device
cn: server2

dn: ou=people,o=lab
objectClass: organizationalUnit
ou: people

dn: cn=Alice,ou=people,o=lab
objectClass: person
cn: Alice
sn: Smith
description:: w6ljbGFpciDDoCBsYSB2YW5pbGxlIA==
)";

using Session = testsupport::Ldap;

class ExtopsTest : public ::testing::Test {
protected:
    void SetUp() override;

    // A session to the server, bound as the administrator or anonymous.
    Session open(bool bind = true);

    // Every request that matches `oid` answers `reply` until the next call.
    void answer(const std::string &oid, dirsim::Reply reply);
    // The extended requests received since the last clear.
    std::vector<dirsim::Request> extended();
    void clear() { server_->clear_requests(); }

    std::unique_ptr<dirsim::Server> server_;
};

}  // namespace extops_test
