#include "quorindex_fixture.h"

#include "paths.h"
#include "sim_fixture.h"

namespace quorindex_test {
namespace {

const std::string kTree = testsupport::kLabTree + R"(
dn: cn=server1,o=lab
objectClass: device
cn: server1
indexDefinition: 0$cn$0$0$1$1$cn
indexDefinition: 0$uniqueID$0$0$2$1$uniqueID
indexDefinition: 0$surname$1$2$0$1$sn
indexDefinition: 0$multi$2$0$0$4$givenName$sn$mail

dn: cn=empty,o=lab
objectClass: device
cn: empty
)";

}  // namespace

std::string quorindex_path() { return testsupport::build_path("tools/quorindex/quorindex"); }

void QuorindexTest::SetUp()
{
    server_ = testsupport::start_sim({.ldif_text = kTree});
    ASSERT_TRUE(server_);
}

std::vector<std::string> QuorindexTest::common_args() const
{
    return {"-h", "127.0.0.1", "-p", std::to_string(server_->port()), "-D", "cn=admin,o=lab", "-w", "secret",
            "-s", kServerDn};
}

testsupport::ProcessResult QuorindexTest::run(const std::string &command, const std::vector<std::string> &args,
                                              const testsupport::RunOptions &options)
{
    std::vector<std::string> argv = {quorindex_path(), command};
    for (const auto &a : common_args()) argv.push_back(a);
    for (const auto &a : args) argv.push_back(a);
    auto result = testsupport::run(argv, options);
    wait_for_unbind();
    return result;
}

void QuorindexTest::wait_for_unbind() const { testsupport::wait_for_unbind(*server_); }

std::vector<std::string> QuorindexTest::operations() const
{
    std::vector<std::string> ops;
    for (const auto &r : server_->requests()) ops.push_back(r.op);
    return ops;
}

std::vector<dirsim::Request> QuorindexTest::requests_of(const std::string &op) const
{
    return testsupport::requests_of(*server_, op);
}

}  // namespace quorindex_test
