// The directory simulator in process and the tree its tests start from.
// Tests of the library include <dirext.h> before this header, as before any
// <ldap.h>.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

// A tool's last request may still be on its way when the process has exited;
// every run that connected ends with an unbind.
inline void wait_for_unbind(const dirsim::Server &server)
{
    for (int i = 0; i < 500; ++i) {
        auto log = server.requests();
        if (log.empty() || log.back().op == "unbind") return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The logged requests of one operation ("bind", "extended", ...), in order.
inline std::vector<dirsim::Request> requests_of(const dirsim::Server &server, const std::string &op)
{
    std::vector<dirsim::Request> out;
    for (const auto &r : server.requests())
        if (r.op == op) out.push_back(r);
    return out;
}

}  // namespace testsupport
