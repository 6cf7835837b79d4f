// quorindex against a real directory server (a private slapd): the listing,
// the three kinds of modification, and the bind and search failures, read
// back from slapd itself.  slapd does not know the limber trigger and answers
// it with protocolError, so every modifying command ends with status 2 after
// its modification took effect.
#include <algorithm>

#include "paths.h"
#include "process.h"
#include "slapd.h"

namespace {

using testsupport::Slapd;

// What ldap_perror prints for slapd's answer to the unknown extended operation.
constexpr char kTriggerRefused[] =
    "ldap_extended_operation failed: : Protocol error (2)\n"
    "\tadditional info: unsupported extended operation\n";

constexpr char kIdx1Block[] =
    "\tIndex Version: 0\n"
    "\tIndex Name: idx1\n"
    "\tIndex State: Online\n"
    "\tIndex Rule: Value\n"
    "\tIndex Type: User defined\n"
    "\tIndex State Value: Added from server\n"
    "\tQuor Attribute: cn, sn\n"
    "\n";
constexpr char kIdx2Block[] =
    "\tIndex Version: 0\n"
    "\tIndex Name: idx2\n"
    "\tIndex State: Offline\n"
    "\tIndex Rule: Substring\n"
    "\tIndex Type: User defined\n"
    "\tIndex State Value: Added from server\n"
    "\tQuor Attribute: mail\n"
    "\n";

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// Named in lower case so that `ctest -R interop` selects these cases.
class quorindex_interop : public testsupport::SlapdTest {
protected:
    testsupport::ProcessResult quorindex(const std::string &command, const std::vector<std::string> &operands,
                                         const std::string &bind_dn = Slapd::kRootDn,
                                         const std::string &password = Slapd::kRootPassword,
                                         const std::string &server_dn = Slapd::kServerDn)
    {
        std::vector<std::string> argv = {testsupport::build_path("tools/quorindex/quorindex"), command,
                                         "-h", "127.0.0.1", "-p", std::to_string(slapd().port()),
                                         "-D", bind_dn, "-w", password, "-s", server_dn};
        argv.insert(argv.end(), operands.begin(), operands.end());
        return testsupport::run(argv);
    }

    const std::vector<std::string> seeded_ = {"0$idx1$0$0$0$1$cn$sn", "0$idx2$1$2$0$1$mail"};
};

TEST_F(quorindex_interop, ListShowsTheStoredValues)
{
    struct Case {
        std::vector<std::string> names;
        std::string out;
    };
    for (const Case &c : {Case{{}, std::string("\n") + kIdx1Block + kIdx2Block},
                          Case{{"IDX2"}, std::string("\n") + kIdx2Block},
                          Case{{"idx2", "idx1"}, std::string("\n") + kIdx2Block + kIdx1Block}}) {
        auto r = quorindex("list", c.names);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, c.out);
    }
}

TEST_F(quorindex_interop, AddStoresTheValueThoughTheTriggerIsRefused)
{
    auto r = quorindex("add", {"idx9;cn;VALUE"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, std::string(kTriggerRefused) + "Index(es) addition failed.\n");
    auto expected = seeded_;
    expected.push_back("0$idx9$2$0$0$1$cn");
    EXPECT_EQ(sorted(slapd().index_definitions()), sorted(expected));
}

TEST_F(quorindex_interop, DeleteRemovesExactlyTheNamedValue)
{
    // Matched by name in any case; slapd removes the stored value itself.
    auto r = quorindex("delete", {"IDX1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, std::string(kTriggerRefused) + "Index deletion failed.\n");
    EXPECT_EQ(slapd().index_definitions(), std::vector<std::string>{"0$idx2$1$2$0$1$mail"});
}

TEST_F(quorindex_interop, SuspendAndResumeRewriteTheStateField)
{
    struct Step {
        std::string command;
        std::string verdict;
        std::string idx1;
    };
    for (const Step &s : {Step{"suspend", "Index(es) suspension failed.\n", "0$idx1$1$0$0$1$cn$sn"},
                          Step{"resume", "Index(es) resumption failed.\n", "0$idx1$3$0$0$1$cn$sn"}}) {
        SCOPED_TRACE(s.command);
        auto r = quorindex(s.command, {"idx1"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "\n");
        EXPECT_EQ(r.err, std::string(kTriggerRefused) + s.verdict);
        EXPECT_EQ(sorted(slapd().index_definitions()), sorted({s.idx1, "0$idx2$1$2$0$1$mail"}));
    }
}

TEST_F(quorindex_interop, BindAndSearchFailuresChangeNothing)
{
    struct Case {
        const char *what;
        std::string bind_dn, password, server_dn;
        int status;
        std::string err;
    };
    for (const Case &c :
         {Case{"wrong_root_password", Slapd::kRootDn, "wrong", Slapd::kServerDn, 255,
               "ldap_simple_bind_s: Invalid credentials (49)\n"},
          Case{"wrong_user_password", Slapd::kUserDn, "wrong", Slapd::kServerDn, 255,
               "ldap_simple_bind_s: Invalid credentials (49)\n"},
          // The command ran, so its verdict follows; a failed bind ends the run before it.
          Case{"unknown_server_dn", Slapd::kUserDn, Slapd::kUserPassword, "cn=server9,ou=servers,o=lab", 32,
               "ldap_search_ext_s: No such object\nIndex(es) addition failed.\n"}}) {
        SCOPED_TRACE(c.what);
        auto r = quorindex("add", {"idx9;cn;VALUE"}, c.bind_dn, c.password, c.server_dn);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "\n");
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(slapd().index_definitions(), seeded_);
}

}  // namespace
