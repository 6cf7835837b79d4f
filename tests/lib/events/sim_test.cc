// Event monitoring end to end against the directory simulator: register,
// watch another connection change the tree, decode each notification, end the
// registration and parse the final response; scripted streams of valid and
// malformed notifications; the example program.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "dirsim/events.h"
#include "dirsim/server.h"
#include "dump.h"
#include "paths.h"
#include "process.h"
#include "sim_fixture.h"
#include "wire.h"

namespace events_test {
namespace {

using namespace wire;
namespace ev = dirsim::events;

constexpr const char *kAdmin = testsupport::kAdminDn;
const std::string kTree = testsupport::kLabTree + R"(
dn: ou=people,o=lab
objectClass: organizationalUnit
ou: people

dn: ou=servers,o=lab
objectClass: organizationalUnit
ou: servers
)";
const std::string kAddress = "NetAddrEventData type=1 length=9 address=\"127.0.0.1\"";

// A session to url, bound as the administrator unless asked not to.
struct Session {
    testsupport::Ldap handle;
    LDAP *ld;
    explicit Session(const std::string &url, bool bind = true)
        : handle(bind ? testsupport::open_admin(url) : testsupport::open_session(url)), ld(handle.get())
    {
    }
};

struct Received {
    int rc = -1;
    int type = -1;
    int result = -1;
    std::string record;
    std::string address;
};

// The next message of the registration: a notification, or (final) the end.
struct Next {
    bool final = false;
    Received event;
    int final_rc = -1, result_code = -1;
    std::string registrations;
};

Next next_message(LDAP *ld, int msgid, int timeout_ms = 5000)
{
    Next n;
    struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    LDAPMessage *m = nullptr;
    int tag = ldap_result(ld, msgid, LDAP_MSG_ONE, &tv, &m);
    if (tag <= 0) {
        n.event.rc = -1000;
        return n;
    }
    if (tag == LDAP_RES_INTERMEDIATE) {
        void *record = nullptr;
        NetAddrEventData *address = nullptr;
        n.event.rc = ldap_parse_ds_event_IP(ld, m, &n.event.type, &n.event.result, &record, 1, &address);
        n.event.record = dump(record);
        n.event.address = dump(address);
        ldap_event_free(record);
        ldap_event_free(address);
        return n;
    }
    n.final = true;
    int count = 0;
    EventSpecifier *list = nullptr;
    n.final_rc = ldap_parse_monitor_events_response(ld, m, &n.result_code, nullptr, &count, &list, 1);
    for (int i = 0; i < count; ++i)
        n.registrations += "(" + std::to_string(list[i].eventType) + "," + std::to_string(list[i].eventStatus) + ")";
    ldapx_memfree(list);
    return n;
}

int add_entry(LDAP *ld, const std::string &dn, const char *cn)
{
    char *oc[] = {const_cast<char *>("person"), nullptr}, *cns[] = {const_cast<char *>(cn), nullptr},
         *sn[] = {const_cast<char *>("X"), nullptr};
    LDAPMod m1 = {LDAP_MOD_ADD, const_cast<char *>("objectClass"), {oc}};
    LDAPMod m2 = {LDAP_MOD_ADD, const_cast<char *>("cn"), {cns}};
    LDAPMod m3 = {LDAP_MOD_ADD, const_cast<char *>("sn"), {sn}};
    LDAPMod *mods[] = {&m1, &m2, &m3, nullptr};
    return ldap_add_ext_s(ld, dn.c_str(), mods, nullptr, nullptr);
}

class SimEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = testsupport::start_sim({.ldif_text = kTree});
        ASSERT_TRUE(server);
    }

    // Registers `specs` on the monitor session and waits until the simulator
    // reports to it: a compare from another connection must come through.
    int register_and_sync(Session &monitor, std::vector<EventSpecifier> specs)
    {
        specs.push_back({ev::kCompare, 0});
        int msgid = -1;
        EXPECT_EQ(ldap_monitor_events(monitor.ld, int(specs.size()), specs.data(), &msgid), LDAP_SUCCESS);
        Session other(server->url(), false);
        for (int attempt = 0; attempt < 50; ++attempt) {
            struct berval v = {1, const_cast<char *>("x")};
            int ignored = 0;
            ldap_compare_ext(other.ld, "o=lab", "o", &v, nullptr, nullptr, &ignored);
            Next n = next_message(monitor.ld, msgid, 100);
            if (n.event.rc == LDAP_SUCCESS && n.event.type == ev::kCompare) break;
        }
        // Anything else of the sync is skipped, up to a quiet moment.
        while (next_message(monitor.ld, msgid, 200).event.rc != -1000) {
        }
        return msgid;
    }

    std::unique_ptr<dirsim::Server> server;
};

TEST_F(SimEvents, AnotherConnectionsChangesArriveDecodedThenCancelEndsWithTheList)
{
    Session monitor(server->url());
    const int msgid = register_and_sync(monitor, {{ev::kBind, 0}, {ev::kAdd, 1}, {ev::kModify, 0}, {ev::kModDn, 0},
                                                  {ev::kSearch, 0}, {ev::kDelete, 2}});

    Session changer(server->url());  // binds: msgid 1
    ASSERT_EQ(add_entry(changer.ld, "cn=New,ou=people,o=lab", "New"), LDAP_SUCCESS);  // 2
    char *desc[] = {const_cast<char *>("changed"), nullptr};
    LDAPMod mod = {LDAP_MOD_REPLACE, const_cast<char *>("description"), {desc}};
    LDAPMod *mods[] = {&mod, nullptr};
    ASSERT_EQ(ldap_modify_ext_s(changer.ld, "cn=New,ou=people,o=lab", mods, nullptr, nullptr), LDAP_SUCCESS);  // 3
    ASSERT_EQ(ldap_rename_s(changer.ld, "cn=New,ou=people,o=lab", "cn=Renamed", nullptr, 1, nullptr, nullptr),
              LDAP_SUCCESS);  // 4
    char *attrs[] = {const_cast<char *>("cn"), nullptr};
    LDAPMessage *res = nullptr;
    ASSERT_EQ(ldap_search_ext_s(changer.ld, "ou=people,o=lab", LDAP_SCOPE_ONELEVEL, "(cn=Renamed)", attrs, 0,
                                nullptr, nullptr, nullptr, 0, &res),
              LDAP_SUCCESS);  // 5
    ldap_msgfree(res);
    ASSERT_EQ(ldap_delete_ext_s(changer.ld, "cn=Renamed,ou=people,o=lab", nullptr, nullptr), LDAP_SUCCESS);  // 6
    EXPECT_EQ(ldap_delete_ext_s(changer.ld, "cn=Gone,ou=people,o=lab", nullptr, nullptr), LDAP_NO_SUCH_OBJECT);  // 7

    Next first = next_message(monitor.ld, msgid);
    ASSERT_EQ(first.event.rc, LDAP_SUCCESS);
    ASSERT_EQ(first.event.type, ev::kBind);
    // The changer's connection number, as the simulator counts them.
    const std::string c = first.event.record.substr(first.event.record.find('{') + 1,
                                                    first.event.record.find(',') - first.event.record.find('{') - 1);
    const std::string conn = "connection={" + c + ",";
    const std::vector<Received> expected = {
        {0, ev::kBind, 0,
         "AuthEventData " + conn + "1,null} integer1=3 integer2=0 string1=\"cn=admin,o=lab\" integer3=0 "
         "string2=\"simple\" list1=null integer4=0", kAddress},
        {0, ev::kAdd, 0,
         "UpdateEventData " + conn + "2,\"cn=admin,o=lab\"} integer1=104 integer2=0 integer3=3 "
         "string1=\"cn=New,ou=people,o=lab\" string2=null string3=null list1=[\"objectClass\",\"cn\",\"sn\"] "
         "integer4=0", kAddress},
        {0, ev::kModify, 0,
         "UpdateEventData " + conn + "3,\"cn=admin,o=lab\"} integer1=102 integer2=0 integer3=1 "
         "string1=\"cn=New,ou=people,o=lab\" string2=null string3=null list1=[\"description\"] integer4=0",
         kAddress},
        {0, ev::kModDn, 0,
         "ModDNEventData " + conn + "4,\"cn=admin,o=lab\"} integer1=1 integer2=0 string1=\"cn=New,ou=people,o=lab\" "
         "string2=\"cn=Renamed\" string3=null string4=null list1=null integer3=0", kAddress},
        {0, ev::kSearch, 0,
         "SearchEventData " + conn + "5,\"cn=admin,o=lab\"} integer1=1 integer2=0 string1=\"ou=people,o=lab\" "
         "string2=\"(cn=Renamed)\" integer3=0 string3=null list1=[\"cn\"] list2=null integer4=0", kAddress},
        {0, ev::kDelete, 0,
         "UpdateEventData " + conn + "6,\"cn=admin,o=lab\"} integer1=74 integer2=0 integer3=0 "
         "string1=\"cn=Renamed,ou=people,o=lab\" string2=null string3=null list1=null integer4=0", kAddress},
        {0, ev::kDelete, LDAP_NO_SUCH_OBJECT,
         "UpdateEventData " + conn + "7,\"cn=admin,o=lab\"} integer1=74 integer2=32 integer3=0 "
         "string1=\"cn=Gone,ou=people,o=lab\" string2=\"ou=people,o=lab\" string3=null list1=null integer4=0",
         kAddress},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i));
        Next n = i == 0 ? first : next_message(monitor.ld, msgid);
        ASSERT_FALSE(n.final);
        EXPECT_EQ(n.event.rc, LDAP_SUCCESS);
        EXPECT_EQ(n.event.type, expected[i].type);
        EXPECT_EQ(n.event.result, expected[i].result);
        EXPECT_EQ(n.event.record, expected[i].record);
        EXPECT_EQ(n.event.address, expected[i].address);
    }

    int cancel_id = -1;
    ASSERT_EQ(ldap_cancel(monitor.ld, msgid, nullptr, nullptr, &cancel_id), LDAP_SUCCESS);
    Next end = next_message(monitor.ld, msgid);
    ASSERT_TRUE(end.final);
    EXPECT_EQ(end.final_rc, LDAP_SUCCESS);
    EXPECT_EQ(end.result_code, LDAP_CANCELLED);
    EXPECT_EQ(end.registrations, "(1,0)(4,1)(6,0)(7,0)(3,0)(5,2)(8,0)");
}

TEST_F(SimEvents, ServerShutdownEndsTheRegistrationWithItsFinalResponse)
{
    Session monitor(server->url());
    const int msgid = register_and_sync(monitor, {{ev::kAdd, 0}});
    server->stop();
    Next end = next_message(monitor.ld, msgid);
    ASSERT_TRUE(end.final);
    EXPECT_EQ(end.final_rc, LDAP_SUCCESS);
    EXPECT_EQ(end.result_code, LDAP_SUCCESS);
    EXPECT_EQ(end.registrations, "(4,0)(8,0)");
}

TEST_F(SimEvents, FilteredRegistrationReportsOnlyItsSubtree)
{
    Session monitor(server->url());
    FilteredEventSpecifier specs[] = {{ev::kAdd, 0, "ou=people,o=lab"}, {ev::kCompare, 0, ""}};
    int msgid = -1;
    ASSERT_EQ(ldap_monitor_events_filtered(monitor.ld, 2, specs, &msgid), LDAP_SUCCESS);
    ASSERT_TRUE(server->wait_for_requests(2, 2000));
    Session other(server->url(), false);
    for (int attempt = 0; attempt < 50; ++attempt) {  // wait for the registration to take effect
        struct berval v = {1, const_cast<char *>("x")};
        int ignored = 0;
        ldap_compare_ext(other.ld, "o=lab", "o", &v, nullptr, nullptr, &ignored);
        if (next_message(monitor.ld, msgid, 100).event.type == ev::kCompare) break;
    }
    Session changer(server->url());
    ASSERT_EQ(add_entry(changer.ld, "cn=S,ou=servers,o=lab", "S"), LDAP_SUCCESS);
    ASSERT_EQ(add_entry(changer.ld, "cn=P,ou=people,o=lab", "P"), LDAP_SUCCESS);
    Next n;
    do n = next_message(monitor.ld, msgid);
    while (n.event.rc == LDAP_SUCCESS && n.event.type == ev::kCompare);
    ASSERT_EQ(n.event.rc, LDAP_SUCCESS);
    EXPECT_EQ(n.event.type, ev::kAdd);
    EXPECT_NE(n.event.record.find("string1=\"cn=P,ou=people,o=lab\""), std::string::npos) << n.event.record;
}

TEST_F(SimEvents, ScriptedStreamOfValidAndMalformedNotifications)
{
    Session monitor(server->url());  // bind: msgid 1, so the registration is msgid 2
    const std::string good = seq({integer(ev::kExtended), integer(0), tlv(0x7d, integer(9) + octets("op"))});
    const std::string bad_body = seq({integer(5), integer(1), tlv(0x7d, integer(9) + integer(1))});
    const std::string wrong_name = "2.16.840.1.113719.1.27.100.80";
    const std::string list = seq({integer(1), set({seq({integer(5), enumerated(0)})})});
    const std::string final_name = "2.16.840.1.113719.1.27.100.80";
    dirsim::Rule rule;
    rule.op = "extended";
    rule.oid = "2.16.840.1.113719.1.27.100.79";
    rule.reply.raw = notification(2, good) + notification(2, bad_body) + intermediate(2, &wrong_name, &good) +
                     notification(2, seq({integer(3)})) + extended_response(2, 0, &final_name, &list);
    server->script(rule);

    EventSpecifier specs[] = {{5, 0}};
    int msgid = -1;
    ASSERT_EQ(ldap_monitor_events(monitor.ld, 1, specs, &msgid), LDAP_SUCCESS);
    ASSERT_EQ(msgid, 2);
    Next a = next_message(monitor.ld, msgid);
    EXPECT_EQ(a.event.rc, LDAP_SUCCESS);
    EXPECT_EQ(a.event.record, "UnknownOpData integer1=9 string1=\"op\"");
    Next b = next_message(monitor.ld, msgid);
    EXPECT_EQ(b.event.rc, LDAP_DECODING_ERROR);
    EXPECT_EQ(b.event.record, "null");
    EXPECT_EQ(next_message(monitor.ld, msgid).event.rc, LDAP_DECODING_ERROR);  // wrong name
    EXPECT_EQ(next_message(monitor.ld, msgid).event.rc, LDAP_DECODING_ERROR);  // no result in the head
    Next end = next_message(monitor.ld, msgid);
    ASSERT_TRUE(end.final);
    EXPECT_EQ(end.registrations, "(5,0)");

    // The request went out as the library encodes it.
    auto log = server->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].oid, "2.16.840.1.113719.1.27.100.79");
    EXPECT_EQ(log[1].value_hex, hex(seq({integer(1), set({seq({integer(5), enumerated(0)})})})));
}

TEST_F(SimEvents, RegistrationNeedsAuthenticationAndSpecifiers)
{
    Session anonymous(server->url(), false);
    EventSpecifier specs[] = {{ev::kAdd, 0}};
    int msgid = -1;
    ASSERT_EQ(ldap_monitor_events(anonymous.ld, 1, specs, &msgid), LDAP_SUCCESS);
    Next n = next_message(anonymous.ld, msgid);
    ASSERT_TRUE(n.final);
    EXPECT_EQ(n.result_code, LDAP_INSUFFICIENT_ACCESS);
    EXPECT_EQ(n.final_rc, LDAP_SUCCESS);  // no name: nothing more to read
    EXPECT_EQ(n.registrations, "");

    Session bound(server->url());
    ASSERT_EQ(ldap_monitor_events(bound.ld, -1, specs, &msgid), LDAP_SUCCESS);  // an empty set
    n = next_message(bound.ld, msgid);
    ASSERT_TRUE(n.final);
    EXPECT_EQ(n.result_code, LDAP_UNWILLING_TO_PERFORM);
}

// A client that does not drop what follows an abandon sees the final response.
TEST_F(SimEvents, AbandonIsAnsweredWithTheFinalResponse)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server->port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    auto send_all = [&](const std::string &b) { ASSERT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size())); };
    auto read_some = [&](std::size_t want) {
        std::string got;
        while (got.size() < want) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 3000) <= 0) break;
            char buf[512];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, std::size_t(n));
        }
        return got;
    };
    const std::string bind = seq({integer(1), tlv(0x60, integer(3) + octets(kAdmin) + tlv(0x80, "secret"))});
    send_all(bind);
    const std::string bind_ok = seq({integer(1), tlv(0x61, enumerated(0) + octets("") + octets(""))});
    ASSERT_EQ(hex(read_some(bind_ok.size())), hex(bind_ok));
    const std::string value = seq({integer(1), set({seq({integer(ev::kAdd), enumerated(3)})})});
    send_all(seq({integer(2), tlv(0x77, tlv(0x80, "2.16.840.1.113719.1.27.100.79") + tlv(0x81, value))}));
    ASSERT_TRUE(server->wait_for_requests(2, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    send_all(seq({integer(3), tlv(0x50, std::string("\x02", 1))}));  // abandon 2
    const std::string name = "2.16.840.1.113719.1.27.100.80";
    const std::string final = extended_response(2, 0, &name, &value);
    EXPECT_EQ(hex(read_some(final.size())), hex(final));
    close(fd);
}

std::string json(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

TEST_F(SimEvents, ExamplePrintsEachEventAsJsonUntilInterrupted)
{
    testsupport::Child example({testsupport::build_path("examples/example_events_monitor"), server->url(), kAdmin,
                                "secret", std::to_string(ev::kAdd) + ":1", std::to_string(ev::kDelete)});
    for (int i = 0; i < 100 && server->requests().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(server->requests().size(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the registration takes effect
    const std::string dn = "cn=J \\\"Q\\\",ou=people,o=lab";  // quotes escaped as RFC 4514 wants
    {
        Session changer(server->url());
        ASSERT_EQ(add_entry(changer.ld, dn, "J \"Q\""), LDAP_SUCCESS);
        ASSERT_EQ(ldap_delete_ext_s(changer.ld, dn.c_str(), nullptr, nullptr), LDAP_SUCCESS);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the notifications go out
    kill(example.pid(), SIGINT);
    testsupport::ProcessResult r = example.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "monitoring; interrupt to stop\n");

    // Three lines: the add, the delete, the final answer.
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(r.out.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const std::string address = ",\"address\":{\"type\":1,\"bytes\":\"127.0.0.1\"}}}";
    const std::string connection = "\"connection\":{\"integer1\":";
    auto after_connection = [&](const std::string &line) {
        std::size_t at = line.find("},\"integer1\"");
        return at == std::string::npos ? line : line.substr(at + 2);
    };
    EXPECT_EQ(lines[0].substr(0, lines[0].find(connection) + connection.size()),
              "{\"event\":{\"type\":4,\"result\":0,\"kind\":\"UpdateEventData\",\"record\":{" + connection);
    EXPECT_EQ(after_connection(lines[0]),
              "\"integer1\":104,\"integer2\":0,\"integer3\":3,\"string1\":" + json(dn) +
                  ",\"string2\":null,\"string3\":null,\"list1\":[\"objectClass\",\"cn\",\"sn\"],\"integer4\":0}" +
                  address);
    EXPECT_EQ(after_connection(lines[1]),
              "\"integer1\":74,\"integer2\":0,\"integer3\":0,\"string1\":" + json(dn) +
                  ",\"string2\":null,\"string3\":null,\"list1\":null,\"integer4\":0}" + address);
    EXPECT_EQ(lines[2], "{\"final\":{\"result\":118,\"registrations\":[[4,1],[5,0]]}}");
}

}  // namespace
}  // namespace events_test
