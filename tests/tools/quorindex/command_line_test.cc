// The command line: usage, option checks, password handling.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "quorindex_fixture.h"

namespace quorindex_test {
namespace {

std::string usage_text(const std::string &p)
{
    return "Usage: \n" +
           p + " list    [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
           "                       [-l limit] -s <Server DN> [<indexName1> <indexName2> ...]\n" +
           p + " add     [-h hostname] [-p port] [-a] -D <bind DN> -W|[-w password]\n"
           "                       [-l limit] -s <Server DN> <indexDefinition1> [<indexDefinition2> ...]\n" +
           p + " delete  [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
           "                       [-l limit] -s <Server DN> <indexName1> [<indexName2> ...] \n" +
           p + " resume  [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
           "                       [-l limit] -s <Server DN> <indexName1> [<indexName2> ...] \n" +
           p + " suspend [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
           "                       [-l limit] -s <Server DN> <indexName1> [<indexName2> ...] \n"
           "where:\n"
           " list             lists Corvane database index(es)\n"
           " add              adds Corvane database index(es)\n"
           " delete           deletes Corvane database index(es)\n"
           " resume           brings indexes to on-line state\n"
           " suspend          brings indexes to off-line state\n"
           " indexDefinition  each index defintion should look like\n"
           "                  \"<indexName>;<attributeName>;<matchingRule>\" \n"
           "                  where:\n"
           "                  indexName      Name you choose to name your index\n"
           "                  attributeName  Name of attribute to be indexed \n"
           "                  matchingRule   Can be one of VALUE, SUBSTRING or PRESENCE \n"
           "Add options:\n"
           "  -a              Allows a new index to be created with the ancestor ID\n"
           "Index options:\n"
           "  -s serverDN     distinguished name of Corvane server\n"
           "Common options:\n"
           "  -D binddn       bind DN\n"
           "  -e file         key file name for SSL bind\n"
           "  -h host         LDAP server\n"
           "  -l limit        time limit (in seconds) for connect or search\n"
           "  -p port         port on LDAP server\n"
           "  -w passwd       bind passwd (for simple authentication)\n"
           "  -W              prompt for bind passwd\n"
           "  -Z              Start TLS request (-ZZ to require successful response)\n";
}

struct UsageCase {
    const char *what;
    std::vector<std::string> args;  // after the program name
    std::string complaint;          // getopt's own message before the usage text
};
void PrintTo(const UsageCase &c, std::ostream *os) { print_case(c, os); }

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, PrintsUsageAndExitsOne)
{
    std::vector<std::string> argv = {quorindex_path()};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    auto r = testsupport::run(argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, GetParam().complaint + usage_text(quorindex_path()));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, UsageTest,
    ::testing::Values(
        UsageCase{"too_few_arguments", {"list", "-D", "cn=a"}, ""},
        UsageCase{"unknown_command", {"show", "-D", "cn=a", "-w", "x", "-s", "cn=s"}, ""},
        UsageCase{"ancestor_flag_with_list", {"list", "-a", "-D", "cn=a", "-w", "x", "-s", "cn=s"}, ""},
        UsageCase{"ancestor_flag_with_delete", {"delete", "-D", "cn=a", "-w", "x", "-s", "cn=s", "-a", "i"}, ""},
        UsageCase{"add_without_definition", {"add", "-D", "cn=a", "-w", "x", "-s", "cn=s"}, ""},
        UsageCase{"delete_without_name", {"delete", "-D", "cn=a", "-w", "x", "-s", "cn=s"}, ""},
        UsageCase{"resume_without_name", {"RESUME", "-D", "cn=a", "-w", "x", "-s", "cn=s"}, ""},
        UsageCase{"suspend_without_name", {"suspend", "-D", "cn=a", "-w", "x", "-s", "cn=s"}, ""},
        UsageCase{"missing_bind_dn", {"list", "-w", "x", "-s", "cn=s", "-h", "h"}, ""},
        UsageCase{"missing_server_dn", {"list", "-w", "x", "-D", "cn=a", "-h", "h"}, ""},
        UsageCase{"missing_password", {"list", "-s", "cn=s", "-D", "cn=a", "-h", "h"}, ""},
        UsageCase{"unknown_option", {"list", "-x", "-D", "cn=a", "-w", "x", "-s", "cn=s"},
                  "list: invalid option -- 'x'\n"},
        UsageCase{"missing_option_argument", {"List", "-w", "x", "-s", "cn=s", "-D"},
                  "List: option requires an argument -- 'D'\n"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(QuorindexTest, CommandWordIsMatchedWithoutRegardToCase)
{
    auto r = run("LiSt", {"cn"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "\n\tIndex Version: 0\n\tIndex Name: cn\n\tIndex State: Online\n\tIndex Rule: Value\n"
              "\tIndex Type: Added on attribute creation\n\tIndex State Value: Added from server\n"
              "\tQuor Attribute: cn\n\n");
}

TEST_F(QuorindexTest, OptionsMayFollowOperandsAndLastValueWins)
{
    std::vector<std::string> argv = {quorindex_path(), "list", "cn",        "-s", "cn=nowhere,o=lab",
                                     "-h",             "127.0.0.1", "-p", std::to_string(server_->port()),
                                     "-D",             "cn=admin,o=lab", "-w", "secret", "-s", kServerDn};
    auto r = testsupport::run(argv);
    wait_for_unbind();
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(requests_of("search").size(), 1u);
    EXPECT_EQ(requests_of("search")[0].dn, kServerDn);
}

TEST_F(QuorindexTest, WrongPasswordIsBindFailureWithStatus255)
{
    std::vector<std::string> argv = {quorindex_path(), "list", "-h", "127.0.0.1", "-p",
                                     std::to_string(server_->port()), "-D", "cn=admin,o=lab", "-w", "wrong",
                                     "-s", kServerDn};
    auto r = testsupport::run(argv);
    wait_for_unbind();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, "ldap_simple_bind_s: Invalid credentials (49)\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "unbind"}));
}

TEST_F(QuorindexTest, PasswordInArgumentVectorIsOverwritten)
{
    // Hold the bind so the tool is still running while its command line is read.
    server_->script({.op = "bind", .times = 1, .reply = {.delay_ms = 1500}});
    std::vector<std::string> argv = {quorindex_path(), "list", "-h", "127.0.0.1", "-p",
                                     std::to_string(server_->port()), "-D", "cn=admin,o=lab", "-wsecret",
                                     "-w", "longer-secret", "-s", kServerDn};
    testsupport::Child child(argv);
    ASSERT_TRUE(server_->wait_for_requests(1, 5000));
    std::ifstream in("/proc/" + std::to_string(child.pid()) + "/cmdline", std::ios::binary);
    std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    child.wait();
    EXPECT_NE(cmdline.find(std::string("-w******\0-w\0*************\0-s", 28)), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find("secret"), std::string::npos);
}

TEST_F(QuorindexTest, PromptedPasswordIsUsedInsteadOfTheGivenOne)
{
    std::vector<std::string> argv = {quorindex_path(), "list", "-h", "127.0.0.1", "-p",
                                     std::to_string(server_->port()), "-D", "cn=admin,o=lab", "-w", "wrong",
                                     "-W", "-s", kServerDn, "cn"};
    auto r = testsupport::run(argv, {.input = "secret\n", .terminal = true});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Enter LDAP Password: ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("secret"), std::string::npos) << "the password was echoed";
    EXPECT_NE(r.out.find("\tIndex Name: cn\r\n"), std::string::npos) << r.out;
}

TEST_F(QuorindexTest, TimeLimitBoundsTheWaitForAnAnswer)
{
    server_->script({.op = "search", .reply = {.delay_ms = 4000}});
    std::vector<std::string> argv = {quorindex_path(), "list", "-l", "1"};
    for (const auto &a : common_args()) argv.push_back(a);
    auto start = std::chrono::steady_clock::now();
    auto r = testsupport::run(argv);
    auto elapsed = std::chrono::steady_clock::now() - start;
    // The server holds its answer for 4 s; the tool gives up after 1 s.
    EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
    EXPECT_EQ(r.status, 256 - 5);  // LDAP_TIMEOUT
    EXPECT_EQ(r.err, "ldap_search_ext_s: Timed out\n");
}

}  // namespace
}  // namespace quorindex_test
