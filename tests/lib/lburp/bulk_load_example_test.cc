// examples/bulk_load as a process against the simulator: exact output,
// failures by record, exit status, and the tree it leaves.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "paths.h"
#include "process.h"
#include "sim_session.h"

namespace {

class BulkLoadExample : public simsession::SimTest {
protected:
    dirsim::Options options() const override
    {
        dirsim::Options o = SimTest::options();
        o.lburp_max_operations = 250;
        return o;
    }

    std::string write_ldif(const std::string &text)
    {
        const std::string path = testsupport::temp_dir("bulk_load") + "/load.ldif";
        std::ofstream(path) << text;
        return path;
    }

    testsupport::ProcessResult run(const std::string &ldif, const char *password = "secret")
    {
        return testsupport::run({testsupport::build_path("examples/example_bulk_load"), server_->url(),
                                 simsession::kAdminDn, password, ldif});
    }
};

TEST_F(BulkLoadExample, LoadsInBatchesAndReportsFailedRecords)
{
    std::string ldif = "version: 1\n\n";
    for (int i = 0; i < 600; ++i) {
        const std::string name = "user" + std::to_string(i);
        ldif += "dn: cn=" + name + ",ou=bulk,o=lab\nobjectClass: person\ncn: " + name + "\nsn: " + name + "\n\n";
    }
    ldif += "dn: cn=user17,ou=bulk,o=lab\nobjectClass: person\ncn: user17\nsn: again\n\n"  // 601: exists
            "dn: cn=nobody,ou=bulk,o=lab\nchangetype: delete\n\n"                           // 602: absent
            "dn: cn=user1,ou=bulk,o=lab\nchangetype: modify\nreplace: description\ndescription: first\n-\n\n"
            "dn: cn=user2,ou=bulk,o=lab\nchangetype: modrdn\nnewrdn: cn=user2b\ndeleteoldrdn: 1\n"
            "newsuperior: ou=people,o=lab\n";
    const auto result = run(write_ldif(ldif));
    EXPECT_EQ(result.out,
              "maxOperations 250\n"
              "batch 1: records 1-250, 0 failed\n"
              "batch 2: records 251-500, 0 failed\n"
              "batch 3: records 501-604, 2 failed\n"
              "failed: record 601 \"cn=user17,ou=bulk,o=lab\": Already exists (68)\n"
              "failed: record 602 \"cn=nobody,ou=bulk,o=lab\": No such object (32)\n"
              "loaded 602 of 604 records in 3 batches\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);

    EXPECT_TRUE(server_->exists("cn=user599,ou=bulk,o=lab"));
    EXPECT_EQ(server_->values("cn=user17,ou=bulk,o=lab", "sn"), std::vector<std::string>{"user17"});
    EXPECT_EQ(server_->values("cn=user1,ou=bulk,o=lab", "description"), std::vector<std::string>{"first"});
    EXPECT_EQ(server_->values("cn=user2b,ou=people,o=lab", "cn"), std::vector<std::string>{"user2b"});
    EXPECT_EQ(logged("extended", "2.16.840.1.113719.1.142.100.6").size(), 3u);
}

TEST_F(BulkLoadExample, EverythingAppliedExitsZero)
{
    const auto result = run(write_ldif("dn: cn=one,ou=bulk,o=lab\nobjectClass: person\ncn: one\nsn: one\n"));
    EXPECT_EQ(result.out,
              "maxOperations 250\n"
              "batch 1: records 1-1, 0 failed\n"
              "loaded 1 of 1 records in 1 batches\n");
    EXPECT_EQ(result.status, 0);
}

TEST_F(BulkLoadExample, Errors)
{
    auto missing = run("/nonexistent/file.ldif");
    EXPECT_EQ(missing.err, "bulk_load: cannot open /nonexistent/file.ldif\n");
    EXPECT_EQ(missing.status, 2);

    const std::string ldif = write_ldif("dn: cn=one,ou=bulk,o=lab\ncn: one\n");
    auto refused = run(ldif, "wrong");
    EXPECT_EQ(refused.err, "bulk_load: cannot bind to " + server_->url() + " as cn=admin,o=lab\n");
    EXPECT_EQ(refused.status, 2);

    auto bad = run(write_ldif("dn: cn=one,ou=bulk,o=lab\nchangetype: frobnicate\n"));
    EXPECT_EQ(bad.out, "maxOperations 250\n");
    EXPECT_EQ(bad.err.rfind("bulk_load: ", 0), 0u) << bad.err;
    EXPECT_NE(bad.err.find("bad LDIF record ending at line 2\n"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.status, 2);

    auto usage = testsupport::run({testsupport::build_path("examples/example_bulk_load")});
    EXPECT_EQ(usage.err, "usage: bulk_load URL BIND-DN PASSWORD FILE.ldif\n");
    EXPECT_EQ(usage.status, 2);
}

}  // namespace
