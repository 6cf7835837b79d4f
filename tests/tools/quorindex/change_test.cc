// quorindex delete, suspend and resume.
#include <gmock/gmock.h>

#include "quorindex_fixture.h"

namespace quorindex_test {
namespace {

using ::testing::Contains;
using ::testing::Not;

TEST_F(QuorindexTest, DeleteRemovesTheStoredValuesOfTheNames)
{
    auto r = run("delete", {"SURNAME", "cn"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nIndex(es) deletion successful.\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "modify", "extended", "unbind"}));
    EXPECT_EQ(requests_of("modify").at(0).detail, "delete indexDefinition: 0$surname$1$2$0$1$sn | 0$cn$0$0$1$1$cn");
    EXPECT_EQ(index_values(), (std::vector<std::string>{"0$uniqueID$0$0$2$1$uniqueID",
                                                        "0$multi$0$0$0$4$givenName$sn$mail"}));
}

TEST_F(QuorindexTest, DeleteNamingAnIndexTwiceSendsItsValueOnce)
{
    auto r = run("delete", {"cn", "CN"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(requests_of("modify").at(0).detail, "delete indexDefinition: 0$cn$0$0$1$1$cn");
}

TEST_F(QuorindexTest, DeleteOfMissingIndexesChangesNothing)
{
    auto r = run("delete", {"nope", "cn", "gone"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, "Index(es) nope, gone does not exist. Index deletion failed.\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "unbind"}));
}

struct StateCase {
    const char *what;
    const char *command;
    std::vector<std::string> stored;
    std::vector<std::string> names;
    std::string modify_detail;
    std::string verdict;
};
void PrintTo(const StateCase &c, std::ostream *os) { print_case(c, os); }

class StateChange : public QuorindexTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StateChange, DeletesOldValuesThenAddsNewOnesInOneModify)
{
    set_index_values(GetParam().stored);
    // Keep the server from finishing the change, so the stored state shows.
    server_->script({.op = "extended", .oid = kLimberOid, .reply = {.response_name = "2.16.840.1.113719.1.27.100.50"}});
    auto r = run(GetParam().command, GetParam().names);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\n" + GetParam().verdict + "\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "modify", "extended", "unbind"}));
    EXPECT_EQ(requests_of("modify").at(0).detail, GetParam().modify_detail);
}

INSTANTIATE_TEST_SUITE_P(
    States, StateChange,
    ::testing::Values(
        StateCase{"suspend", "suspend", {"0$cn$0$0$1$1$cn", "0$sn$0$0$1$1$sn"}, {"SN", "cn"},
                  "delete indexDefinition: 0$sn$0$0$1$1$sn | 0$cn$0$0$1$1$cn; "
                  "add indexDefinition: 0$sn$1$0$1$1$sn | 0$cn$1$0$1$1$cn",
                  "Index(es) suspension successful."},
        StateCase{"resume", "resume", {"0$cn$1$0$1$1$cn"}, {"cn"},
                  "delete indexDefinition: 0$cn$1$0$1$1$cn; add indexDefinition: 0$cn$3$0$1$1$cn",
                  "Index(es) resumption successful."},
        // The state is the third field whatever the width of the version field.
        StateCase{"long_version_field", "suspend", {"10$idx$0$0$0$1$cn"}, {"idx"},
                  "delete indexDefinition: 10$idx$0$0$0$1$cn; add indexDefinition: 10$idx$1$0$0$1$cn",
                  "Index(es) suspension successful."},
        StateCase{"name_given_twice", "resume", {"0$cn$1$0$1$1$cn"}, {"cn", "Cn"},
                  "delete indexDefinition: 0$cn$1$0$1$1$cn; add indexDefinition: 0$cn$3$0$1$1$cn",
                  "Index(es) resumption successful."}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(QuorindexTest, ResumedIndexIsPendingUntilTheServerActs)
{
    server_->script({.op = "extended", .oid = kLimberOid, .reply = {.response_name = "2.16.840.1.113719.1.27.100.50"}});
    ASSERT_EQ(run("resume", {"surname"}).status, 0);
    EXPECT_THAT(index_values(), Contains("0$surname$3$2$0$1$sn"));
    auto r = run("list", {"surname"});
    EXPECT_NE(r.out.find("\tIndex State: Pending\n"), std::string::npos) << r.out;
}

TEST_F(QuorindexTest, SuspendedIndexIsListedOffline)
{
    ASSERT_EQ(run("suspend", {"cn"}).status, 0);
    EXPECT_THAT(index_values(), Contains("0$cn$1$0$1$1$cn"));
    EXPECT_THAT(index_values(), Not(Contains("0$cn$0$0$1$1$cn")));
    auto r = run("list", {"cn"});
    EXPECT_NE(r.out.find("\tIndex State: Offline\n"), std::string::npos) << r.out;
}

TEST_F(QuorindexTest, ResumeBringsAnIndexOnlineThroughTheLimberProcess)
{
    ASSERT_EQ(run("resume", {"surname"}).status, 0);
    EXPECT_THAT(index_values(), Contains("0$surname$0$2$0$1$sn"));
}

TEST_F(QuorindexTest, StateChangeOfMissingIndexesChangesNothing)
{
    auto r = run("suspend", {"nope", "cn", "gone"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Index(es) nope, gone,\b does not exists. Index(es) suspension failed.\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "unbind"}));
    auto resumed = run("resume", {"gone"});
    EXPECT_EQ(resumed.err, "Index(es) gone,\b does not exists. Index(es) resumption failed.\n");
}

TEST_F(QuorindexTest, StateChangeRefusesValueWithoutStateField)
{
    set_index_values({"0$bare"});
    auto r = run("suspend", {"bare"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid stored index definition: 0$bare. Index(es) suspension failed.\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "unbind"}));
}

}  // namespace
}  // namespace quorindex_test
