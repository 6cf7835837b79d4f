// Failures of the server or the network: the library's message, a non-zero
// status, nothing half done that the tool claims as done.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "quorindex_fixture.h"

namespace quorindex_test {
namespace {

TEST_F(QuorindexTest, RefusedModifyIsReportedWithItsCode)
{
    server_->script({.op = "modify", .reply = {.result_code = 53, .diagnostic = "not now"}});
    auto r = run("add", {"idx1;cn;VALUE"});
    EXPECT_EQ(r.status, 53);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err,
              "ldap_modify_s: Server is unwilling to perform (53)\n"
              "\tadditional info: not now\n"
              "Index(es) addition failed.\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "modify", "unbind"}));
}

TEST_F(QuorindexTest, FailedLimberTriggerKeepsTheChangeAndFails)
{
    server_->script({.op = "extended", .oid = kLimberOid, .reply = {.result_code = 2}});
    auto r = run("delete", {"cn"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "ldap_extended_operation failed: : Protocol error (2)\nIndex deletion failed.\n");
    EXPECT_EQ(index_values().size(), 3u);
}

struct SearchFailure {
    const char *what;
    dirsim::Reply reply;
    int status;
    std::string err;
};
void PrintTo(const SearchFailure &c, std::ostream *os) { print_case(c, os); }

class SearchFails : public QuorindexTest, public ::testing::WithParamInterface<SearchFailure> {};

TEST_P(SearchFails, ForEveryCommand)
{
    server_->script({.op = "search", .reply = GetParam().reply});
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"list", ""}, {"add", "Index(es) addition failed.\n"}, {"delete", "Index deletion failed.\n"},
        {"suspend", "Index(es) suspension failed.\n"}, {"resume", "Index(es) resumption failed.\n"}};
    for (const auto &[command, verdict] : commands) {
        auto r = run(command, {command == "add" ? "i;cn;VALUE" : "cn"});
        EXPECT_EQ(r.status, GetParam().status) << command;
        EXPECT_EQ(r.err, GetParam().err + verdict) << command;
    }
    EXPECT_TRUE(requests_of("modify").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SearchFails,
    ::testing::Values(SearchFailure{"busy", {.result_code = 51}, 51, "ldap_search_ext_s: Server is busy\n"},
                      SearchFailure{"dropped", {.drop_connection = true}, 255,
                                    "ldap_search_ext_s: Can't contact LDAP server\n"},
                      SearchFailure{"garbage", {.raw = std::string("\x30\x05\x02\x01\x02\x65\x7f", 7)}, 256 - 4,
                                    "ldap_search_ext_s: Decoding error\n"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(QuorindexNoServer, ConnectionRefusedIsBindFailure)
{
    // A port nobody listens on: bind one, note it, close it.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    close(fd);
    auto r = testsupport::run({quorindex_path(), "list", "-h", "127.0.0.1", "-p", std::to_string(ntohs(addr.sin_port)),
                               "-D", "cn=admin,o=lab", "-w", "secret", "-s", kServerDn});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, "ldap_simple_bind_s: Can't contact LDAP server (-1)\n");
}

}  // namespace
}  // namespace quorindex_test
