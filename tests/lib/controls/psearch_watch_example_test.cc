// examples/psearch_watch as a process against the simulator: it reports an
// add and a rename made by another connection, then ends by itself.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "paths.h"
#include "process.h"
#include "sim_session.h"

namespace {

class PsearchWatchExample : public simsession::SimTest {};

TEST_F(PsearchWatchExample, PrintsTheChangesItWasAskedToCount)
{
    testsupport::Child watcher({testsupport::build_path("examples/example_psearch_watch"), server_->url(),
                                simsession::kAdminDn, simsession::kAdminPassword, "ou=people,o=lab", "2"});
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 10000));

    ASSERT_EQ(ldaptest::add_person(ld(), "cn=Dana,ou=people,o=lab", "Dana"), LDAP_SUCCESS);
    // Outside the base: not reported.
    ASSERT_EQ(ldap_delete_ext_s(ld(), "ou=bulk,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_EQ(ldap_rename_s(ld(), "cn=Dana,ou=people,o=lab", "cn=Dana Ross", nullptr, 1, nullptr, nullptr),
              LDAP_SUCCESS);

    const auto result = watcher.wait();
    EXPECT_TRUE(std::regex_match(result.out,
                                 std::regex("watching ou=people,o=lab\n"
                                            "add cn=Dana,ou=people,o=lab \\(change [0-9]+\\)\n"
                                            "moddn cn=Dana Ross,ou=people,o=lab from cn=Dana,ou=people,o=lab "
                                            "\\(change [0-9]+\\)\n")))
        << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    // It abandoned its search on the way out (then unbound).
    for (int i = 0; i < 100 && logged("unbind").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(logged("abandon").size(), 1u);
}

TEST_F(PsearchWatchExample, RefusedSearchAndUsage)
{
    auto refused = testsupport::run({testsupport::build_path("examples/example_psearch_watch"), server_->url(),
                                     simsession::kAdminDn, simsession::kAdminPassword, "ou=nowhere,o=lab", "1"});
    EXPECT_EQ(refused.out, "watching ou=nowhere,o=lab\n");
    EXPECT_EQ(refused.err, "psearch_watch: the search ended: No such object (32)\n");
    EXPECT_EQ(refused.status, 2);

    auto usage = testsupport::run({testsupport::build_path("examples/example_psearch_watch"), "ldap://x"});
    EXPECT_EQ(usage.err, "usage: psearch_watch URL BIND-DN PASSWORD BASE [COUNT]\n");
    EXPECT_EQ(usage.status, 2);
}

}  // namespace
