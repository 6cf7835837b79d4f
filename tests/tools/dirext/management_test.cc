// The management commands end to end: partitions, replicas, replica,
// whoami, privileges, refresh and trigger against the simulator.
#include "dirext_fixture.h"

namespace dirext_test {
namespace {

constexpr const char *kArc = "2.16.840.1.113719.1.27.100.";

class Management : public DirextTest {
protected:
    void SetUp() override
    {
        start({}, "dn: cn=server1,o=lab\nobjectClass: device\ncn: server1\n\n"
                  "dn: o=empty\nobjectClass: organization\no: empty\n");
        server_->set_values("o=lab", "replica", {"cn=server1,o=lab#0"});
    }
    // Binds as the administrator, or anonymously.
    testsupport::ProcessResult run_as(bool anonymous, const std::vector<std::string> &words)
    {
        std::vector<std::string> rest(words.begin() + 1, words.end());
        if (!anonymous) return run(words[0], rest);
        rest.insert(rest.begin(), {dirext_path(), words[0], "-H", server_->url()});
        auto r = testsupport::run(rest);
        wait_for_unbind();
        return r;
    }
};

struct Step {
    std::vector<std::string> words;  // the command and its operands
    std::string out;
    bool anonymous = false;
};

// One session of an administrator's work, in order: each step sees the
// changes of the steps before it.
const Step kSteps[] = {
    {{"partitions"}, "o=lab: 3 entries, 1 replica\no=empty: 1 entry, 0 replicas\n"},
    {{"partitions", "--json"},
     "{\"partition\":\"o=lab\",\"entries\":3,\"replicas\":[\"cn=server1,o=lab\"]}\n"
     "{\"partition\":\"o=empty\",\"entries\":1,\"replicas\":[]}\n"},
    {{"replicas", "o=lab"},
     "cn=server1,o=lab: master, replica 1, state 0, partition id 1 (local 1), modified 0, purged 0\n"},
    {{"replicas", "o=empty"}, "o=empty: no replicas\n"},
    {{"replica", "add", "o=lab", "cn=admin,o=lab", "Secondary"}, "o=lab: secondary replica added on cn=admin,o=lab\n"},
    {{"replica", "type", "o=lab", "cn=admin,o=lab", "2"}, "o=lab: replica on cn=admin,o=lab is now readonly\n"},
    {{"replicas", "--json", "o=lab"},
     "{\"server\":\"cn=server1,o=lab\",\"partition\":\"o=lab\",\"type\":\"master\",\"type_number\":0,"
     "\"replica_number\":1,\"state\":0,\"partition_id\":1,\"local_partition_id\":1,\"modification_time\":0,"
     "\"purge_time\":0}\n"
     "{\"server\":\"cn=admin,o=lab\",\"partition\":\"o=lab\",\"type\":\"readonly\",\"type_number\":2,"
     "\"replica_number\":2,\"state\":0,\"partition_id\":1,\"local_partition_id\":1,\"modification_time\":0,"
     "\"purge_time\":0}\n"},
    {{"replica", "remove", "o=lab", "cn=admin,o=lab"}, "o=lab: replica removed from cn=admin,o=lab\n"},
    {{"partitions"}, "o=lab: 3 entries, 1 replica\no=empty: 1 entry, 0 replicas\n"},
    {{"whoami"}, "cn=admin,o=lab\n"},
    {{"whoami", "--json"}, "{\"bind_dn\":\"cn=admin,o=lab\"}\n"},
    {{"whoami"}, "anonymous\n", true},
    {{"privileges", "cn=admin,o=lab"}, "63 compare,read,write,self,supervisor,inheritable\n"},
    {{"privileges", "--json", "o=lab", "cn"},
     "{\"dn\":\"o=lab\",\"attribute\":\"cn\",\"subject\":\"\",\"privileges\":3,\"names\":[\"compare\",\"read\"]}\n",
     true},
    {{"refresh"}, "server refresh requested\n"},
    {{"trigger", "JANITOR"}, "janitor triggered\n"},
    {{"trigger", "limber", "cn=server1,o=lab"}, "limber triggered\n"},
};

TEST_F(Management, EachCommandPrintsItsRecordsOrVerdict)
{
    for (const Step &step : kSteps) {
        SCOPED_TRACE(step.words[0] + " " + (step.words.size() > 1 ? step.words[1] : ""));
        auto r = run_as(step.anonymous, step.words);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, step.out);
    }
}

struct Refusal {
    std::vector<std::string> words;
    int arc;           // of the request the server refuses
    int code;          // with this result, which is then the exit status
    std::string what;  // the message's prefix
    std::string text;  // the result code's text
};

const Refusal kRefusals[] = {
    {{"partitions"}, 13, 50, "partitions: o=lab", "Insufficient access"},
    {{"replicas", "o=lab"}, 19, 32, "replicas", "No such object"},
    {{"replicas", "o=lab"}, 17, 16, "replicas: cn=server1,o=lab", "No such attribute"},
    {{"replica", "add", "o=lab", "cn=admin,o=lab", "master"}, 7, 68, "replica add", "Already exists"},
    {{"replica", "remove", "o=lab", "cn=server1,o=lab"}, 11, 53, "replica remove", "Server is unwilling to perform"},
    {{"replica", "type", "o=lab", "cn=server1,o=lab", "1"}, 15, 53, "replica type", "Server is unwilling to perform"},
    {{"whoami"}, 31, 50, "whoami", "Insufficient access"},
    {{"privileges", "o=lab"}, 33, 32, "privileges", "No such object"},
    {{"refresh"}, 9, 51, "refresh", "Server is busy"},
    {{"trigger", "backlink"}, 43, 53, "trigger backlink", "Server is unwilling to perform"},
    {{"trigger", "janitor"}, 47, 53, "trigger janitor", "Server is unwilling to perform"},
    {{"trigger", "limber", "cn=server1,o=lab"}, 49, 53, "trigger limber", "Server is unwilling to perform"},
    {{"trigger", "skulker"}, 51, 53, "trigger skulker", "Server is unwilling to perform"},
    {{"trigger", "schema-sync"}, 53, 53, "trigger schema-sync", "Server is unwilling to perform"},
    {{"trigger", "partition-purge"}, 55, 53, "trigger partition-purge", "Server is unwilling to perform"},
};

TEST_F(Management, RefusalIsReportedAndItsCodeIsTheExitStatus)
{
    for (const Refusal &c : kRefusals) {
        SCOPED_TRACE(c.what);
        server_->clear_script();
        server_->script({.op = "extended", .oid = kArc + std::to_string(c.arc),
                         .reply = {.result_code = c.code, .diagnostic = "scripted"}});
        auto r = run_as(false, c.words);
        EXPECT_EQ(r.status, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "dirext: " + c.what + ": " + c.text + " (" + std::to_string(c.code) +
                             ")\n\tadditional info: scripted\n");
    }
}

TEST_F(Management, MisusedSubcommandIsUsageErrorBeforeConnecting)
{
    const std::string replica = "add PARTITION SERVER TYPE | remove PARTITION SERVER | type PARTITION SERVER TYPE";
    const std::string trigger = "backlink|janitor|skulker|schema-sync|partition-purge | limber SERVER";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"replica", "move", "o=lab", "cn=a"}, "unknown replica command 'move'; one of add, remove, type"},
        {{"replica", "add", "o=lab", "cn=a"}, "too few operands for replica add"},
        {{"replica", "remove", "o=lab", "cn=a", "master"}, "too many operands for replica remove"},
        {{"replica", "type", "o=lab", "cn=a", "primary"},
         "unknown replica type 'primary'; one of master, secondary, readonly, subordinate, or a number"},
        {{"trigger", "sweeper"},
         "unknown process 'sweeper'; one of backlink, janitor, limber, skulker, schema-sync, partition-purge"},
        {{"trigger", "limber"}, "limber needs SERVER, the server's DN"},
        {{"trigger", "skulker", "cn=server1,o=lab"}, "skulker takes no SERVER"},
    };
    for (const auto &[words, message] : cases) {
        auto r = run_as(false, words);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, "dirext: " + words[0] + ": " + message + "\nUsage: dirext " + words[0] + " " +
                             (words[0] == "replica" ? replica : trigger) + "\n");
    }
    EXPECT_TRUE(server_->requests().empty());
}

}  // namespace
}  // namespace dirext_test
