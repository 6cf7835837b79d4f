// examples/digest_bind against the directory simulator: exact output and
// exit status.
#include "digest_sim.h"
#include "paths.h"
#include "process.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class DigestBindExample : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = sasltest::start_sim();
        ASSERT_TRUE(server_);
        server_->set_values(sasltest::kSimSettings, "saslRealm", {"one", "two"});
    }

    testsupport::ProcessResult run(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{testsupport::build_path("examples/example_digest_bind"), server_->url()};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::RunOptions options;
        options.env = {"LDAPNOINIT=1"};
        return testsupport::run(argv, options);
    }

    std::unique_ptr<dirsim::Server> server_;
};

const char kRealms[] = "realms offered:\n  1. two\n  2. one\n";

TEST_F(DigestBindExample, BindsAndReportsTheServersProof)
{
    const auto r = run({"alice", "wonderland", "2"});
    EXPECT_EQ(std::string(kRealms) + "answering for realm one\nbound as alice; the server proved its identity\n", r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0, r.status);
}

TEST_F(DigestBindExample, RefusalsForEitherSide)
{
    for (const bool server_fails : {false, true}) {
        server_->set_values(sasltest::kSimSettings, "saslFault",
                            server_fails ? std::vector<std::string>{"wrong-rspauth"} : std::vector<std::string>{});
        const auto r = run({"alice", server_fails ? "wonderland" : "looking-glass"});
        EXPECT_EQ(std::string(kRealms) + "answering for realm two\n"
                                         "bind refused (49): wrong user or password, or the server could not prove "
                                         "its identity\n",
                  r.out);
        EXPECT_EQ(1, r.status);
    }
}

TEST_F(DigestBindExample, NoSuchRealmAndUsage)
{
    auto r = run({"alice", "wonderland", "3"});
    EXPECT_EQ(kRealms, r.out);
    EXPECT_EQ("no realm number 3\n", r.err);
    EXPECT_EQ(1, r.status);
    r = run({"alice"});
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("usage: "));
}

}  // namespace
