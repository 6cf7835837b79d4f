// dirext events and dirext watch as processes: what they print while another
// connection changes the directory, how they stop, and how they carry on
// after the server went away and came back.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "dirext_fixture.h"
#include "ldap_session.h"

namespace dirext_test {
namespace {

using testsupport::Ldap;

const std::string kPeople = "dn: ou=people,o=lab\nobjectClass: organizationalUnit\nou: people\n";
const std::string kCancel = "1.3.6.1.1.8";
const std::string kMonitor = "2.16.840.1.113719.1.27.100.79";
const std::string kFilteredMonitor = "2.16.840.1.113719.1.27.100.84";

// dirext running while the test works; its standard output goes to a file
// that the test reads as it grows.
class Running {
public:
    explicit Running(const std::vector<std::string> &argv) : path_(temp_path()), child_(through_shell(argv, path_)) {}
    ~Running() { unlink(path_.c_str()); }

    std::string output() const
    {
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Polls the output until `ready` holds (false after timeout_ms).
    bool wait_until(const std::function<bool(const std::string &)> &ready, int timeout_ms = 20000) const
    {
        for (int i = 0; i < timeout_ms / 20; ++i) {
            if (ready(output())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    testsupport::ProcessResult wait()
    {
        auto r = child_.wait();
        r.out = output();
        return r;
    }
    testsupport::ProcessResult stop(int signal)
    {
        kill(child_.pid(), signal);
        return wait();
    }

private:
    static std::string temp_path()
    {
        std::string path = ::testing::TempDir() + "dirext-monitor-XXXXXX";
        close(mkstemp(path.data()));
        return path;
    }
    static std::vector<std::string> through_shell(const std::vector<std::string> &argv, const std::string &path)
    {
        std::vector<std::string> v = {"/bin/sh", "-c", "exec \"$@\" >\"$0\"", path};
        v.insert(v.end(), argv.begin(), argv.end());
        return v;
    }

    std::string path_;
    testsupport::Child child_;
};

// The output without the synchronising compares, connection numbers as N
// (they count every connection the test program made).
std::string seen(const std::string &out)
{
    std::istringstream in(out);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line.find("sync\"") == std::string::npos) kept += line + "\n";
    return std::regex_replace(kept, std::regex("(\"?connection\"?[=:])[0-9]+"), "$1N");
}

size_t lines(const std::string &out) { return size_t(std::count(out.begin(), out.end(), '\n')); }

void add(LDAP *ld, const std::string &dn, const char *cn)
{
    char *oc[] = {const_cast<char *>("person"), nullptr}, *cns[] = {const_cast<char *>(cn), nullptr};
    LDAPMod m1 = {LDAP_MOD_ADD, const_cast<char *>("objectClass"), {oc}};
    LDAPMod m2 = {LDAP_MOD_ADD, const_cast<char *>("cn"), {cns}}, m3 = {LDAP_MOD_ADD, const_cast<char *>("sn"), {cns}};
    LDAPMod *mods[] = {&m1, &m2, &m3, nullptr};
    ASSERT_EQ(ldap_add_ext_s(ld, dn.c_str(), mods, nullptr, nullptr), LDAP_SUCCESS);
}

// An add, a modify, a rename and a delete under ou=people.
void change_people(LDAP *ld)
{
    add(ld, "cn=New,ou=people,o=lab", "New");
    char *values[] = {const_cast<char *>("changed"), nullptr};
    LDAPMod mod = {LDAP_MOD_REPLACE, const_cast<char *>("description"), {values}};
    LDAPMod *mods[] = {&mod, nullptr};
    ASSERT_EQ(ldap_modify_ext_s(ld, "cn=New,ou=people,o=lab", mods, nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_EQ(ldap_rename_s(ld, "cn=New,ou=people,o=lab", "cn=Old", nullptr, 1, nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_EQ(ldap_delete_ext_s(ld, "cn=Old,ou=people,o=lab", nullptr, nullptr), LDAP_SUCCESS);
}

class Monitor : public DirextTest {
protected:
    void SetUp() override
    {
        start({}, kPeople);
        syncer_ = testsupport::open_admin(server_->url());  // before any registration: its bind is not reported
    }

    // Compares (type 8) until dirext reports one more: its registration is
    // then in place.  The lines of these compares end in sync".
    void sync(const Running &tool)
    {
        if (!syncer_) syncer_ = testsupport::open_admin(server_->url());
        auto syncs = [](const std::string &out) { return lines(out) - lines(seen(out)); };
        const size_t before = syncs(tool.output());
        berval value = {4, const_cast<char *>("sync")};
        for (int i = 0; i < 100; ++i) {
            ldap_compare_ext_s(syncer_.get(), "o=lab", "o", &value, nullptr, nullptr);
            if (tool.wait_until([&](const std::string &out) { return syncs(out) > before; }, 200)) return;
        }
        FAIL() << "the registration never reported the compares";
    }
    // Polls the log until it holds n requests of op with that oid.
    bool logged(const std::string &op, const std::string &oid, size_t n) const
    {
        for (int i = 0; i < 1000; ++i) {
            auto log = requests_of(op);
            if (size_t(std::count_if(log.begin(), log.end(), [&](auto &r) { return r.oid == oid; })) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    Ldap syncer_;
};

TEST_F(Monitor, EventsPrintsEveryKindAsTextLinesAndEndsWithCancelOnSigint)
{
    Running tool(argv("events"));
    sync(tool);
    {
        Ldap changer = testsupport::open_admin(server_->url());
        change_people(changer.get());
    }
    ASSERT_TRUE(tool.wait_until([](const std::string &out) { return lines(seen(out)) >= 7; }));
    auto r = tool.stop(SIGINT);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string by = "connection=N message_id=", as = " bound_dn=\"cn=admin,o=lab\" ",
                      from = " address=\"127.0.0.1\"\n", connection = "type=2 result=0 kind=connection connection=N ";
    EXPECT_EQ(seen(r.out),
              connection + "opened=1 remote_address=\"127.0.0.1\"" + from +
              "type=1 result=0 kind=auth " + by + "1 dn=\"cn=admin,o=lab\" method=0 mechanism=\"simple\"" + from +
              "type=4 result=0 kind=update " + by + "2" + as + "operation=add dn=\"cn=New,ou=people,o=lab\" "
              "attributes=\"objectClass\",\"cn\",\"sn\"" + from +
              "type=6 result=0 kind=update " + by + "3" + as + "operation=modify dn=\"cn=New,ou=people,o=lab\" "
              "attributes=\"description\"" + from +
              "type=7 result=0 kind=moddn " + by + "4" + as + "delete_old_rdn=1 dn=\"cn=New,ou=people,o=lab\" "
              "new_rdn=\"cn=Old\"" + from +
              "type=5 result=0 kind=update " + by + "5" + as + "operation=delete dn=\"cn=Old,ou=people,o=lab\"" + from +
              connection + "opened=0 remote_address=\"127.0.0.1\"" + from);
    EXPECT_TRUE(logged("extended", kCancel, 1));
    EXPECT_EQ(requests_of("extended").front().oid, kMonitor);
}

TEST_F(Monitor, EventsJsonWithAFilteredTypeEndsWithCancelOnSigterm)
{
    Running tool(argv("events", {"--json", "4=ou=people,o=lab", "5", "8"}));
    sync(tool);
    Ldap changer = testsupport::open_admin(server_->url());
    add(changer.get(), "cn=Outside,o=lab", "Outside");
    add(changer.get(), "cn=In,ou=people,o=lab", "In");
    ASSERT_EQ(ldap_delete_ext_s(changer.get(), "cn=Outside,o=lab", nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_TRUE(tool.wait_until([](const std::string &out) { return lines(seen(out)) >= 2; }));
    auto r = tool.stop(SIGTERM);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(seen(r.out),
              R"({"type":4,"result":0,"kind":"update","connection":N,"message_id":3,"bound_dn":"cn=admin,o=lab",)"
              R"("operation":"add","result_code":0,"attribute_count":3,"dn":"cn=In,ou=people,o=lab",)"
              R"("matched_dn":null,"diagnostic":null,"attributes":["objectClass","cn","sn"],"integer4":0,)"
              R"("address_type":1,"address":"127.0.0.1"})" "\n"
              R"({"type":5,"result":0,"kind":"update","connection":N,"message_id":4,"bound_dn":"cn=admin,o=lab",)"
              R"("operation":"delete","result_code":0,"attribute_count":0,"dn":"cn=Outside,o=lab",)"
              R"("matched_dn":null,"diagnostic":null,"attributes":null,"integer4":0,)"
              R"("address_type":1,"address":"127.0.0.1"})" "\n");
    EXPECT_TRUE(logged("extended", kCancel, 1));
    EXPECT_EQ(requests_of("extended").front().oid, kFilteredMonitor);
}

TEST_F(Monitor, EventsCountStopsAfterThatManyEvents)
{
    Running tool(argv("events", {"--count", "3", "8"}));
    berval value = {4, const_cast<char *>("sync")};
    for (int i = 0; i < 100 && !tool.wait_until([](const std::string &out) { return lines(out) >= 3; }, 200); ++i)
        ldap_compare_ext_s(syncer_.get(), "o=lab", "o", &value, nullptr, nullptr);
    for (int i = 0; i < 5; ++i) ldap_compare_ext_s(syncer_.get(), "o=lab", "o", &value, nullptr, nullptr);
    auto r = tool.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), 3u) << r.out;
    EXPECT_TRUE(logged("extended", kCancel, 1));
}

TEST_F(Monitor, EventsRegistersAgainAfterTheServerCameBack)
{
    Running tool(argv("events", {"4", "8"}));
    sync(tool);
    server_->stop();
    syncer_.reset();
    ASSERT_TRUE(server_->start());
    ASSERT_TRUE(logged("extended", kMonitor, 2));
    sync(tool);
    Ldap changer = testsupport::open_admin(server_->url());
    add(changer.get(), "cn=After,o=lab", "After");
    ASSERT_TRUE(tool.wait_until([](const std::string &out) { return lines(seen(out)) >= 1; }));
    auto r = tool.stop(SIGTERM);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(seen(r.out), "type=4 result=0 kind=update connection=N message_id=2 bound_dn=\"cn=admin,o=lab\" "
                           "operation=add dn=\"cn=After,o=lab\" attributes=\"objectClass\",\"cn\",\"sn\" "
                           "address=\"127.0.0.1\"\n");
    EXPECT_NE(r.err.find("; reconnecting\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dirext: reconnected\ndirext: events: registered again for 2 event types\n"),
              std::string::npos) << r.err;
}

TEST_F(Monitor, WatchPrintsEachChangeWithThePreviousDnAndAbandonsOnSigint)
{
    Running tool(argv("watch", {"ou=people,o=lab"}));
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 20000));
    change_people(testsupport::open_admin(server_->url()).get());
    ASSERT_TRUE(tool.wait_until([](const std::string &out) { return lines(out) >= 4; }));
    auto r = tool.stop(SIGINT);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "add cn=New,ou=people,o=lab (change 2)\n"
                     "modify cn=New,ou=people,o=lab (change 3)\n"
                     "moddn cn=Old,ou=people,o=lab from cn=New,ou=people,o=lab (change 4)\n"
                     "delete cn=Old,ou=people,o=lab (change 5)\n");
    EXPECT_TRUE(logged("abandon", "", 1));
}

TEST_F(Monitor, WatchJsonOnlyTheChangesAskedFor)
{
    Running tool(argv("watch", {"--json", "--changes", "moddn,delete", "--scope", "one", "ou=people,o=lab"}));
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 20000));
    change_people(testsupport::open_admin(server_->url()).get());
    ASSERT_TRUE(tool.wait_until([](const std::string &out) { return lines(out) >= 2; }));
    auto r = tool.stop(SIGTERM);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, R"({"change":"moddn","dn":"cn=Old,ou=people,o=lab","previous_dn":"cn=New,ou=people,o=lab",)"
                     R"("change_number":4})" "\n"
                     R"({"change":"delete","dn":"cn=Old,ou=people,o=lab","previous_dn":null,"change_number":5})" "\n");
}

TEST_F(Monitor, WatchCountStopsAfterThatManyChanges)
{
    Running tool(argv("watch", {"--count", "2", "o=lab"}));
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 20000));
    change_people(testsupport::open_admin(server_->url()).get());
    auto r = tool.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "add cn=New,ou=people,o=lab (change 2)\nmodify cn=New,ou=people,o=lab (change 3)\n");
}

TEST_F(Monitor, WatchSearchesAgainAfterTheServerCameBack)
{
    Running tool(argv("watch", {"o=lab"}));
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 20000));
    server_->stop();
    ASSERT_TRUE(server_->start());
    ASSERT_TRUE(server_->wait_for_persistent_searches(1, 20000));
    add(testsupport::open_admin(server_->url()).get(), "cn=After,o=lab", "After");
    ASSERT_TRUE(tool.wait_until([](const std::string &out) { return lines(out) >= 1; }));
    auto r = tool.stop(SIGTERM);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "add cn=After,o=lab (change 2)\n");
    EXPECT_NE(r.err.find("dirext: reconnected\ndirext: watch: following o=lab again\n"), std::string::npos) << r.err;
}

TEST_F(Monitor, RefusalsAndBadValues)
{
    struct Case {
        std::string command;
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {"watch", {"--scope", "subtree", "o=lab"}, 1,
         "dirext: watch: --scope must be base, one or sub, not 'subtree'\n"},
        {"watch", {"--changes", "add,rename", "o=lab"}, 1,
         "dirext: watch: --changes: 'rename' is not add, delete, modify or moddn\n"},
        {"watch", {"--changes", "", "o=lab"}, 1, "dirext: watch: --changes: '' is not add, delete, modify or moddn\n"},
        {"watch", {"o=nowhere"}, 32, "dirext: watch: No such object (32)\n"},
        {"events", {"4:x"}, 1, "dirext: events: '4:x' is not TYPE[:STATUS][=FILTER-DN]\n"},
        {"events", {"4:1=o=lab", "x4"}, 1, "dirext: events: 'x4' is not TYPE[:STATUS][=FILTER-DN]\n"},
    };
    for (const auto &c : cases) {
        auto r = run(c.command, c.args);
        EXPECT_EQ(r.status, c.status) << c.args.front();
        EXPECT_EQ(r.err, c.err);
    }
    auto anonymous = testsupport::run({dirext_path(), "events", "-H", server_->url()});
    EXPECT_EQ(anonymous.status, 50);
    EXPECT_EQ(anonymous.err, "dirext: events: Insufficient access (50)\n"
                             "\tadditional info: event monitoring needs an authenticated connection\n");
}

}  // namespace
}  // namespace dirext_test
