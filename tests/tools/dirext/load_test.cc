// dirext load as a process against the simulator: what it applies, what it
// reports refused and where, malformed input refused before anything is
// sent, the progress bar on a terminal, and the accounting when the load
// ends early.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "bytes.h"
#include "dirext_fixture.h"
#include "paths.h"

namespace dirext_test {
namespace {

constexpr char kStartOid[] = "2.16.840.1.113719.1.142.100.1";
constexpr char kUpdateOid[] = "2.16.840.1.113719.1.142.100.6";
constexpr char kUpdateResponseOid[] = "2.16.840.1.113719.1.142.100.7";
constexpr char kEndOid[] = "2.16.840.1.113719.1.142.100.4";

// People cn=u<first>.. under ou=bulk, five lines each: record k starts on line 5k - 4.
std::string people(int first, int count)
{
    std::string out;
    for (int i = first; i < first + count; ++i) {
        const std::string n = "u" + std::to_string(i);
        out += "dn: cn=" + n + ",ou=bulk,o=lab\nobjectClass: person\ncn: " + n + "\nsn: " + n + "\n\n";
    }
    return out;
}

class LoadTest : public DirextTest {
protected:
    ~LoadTest() override { std::filesystem::remove_all(dir_); }

    void start_with(int max_operations)
    {
        start({.lburp_max_operations = max_operations},
              "dn: ou=bulk,o=lab\nobjectClass: organizationalUnit\nou: bulk\n");
    }
    std::string file(const std::string &ldif) const
    {
        std::ofstream(dir_ + "/in.ldif") << ldif;
        return dir_ + "/in.ldif";
    }
    size_t updates() const
    {
        size_t n = 0;
        for (const auto &r : requests_of("extended")) n += r.oid == kUpdateOid;
        return n;
    }
    int people_present(int count) const
    {
        int n = 0;
        for (int i = 1; i <= count; ++i) n += server_->exists("cn=u" + std::to_string(i) + ",ou=bulk,o=lab");
        return n;
    }

    std::string dir_ = testsupport::temp_dir("dirext-load");
};

TEST_F(LoadTest, AppliesEveryKindOfRecordInBatchesOfMaxOperations)
{
    start_with(2);
    auto r = run("load", {file("version: 1\n\n" + people(1, 2) +
                               "dn: cn=u1,ou=bulk,o=lab\ncontrol: 1.2.840.113556.1.4.805 false\nchangetype: modify\n"
                               "replace: sn\nsn:: dHJvdXQ=\n-\nadd: description\ndescription: a long\n  folded line\n\n"
                               "dn: cn=u2,ou=bulk,o=lab\nchangetype: modrdn\nnewrdn: cn=u3\ndeleteoldrdn: 1\n\n"
                               "# gone again\ndn: cn=u3,ou=bulk,o=lab\nchangetype: delete\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "loaded 5 of 5 records: 5 applied, 0 refused, 0 not sent\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(server_->values("cn=u1,ou=bulk,o=lab", "sn"), std::vector<std::string>{"trout"});
    EXPECT_EQ(server_->values("cn=u1,ou=bulk,o=lab", "description"), std::vector<std::string>{"a long folded line"});
    EXPECT_EQ(people_present(3), 1);
    EXPECT_EQ(updates(), 3u);
    // The control goes with its operation: the second request carries its OID.
    EXPECT_NE(requests_of("extended").at(2).value_hex.find(wire::hex("1.2.840.113556.1.4.805")), std::string::npos);
}

struct RefusalCase {
    const char *what;
    std::vector<std::string> args;
    std::string out;
};
void PrintTo(const RefusalCase &c, std::ostream *os) { *os << c.what; }

class LoadRefusals : public LoadTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(LoadRefusals, NameEachRefusedRecordsLineAndExitWithTheFirstCode)
{
    start_with(3);  // the last record in a second request
    auto args = GetParam().args;
    args.push_back(file(people(1, 1) + "dn: cn=admin,o=lab\nobjectClass: person\ncn: admin\nsn: a\n\n" +
                        "dn: cn=x,ou=nowhere,o=lab\nobjectClass: person\ncn: x\nsn: x\n\n" +
                        "dn: o=lab\nchangetype: delete\n"));
    auto r = run("load", args);
    EXPECT_EQ(r.status, 68);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(people_present(1), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Output, LoadRefusals,
    ::testing::Values(
        RefusalCase{"text", {},
                    "refused: line 6 \"cn=admin,o=lab\": Already exists (68)\n"
                    "refused: line 11 \"cn=x,ou=nowhere,o=lab\": No such object (32)\n"
                    "refused: line 16 \"o=lab\": Operation not allowed on non-leaf (66): subordinate objects must "
                    "be deleted first\n"
                    "loaded 4 of 4 records: 1 applied, 3 refused, 0 not sent\n"},
        RefusalCase{"json", {"--json"},
                    "{\"type\":\"refused\",\"record\":2,\"line\":6,\"dn\":\"cn=admin,o=lab\",\"result_code\":68,"
                    "\"result\":\"Already exists\",\"message\":\"\"}\n"
                    "{\"type\":\"refused\",\"record\":3,\"line\":11,\"dn\":\"cn=x,ou=nowhere,o=lab\","
                    "\"result_code\":32,\"result\":\"No such object\",\"message\":\"\"}\n"
                    "{\"type\":\"refused\",\"record\":4,\"line\":16,\"dn\":\"o=lab\",\"result_code\":66,"
                    "\"result\":\"Operation not allowed on non-leaf\",\"message\":\"subordinate objects must be "
                    "deleted first\"}\n"
                    "{\"type\":\"summary\",\"outcome\":\"complete\",\"total\":4,\"skipped\":0,\"applied\":1,"
                    "\"refused\":3,\"unanswered\":0,\"not_sent\":0,\"resume_skip\":4}\n"}),
    [](const auto &info) { return std::string(info.param.what); });

struct MalformedCase {
    const char *what;
    std::string ldif;
    std::string err;  // after "dirext: load: FILE"
    bool from_stdin = false;
};
void PrintTo(const MalformedCase &c, std::ostream *os) { *os << c.what; }

class LoadMalformed : public LoadTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(LoadMalformed, NamesTheLineAndSendsNothing)
{
    const auto &c = GetParam();
    const std::string path = c.from_stdin ? "-" : file(c.ldif);
    auto r = run("load", {path}, {.input = c.from_stdin ? c.ldif : ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "dirext: load: " + (c.from_stdin ? "(standard input)" : path) + c.err + "\n");
    EXPECT_TRUE(requests_of("extended").empty());
}

const std::string kOneGood = people(1, 1);
INSTANTIATE_TEST_SUITE_P(
    Inputs, LoadMalformed,
    ::testing::Values(
        MalformedCase{"no_colon_after_good_records", people(1, 3) + "dn: cn=x,o=lab\ncn x\n",
                      ":17: expected \"name: value\", found \"cn x\""},
        MalformedCase{"bad_base64", kOneGood + "dn: cn=x,o=lab\nsn:: !!\n", ":7: the base64 value does not decode"},
        MalformedCase{"no_dn", "cn: x\n", ":1: expected \"dn:\" to begin the record, found \"cn:\""},
        MalformedCase{"bad_dn", "dn: cn=x,,o=lab\ncn: x\n", ":1: \"cn=x,,o=lab\" is not a valid DN"},
        MalformedCase{"unknown_changetype", "dn: cn=x,o=lab\nchangetype: rename\n",
                      ":2: unknown changetype \"rename\""},
        MalformedCase{"modify_wrong_attribute", "dn: cn=x,o=lab\nchangetype: modify\nadd: cn\nsn: y\n",
                      ":4: expected a value of \"cn\" or \"-\", found \"sn:\""},
        MalformedCase{"modrdn_short", "dn: cn=x,o=lab\nchangetype: modrdn\nnewrdn: cn=y\n",
                      ":3: the record ends before its \"deleteoldrdn:\" line"},
        MalformedCase{"no_attributes", kOneGood + "# none\ndn: cn=x,o=lab\n",
                      ":7: the entry \"cn=x,o=lab\" has no attributes"},
        MalformedCase{"blank_line_missing", "dn: cn=x,o=lab\ncn: x\ndn: cn=y,o=lab\n",
                      ":3: a second \"dn:\" in one record (records are separated by a blank line)"},
        MalformedCase{"stdin", "\n continued\n", ":2: a continued line with no line before it", true}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(LoadTest, DrawsAProgressBarOnATerminalAndEndsWithTheSummary)
{
    start_with(4);
    auto r = run("load", {file(people(1, 20))}, {.terminal = true});
    EXPECT_EQ(r.status, 0);
    const std::regex drawn(
        "\r\\[-{16}\\]   0% 0/20 records\x1b\\[K"
        "(\r\\[[#-]{16}\\] +[0-9]+% [0-9]+/20 records  [0-9,]+ records/s  [0-9]+:[0-9]{2} left\x1b\\[K)+"
        "\r\x1b\\[Kloaded 20 of 20 records: 20 applied, 0 refused, 0 not sent\r\n");
    EXPECT_TRUE(std::regex_match(r.out, drawn)) << r.out;
    EXPECT_NE(r.out.find("] 100% 20/20 records"), std::string::npos);
}

TEST_F(LoadTest, StartRefusedIsItsCodeWithNothingSent)
{
    server_->script({.op = "extended", .oid = kStartOid, .reply = {.result_code = 53, .diagnostic = "not now"}});
    auto r = run("load", {file(people(1, 3))});
    EXPECT_EQ(r.status, 53);
    EXPECT_EQ(r.out, "loaded 0 of 3 records: 0 applied, 0 refused, 3 not sent\n");
    EXPECT_EQ(r.err, "dirext: load: start request refused: Server is unwilling to perform (53): not now\n");
    EXPECT_EQ(updates(), 0u);
}

struct EndingCase {
    const char *what;
    std::vector<std::string> args;
    dirsim::Rule rule;
    int status;
    std::string out, err;
};
void PrintTo(const EndingCase &c, std::ostream *os) { *os << c.what; }

class LoadEndings : public LoadTest, public ::testing::WithParamInterface<EndingCase> {};

// Two requests of two records; both are on their way before the first answer.
TEST_P(LoadEndings, AccountForEveryRecord)
{
    start_with(2);
    server_->script(GetParam().rule);
    auto args = GetParam().args;
    args.push_back(file(people(1, 4)));
    auto r = testsupport::run(argv("load", args));
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, GetParam().err);
}

const std::string kNoneConfirmed = "dirext: load: no record is confirmed: load the file again from the start\n"
                                   "dirext: load: records 1 to 4 were sent without an answer: the server may have "
                                   "applied them\n";
INSTANTIATE_TEST_SUITE_P(
    Server, LoadEndings,
    ::testing::Values(
        EndingCase{"update_refused_whole", {},
                   {.op = "extended", .oid = kUpdateOid, .skip = 1, .reply = {.result_code = 51, .diagnostic = "busy"}},
                   51,
                   "refused: line 11 \"cn=u3,ou=bulk,o=lab\": Server is busy (51): busy\n"
                   "refused: line 16 \"cn=u4,ou=bulk,o=lab\": Server is busy (51): busy\n"
                   "loaded 4 of 4 records: 2 applied, 2 refused, 0 not sent\n",
                   ""},
        EndingCase{"end_refused",
                   {},
                   {.op = "extended", .oid = kEndOid, .reply = {.result_code = 53, .diagnostic = "no"}},
                   53, "loaded 4 of 4 records: 4 applied, 0 refused, 0 not sent\n",
                   "dirext: load: end request refused: Server is unwilling to perform (53): no\n"},
        EndingCase{"unreadable_answer", {},
                   {.op = "extended", .oid = kUpdateOid, .times = 1,
                    .reply = {.response_name = kUpdateResponseOid, .response_value = "\x30\x05\x02"}},
                   1, "loaded 0 of 4 records: 0 applied, 0 refused, 4 unanswered, 0 not sent\n",
                   "dirext: load: update response: Decoding error (-4)\n" + kNoneConfirmed},
        EndingCase{"no_answer_within_l", {"-l", "1"},
                   {.op = "extended", .oid = kUpdateOid, .times = 1, .reply = {.delay_ms = 2500}}, 1,
                   "loaded 0 of 4 records: 0 applied, 0 refused, 4 unanswered, 0 not sent\n",
                   "dirext: load: no answer to the update request within 1 s\n" + kNoneConfirmed}),
    [](const auto &info) { return std::string(info.param.what); });

// Seven requests of two; the fourth is held, then its connection dropped:
// by then the fifth is on its way (one ahead), the last two are not sent.
TEST_F(LoadTest, DroppedConnectionIsAccountedForAndSkipResumesWithNothingDoubled)
{
    start_with(2);
    const std::string path = file(people(1, 14));
    server_->script({.op = "extended", .oid = kUpdateOid, .skip = 3, .times = 1,
                     .reply = {.delay_ms = 1500, .drop_connection = true}});
    auto dropped = testsupport::run(argv("load", {path}));
    EXPECT_EQ(dropped.status, 1);
    EXPECT_EQ(dropped.out, "loaded 6 of 14 records: 6 applied, 0 refused, 4 unanswered, 4 not sent\n");
    EXPECT_EQ(dropped.err,
              "dirext: load: connection lost: Can't contact LDAP server (-1)\n"
              "dirext: load: the last confirmed record is record 6 (line 26, \"cn=u6,ou=bulk,o=lab\"): --skip 6 "
              "resumes after it\n"
              "dirext: load: records 7 to 10 were sent without an answer: the server may have applied them\n");
    EXPECT_EQ(people_present(14), 6);

    server_->clear_script();
    server_->clear_requests();
    auto resumed = run("load", {"--skip", "6", path});
    EXPECT_EQ(resumed.status, 0);
    EXPECT_EQ(resumed.out, "loaded 8 of 14 records: 8 applied, 0 refused, 0 not sent, 6 skipped\n");
    EXPECT_EQ(people_present(14), 14);
    EXPECT_EQ(updates(), 4u);
}

// A signal ends the load at once; at most the request being answered and
// the one ahead of it are left without an answer.
TEST_F(LoadTest, SignalStopsTheLoadWithTheAccounting)
{
    start_with(1);
    server_->script({.op = "extended", .oid = kUpdateOid, .reply = {.response_name = kUpdateResponseOid,
                                                                     .delay_ms = 100}});
    testsupport::Child child(argv("load", {file(people(1, 40))}));
    for (int i = 0; i < 3000 && updates() < 3; ++i) usleep(10000);
    kill(child.pid(), SIGINT);
    auto r = child.wait();
    EXPECT_EQ(r.status, 1);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, std::regex("loaded ([0-9]+) of 40 records: \\1 applied, 0 refused, "
                                                      "(?:([12]) unanswered, )?([0-9]+) not sent\n")))
        << r.out;
    EXPECT_EQ(std::stoi(m[1]) + (m[2].matched ? std::stoi(m[2]) : 0) + std::stoi(m[3]), 40);
    EXPECT_NE(r.err.find("dirext: load: stopped by a signal\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--skip " + m[1].str() + " resumes after it\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace dirext_test
