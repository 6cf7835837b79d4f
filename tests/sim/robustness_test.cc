// Hostile and broken input over a raw socket, stopping under load, restarts,
// the connection bound and LDIF loading errors.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include "bytes.h"
#include "paths.h"
#include "sim_client.h"

namespace simtest {
namespace {

using wire::tlv;

std::string message(int msgid, const std::string &op) { return tlv(0x30, tlv(0x02, std::string(1, char(msgid))) + op); }

std::string ldap_result(unsigned char tag, int code, const std::string &diagnostic, const std::string &extra = "")
{
    return tlv(tag, tlv(0x0a, std::string(1, char(code))) + tlv(0x04, "") + tlv(0x04, diagnostic) + extra);
}

std::string notice(const std::string &diagnostic)
{
    return message(0, ldap_result(0x78, 2, diagnostic, tlv(0x8a, "1.3.6.1.4.1.1466.20036")));
}

class RawSocket {
public:
    explicit RawSocket(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~RawSocket() { ::close(fd_); }

    bool connected() const { return connected_; }
    bool send(const std::string &bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    void end_writing() { ::shutdown(fd_, SHUT_WR); }

    // What arrives until the peer closes, or until nothing has come for
    // quiet_ms.  *closed tells which.
    std::string receive(int quiet_ms, bool *closed)
    {
        std::string got;
        *closed = false;
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, quiet_ms) <= 0) return got;
            char buf[4096];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                *closed = true;
                return got;
            }
            got.append(buf, size_t(n));
        }
    }

private:
    int fd_;
    bool connected_ = false;
};

struct GarbageCase {
    const char *name;
    std::string sent;
    std::optional<std::string> reply;  // exact bytes back, when known
    bool closes;
};

void PrintTo(const GarbageCase &c, std::ostream *os) { *os << c.name; }

class DirsimGarbage : public DirsimTest, public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(DirsimGarbage, AnswersOrClosesAndServesOn)
{
    {
        RawSocket raw(server_->port());
        ASSERT_TRUE(raw.connected());
        ASSERT_TRUE(raw.send(GetParam().sent));
        if (GetParam().closes) raw.end_writing();  // a server waiting for more bytes sees the end
        bool closed = false;
        std::string got = raw.receive(GetParam().closes ? 5000 : 300, &closed);
        if (GetParam().reply) {
            EXPECT_EQ(got, *GetParam().reply);
        }
        EXPECT_EQ(closed, GetParam().closes);
    }
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    LDAPMessage *res = nullptr;
    EXPECT_EQ(ldap_search_ext_s(ld.get(), "o=lab", LDAP_SCOPE_BASE, "(objectclass=*)", nullptr, 0, nullptr, nullptr,
                                nullptr, 0, &res),
              LDAP_SUCCESS);
    ldap_msgfree(res);
}

std::string nested_nots(int depth)
{
    std::string f = tlv(0x87, "cn");
    for (int i = 0; i < depth; ++i) f = std::string(1, '\xa2') + char(0x84) + std::string("\0\0", 2) +
                                        char((f.size() >> 8) & 0xff) + char(f.size() & 0xff) + f;
    return f;
}

std::string search_body(const std::string &filter)
{
    return tlv(0x04, "o=lab") + tlv(0x0a, "\x02") + tlv(0x0a, std::string(1, '\0')) + tlv(0x02, std::string(1, '\0')) +
           tlv(0x02, std::string(1, '\0')) + tlv(0x01, std::string(1, '\0')) + filter + tlv(0x30, "");
}

std::string long_message(unsigned char tag, const std::string &contents)  // 4-byte length form
{
    std::string len = {char(0x84), char(contents.size() >> 24), char((contents.size() >> 16) & 0xff),
                       char((contents.size() >> 8) & 0xff), char(contents.size() & 0xff)};
    return std::string(1, char(tag)) + len + contents;
}

std::string random_bytes(size_t n)
{
    std::mt19937 gen(4242);
    std::string out(n, '\0');
    for (auto &c : out) c = char(gen() & 0xff);
    return out;
}

const std::string kDecodingError = "decoding error";

INSTANTIATE_TEST_SUITE_P(
    Raw, DirsimGarbage,
    ::testing::Values(
        GarbageCase{"NotASequence", tlv(0x04, "abc"), notice(kDecodingError), true},
        GarbageCase{"UnknownOperation", message(1, tlv(0x79, "")), notice("unknown LDAP request"), true},
        GarbageCase{"MessageIdNotAnInteger", tlv(0x30, tlv(0x04, "x") + tlv(0x42, "")), notice(kDecodingError), true},
        GarbageCase{"NegativeMessageId", tlv(0x30, tlv(0x02, "\xff") + tlv(0x42, "")), notice(kDecodingError), true},
        GarbageCase{"NoOperation", tlv(0x30, tlv(0x02, "\x01")), notice(kDecodingError), true},
        GarbageCase{"TruncatedSearch", message(1, tlv(0x63, tlv(0x04, "o=lab") + tlv(0x0a, "\x00"))),
                    message(1, ldap_result(0x65, 2, kDecodingError)), false},
        GarbageCase{"LengthRunsPastTheOperation", message(1, tlv(0x63, "\x04\x50o=lab")),
                    message(1, ldap_result(0x65, 2, kDecodingError)), false},
        GarbageCase{"UnknownFilterTag", message(1, tlv(0x63, search_body(tlv(0xaa, "")))),
                    message(1, ldap_result(0x65, 2, kDecodingError)), false},
        GarbageCase{"SubstringsWithoutParts", message(1, tlv(0x63, search_body(tlv(0xa4, tlv(0x04, "cn") + tlv(0x30, ""))))),
                    message(1, ldap_result(0x65, 2, kDecodingError)), false},
        GarbageCase{"NotWithTwoFilters",
                    message(1, tlv(0x63, search_body(tlv(0xa2, tlv(0x87, "cn") + tlv(0x87, "sn"))))),
                    message(1, ldap_result(0x65, 2, kDecodingError)), false},
        GarbageCase{"ExtendedWithoutName", message(1, tlv(0x77, tlv(0x81, "x"))),
                    message(1, ldap_result(0x78, 2, kDecodingError)), false},
        GarbageCase{"BrokenControls", message(1, tlv(0x4a, "o=lab") + tlv(0xa0, tlv(0x04, "x"))),
                    message(1, ldap_result(0x6b, 2, kDecodingError)), false},
        GarbageCase{"BindWithBadVersionType", message(1, tlv(0x60, tlv(0x04, "3") + tlv(0x04, "") + tlv(0x80, ""))),
                    message(1, ldap_result(0x61, 2, kDecodingError)), false},
        GarbageCase{"UnbindWithContents", message(1, tlv(0x42, "x")), std::string(), true},
        GarbageCase{"TruncatedMessage", std::string("\x30\x10\x02\x01", 4), std::string(), true},
        GarbageCase{"HugeLength", std::string("\x30\x84\x7f\xff\xff\xff", 6), std::string(), true},
        GarbageCase{"IndefiniteLength", std::string("\x30\x80\x02\x01\x01\x42\x00\x00\x00", 9), std::nullopt, true},
        GarbageCase{"RandomBytes", random_bytes(4096), std::nullopt, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(DirsimTest, DeeplyNestedFilterIsRefusedNotRecursedInto)
{
    RawSocket raw(server_->port());
    ASSERT_TRUE(raw.connected());
    std::string filter = nested_nots(1000);
    ASSERT_TRUE(raw.send(long_message(0x30, tlv(0x02, "\x01") + long_message(0x63, search_body(filter)))));
    bool closed = false;
    EXPECT_EQ(raw.receive(500, &closed), message(1, ldap_result(0x65, 2, kDecodingError)));
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].op, "search");
    EXPECT_EQ(log[0].detail, "malformed");
}

TEST_F(DirsimTest, MessagesSplitAcrossWritesAreReassembled)
{
    RawSocket raw(server_->port());
    ASSERT_TRUE(raw.connected());
    std::string bind = message(1, tlv(0x60, tlv(0x02, "\x03") + tlv(0x04, "") + tlv(0x80, "")));
    for (char c : bind) {
        ASSERT_TRUE(raw.send(std::string(1, c)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    bool closed = false;
    EXPECT_EQ(raw.receive(500, &closed), message(1, ldap_result(0x61, 0, "")));
}

TEST_F(DirsimTest, StopDoesNotWaitForClients)
{
    Ldap idle = admin();
    ASSERT_TRUE(idle);
    RawSocket half(server_->port());
    ASSERT_TRUE(half.send(std::string("\x30\x10\x02", 3)));
    dirsim::Rule slow;
    slow.op = "extended";
    slow.reply.delay_ms = 30000;
    server_->script(slow);
    std::thread waiting([this] {
        Ldap ld = open_session(server_->url());
        if (!ld || simple_bind(ld.get(), kAdminDn, "secret") != LDAP_SUCCESS) return;
        EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_SERVER_DOWN);
    });
    ASSERT_TRUE(server_->wait_for_requests(2, 5000));  // bind, then the extended request that waits
    auto start = std::chrono::steady_clock::now();
    server_->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    waiting.join();
    EXPECT_EQ(extended(idle.get(), kLimber).rc, LDAP_SERVER_DOWN);
}

TEST_F(DirsimTest, RestartKeepsPortTreeAndLog)
{
    uint16_t port = server_->port();
    server_->set_values(kServerDn, "description", {"kept"});
    {
        Ldap ld = admin();
    }
    server_->stop();
    server_->stop();  // twice is harmless
    ASSERT_TRUE(server_->start());
    EXPECT_EQ(server_->port(), port);
    EXPECT_EQ(server_->values(kServerDn, "description"), std::vector<std::string>{"kept"});
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    EXPECT_EQ(simple_bind(ld.get(), kAdminDn, "secret"), LDAP_SUCCESS);
}

TEST(DirsimLimits, ConnectionsBeyondTheBoundAreClosed)
{
    dirsim::Options options;
    options.ldif_text = kTree;
    options.max_connections = 2;
    dirsim::Server server(options);
    ASSERT_TRUE(server.start());
    Ldap a = open_session(server.url()), b = open_session(server.url());
    ASSERT_EQ(simple_bind(a.get(), "", ""), LDAP_SUCCESS);
    ASSERT_EQ(simple_bind(b.get(), "", ""), LDAP_SUCCESS);
    RawSocket third(server.port());
    ASSERT_TRUE(third.connected());
    bool closed = false;
    EXPECT_EQ(third.receive(5000, &closed), "");
    EXPECT_TRUE(closed);
    a.reset();
    ASSERT_TRUE(server.wait_for_requests(3, 5000));  // a's unbind: its slot frees
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Ldap c = open_session(server.url());
    EXPECT_EQ(simple_bind(c.get(), "", ""), LDAP_SUCCESS);
}

struct LdifCase {
    const char *name;
    std::string text;
};

void PrintTo(const LdifCase &c, std::ostream *os) { *os << c.name; }

class DirsimBadLdif : public ::testing::TestWithParam<LdifCase> {};

TEST_P(DirsimBadLdif, StartFails)
{
    dirsim::Options options;
    options.ldif_text = GetParam().text;
    dirsim::Server server(options);
    EXPECT_FALSE(server.start());
}

INSTANTIATE_TEST_SUITE_P(
    Ldif, DirsimBadLdif,
    ::testing::Values(LdifCase{"ChangeRecord", "dn: o=lab\nchangetype: delete\n"},
                      LdifCase{"BadDn", "dn: not a dn\ncn: x\n"}, LdifCase{"NoDn", "cn: x\n"},
                      LdifCase{"Duplicate", "dn: o=a\no: a\n\ndn: O=A\no: a\n"},
                      LdifCase{"BadBase64", "dn: o=a\no:: !!!\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DirsimLdif, MissingFileFailsStart)
{
    dirsim::Options options;
    options.ldif_path = "/nonexistent/tree.ldif";
    dirsim::Server server(options);
    EXPECT_FALSE(server.start());
}

TEST(DirsimLdif, ValuesAreKeptAsWritten)
{
    std::string dir = testsupport::temp_dir("dirsim-ldif");
    std::string path = dir + "/t.ldif";
    std::ofstream(path) << "dn: o=a\no: a\ndescription:: AGJpbgD/\ndescription: folded\n  line\n"
                           "indexDefinition: 0$Name$2$0$0$1$cn\n";
    dirsim::Options options;
    options.ldif_path = path;
    dirsim::Server server(options);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(server.values("O=A", "DESCRIPTION"),
              (std::vector<std::string>{std::string("\0bin\0\xff", 6), "folded line"}));
    EXPECT_EQ(server.values("o=a", "indexdefinition"), std::vector<std::string>{"0$Name$2$0$0$1$cn"});
    EXPECT_EQ(server.values("o=a", "mail"), std::vector<std::string>{});
    EXPECT_EQ(server.values("o=b", "o"), std::vector<std::string>{});
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace simtest
