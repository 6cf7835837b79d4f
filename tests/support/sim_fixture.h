// The directory simulator in process and the tree its tests start from.
// Tests of the library include <dirext.h> before this header, as before any
// <ldap.h>.
#pragma once

#include <memory>
#include <string>

#include "dirsim/server.h"
#include "ldap_session.h"

namespace testsupport {

// The organisation, its administrator, and the two as a tree: each folder's
// tree adds the entries its tests need.
inline const std::string kLabEntry = "dn: o=lab\nobjectClass: organization\no: lab\n";
inline const std::string kAdminEntry =
    "dn: cn=admin,o=lab\nobjectClass: person\ncn: admin\nsn: admin\nuserPassword: secret\n";
inline const std::string kLabTree = kLabEntry + "\n" + kAdminEntry;

// A started simulator; null if it did not start (it says why on stderr).
inline std::unique_ptr<dirsim::Server> start_sim(const dirsim::Options &options)
{
    auto server = std::make_unique<dirsim::Server>(options);
    if (!server->start()) return nullptr;
    return server;
}

}  // namespace testsupport
