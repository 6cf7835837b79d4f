// examples/replicas as a process against the simulator: exact output and
// exit status.
#include <gtest/gtest.h>

#include "extops_fixture.h"
#include "paths.h"
#include "process.h"

using namespace extops_test;

namespace {

class extopsReplicasExample : public ExtopsTest {
protected:
    testsupport::ProcessResult run(const char *partition, const char *password = "secret")
    {
        return testsupport::run(
            {testsupport::build_path("examples/example_replicas"), server_->url(), kAdmin, password, partition});
    }
};

TEST_F(extopsReplicasExample, PrintsEachReplicaWithItsInformation)
{
    Session ld = open();
    ASSERT_EQ(ldap_add_replica(ld.get(), "o=lab", kServer2, 2, 0), 0);
    auto result = run("o=lab");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "cn=server1,ou=servers,o=lab\n  partition o=lab\n  values 1 0 0 0 1 0 1\n"
              "cn=server2,ou=servers,o=lab\n  partition o=lab\n  values 1 0 0 0 1 2 2\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(extopsReplicasExample, Failures)
{
    auto result = run("o=nowhere");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ldap_list_replicas: No such object\n");

    result = run("o=lab", "wrong");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "bind: Invalid credentials\n");

    result = testsupport::run({testsupport::build_path("examples/example_replicas")});
    EXPECT_EQ(result.status, 2);
}

}  // namespace
