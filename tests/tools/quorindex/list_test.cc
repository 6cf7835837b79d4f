// quorindex list: the listing layout and the lookups by name.
#include "quorindex_fixture.h"

namespace quorindex_test {
namespace {

constexpr const char kCnBlock[] =
    "\tIndex Version: 0\n\tIndex Name: cn\n\tIndex State: Online\n\tIndex Rule: Value\n"
    "\tIndex Type: Added on attribute creation\n\tIndex State Value: Added from server\n"
    "\tQuor Attribute: cn\n\n";
constexpr const char kUniqueIdBlock[] =
    "\tIndex Version: 0\n\tIndex Name: uniqueID\n\tIndex State: Online\n\tIndex Rule: Value\n"
    "\tIndex Type: required for operation\n\tIndex State Value: Added from server\n"
    "\tQuor Attribute: uniqueID\n\n";
constexpr const char kSurnameBlock[] =
    "\tIndex Version: 0\n\tIndex Name: surname\n\tIndex State: Offline\n\tIndex Rule: Substring\n"
    "\tIndex Type: User defined\n\tIndex State Value: Added from server\n"
    "\tQuor Attribute: sn\n\n";
constexpr const char kMultiBlock[] =
    "\tIndex Version: 0\n\tIndex Name: multi\n\tIndex State: Pending\n\tIndex Rule: Value\n"
    "\tIndex Type: User defined\n\tIndex State Value: Modified from local DIB\n"
    "\tQuor Attribute: givenName, sn, mail\n\n";

TEST_F(QuorindexTest, ListWithoutNamesShowsEveryIndexWithOneSearch)
{
    auto r = run("list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::string("\n") + kCnBlock + kUniqueIdBlock + kSurnameBlock + kMultiBlock);
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "unbind"}));
    auto search = requests_of("search").at(0);
    EXPECT_EQ(search.dn, kServerDn);
    EXPECT_EQ(search.detail, "scope=base filter=(objectclass=*) attrs=indexDefinition");
    EXPECT_EQ(requests_of("bind").at(0).dn, "cn=admin,o=lab");
}

TEST_F(QuorindexTest, ListNamesInOperandOrderWithoutRegardToCase)
{
    auto r = run("list", {"MULTI", "cn"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("\n") + kMultiBlock + kCnBlock);
}

TEST_F(QuorindexTest, ListShowsEveryValueThatCarriesTheName)
{
    set_index_values({"0$cn$0$0$1$1$cn", "0$CN$0$1$0$1$cn"});
    auto r = run("list", {"cn"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("\n") + kCnBlock +
                         "\tIndex Version: 0\n\tIndex Name: CN\n\tIndex State: Online\n\tIndex Rule: Presence\n"
                         "\tIndex Type: User defined\n\tIndex State Value: Added from server\n"
                         "\tQuor Attribute: cn\n\n");
}

TEST_F(QuorindexTest, ListOfMissingNamesListsNothing)
{
    auto r = run("list", {"cn", "nope", "gone"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid index(es): nope, gone,");
    EXPECT_EQ(r.out, "\n\b.\n");
}

TEST_F(QuorindexTest, ListOfObjectWithoutIndexesPrintsNothingAndFails)
{
    std::vector<std::string> argv = {quorindex_path(), "list", "-h", "127.0.0.1", "-p",
                                     std::to_string(server_->port()), "-D", "cn=admin,o=lab", "-w", "secret",
                                     "-s", "cn=empty,o=lab"};
    auto r = testsupport::run(argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(QuorindexTest, ListOfUnknownServerObjectReportsTheSearchFailure)
{
    std::vector<std::string> argv = {quorindex_path(), "list", "-h", "127.0.0.1", "-p",
                                     std::to_string(server_->port()), "-D", "cn=admin,o=lab", "-w", "secret",
                                     "-s", "cn=nowhere,o=lab"};
    auto r = testsupport::run(argv);
    EXPECT_EQ(r.status, 32);
    EXPECT_EQ(r.err, "ldap_search_ext_s: No such object\n");
}

// Values the tool cannot fully interpret are shown as they are, never
// mistaken for another index.
TEST_F(QuorindexTest, ListShowsUninterpretableValuesPlainly)
{
    set_index_values({"7$odd$9$x$4$5$a$$b", "1$short$0", "lonely", "0$cn$0$0$1$1$cn"});
    auto r = run("list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("\n") +
                         "\tIndex Version: 7\n\tIndex Name: odd\n\tIndex State: Unknown (9)\n"
                         "\tIndex Rule: Unknown (x)\n\tIndex Type: Unknown (4)\n"
                         "\tIndex State Value: Unknown (5)\n\tQuor Attribute: a, b\n\n"
                         "\tIndex Version: 1\n\tIndex Name: short\n\tIndex State: Online\n"
                         "\tIndex Rule: (missing)\n\tIndex Type: (missing)\n\tIndex State Value: (missing)\n"
                         "\tQuor Attribute:\n\n"
                         "\tIndex Version: lonely\n\tIndex Name: (missing)\n\tIndex State: (missing)\n"
                         "\tIndex Rule: (missing)\n\tIndex Type: (missing)\n\tIndex State Value: (missing)\n"
                         "\tQuor Attribute:\n\n" +
                         kCnBlock);
    // A value without a name field never answers to a name.
    auto named = run("list", {"lonely"});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, "Invalid index(es): lonely,");
}

}  // namespace
}  // namespace quorindex_test
