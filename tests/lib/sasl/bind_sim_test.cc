// The two-call DIGEST-MD5 bind against the directory simulator, whose
// DIGEST-MD5 side is written independently (OpenSSL's MD5).
#include <dirext.h>

#include "core/alloc.h"
#include "dirsim/server.h"
#include "bytes.h"
#include "rfc2831_reference.h"
#include "digest_sim.h"
#include "sasl/digest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using sasltest::kSimSettings;
using wire::unhex;

using Session = testsupport::Ldap;

// Releases a context a test left behind.
struct ContextGuard {
    DigestMD5Context *ctx = nullptr;
    ~ContextGuard()
    {
        if (ctx) ldap_bind_digest_md5_finish(&ctx, nullptr, nullptr, 0, 0, 0);
    }
};

class DigestBind : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = sasltest::start_sim();
        ASSERT_TRUE(server_);
    }

    Session open() { return testsupport::open_session(server_->url()); }

    void settings(const std::string &attr, const std::vector<std::string> &values)
    {
        server_->set_values(kSimSettings, attr, values);
    }

    void script_bind(int skip, dirsim::Reply reply)
    {
        dirsim::Rule rule;
        rule.op = "bind";
        rule.skip = skip;
        rule.times = 1;
        rule.reply = std::move(reply);
        server_->script(rule);
    }

    std::vector<dirsim::Request> binds()
    {
        std::vector<dirsim::Request> out;
        for (auto &r : server_->requests())
            if (r.op == "bind") out.push_back(r);
        return out;
    }

    // Start and finish in one go; a failed start gives 1000000 + its code.
    int bind(LDAP *ld, const char *user, const char *password, int realm_index = 0)
    {
        ContextGuard g;
        const int rc = ldap_bind_digest_md5_start(ld, &g.ctx);
        if (rc != 0) return 1000000 + rc;
        return ldap_bind_digest_md5_finish(&g.ctx, user, password, -1, realm_index, DIGEST_MD5_PROCEED);
    }

    std::unique_ptr<dirsim::Server> server_;
};

TEST_F(DigestBind, ProceedBindsAndTheServerProvesItself)
{
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    ASSERT_NE(nullptr, g.ctx);
    char **realms = nullptr;
    ASSERT_EQ(0, ldap_get_digest_md5_realms(g.ctx, &realms));
    ASSERT_NE(nullptr, realms);
    EXPECT_STREQ("lab", realms[0]);
    EXPECT_EQ(nullptr, realms[1]);
    EXPECT_EQ(0, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0, DIGEST_MD5_PROCEED));
    EXPECT_EQ(nullptr, g.ctx);

    // What went on the wire: a bind with no credentials, then the response.
    const auto b = binds();
    ASSERT_EQ(2u, b.size());
    EXPECT_EQ("sasl DIGEST-MD5", b[0].detail);
    EXPECT_EQ("", b[0].dn);
    EXPECT_FALSE(b[0].has_value);
    EXPECT_EQ("sasl DIGEST-MD5", b[1].detail);
    ASSERT_TRUE(b[1].has_value);
    const std::string text = unhex(b[1].value_hex);
    // username="alice",realm="lab",cnonce="<64 hex>",nc=00000001,qop=auth,
    // digest-uri="ldap/127.0.0.1",response=<32 hex>,charset=utf-8,nonce="<server nonce>"
    const std::string head = "username=\"alice\",realm=\"lab\",cnonce=\"";
    ASSERT_EQ(0u, text.rfind(head, 0)) << text;
    const std::string cnonce = text.substr(head.size(), 64);
    EXPECT_EQ(64u, cnonce.find_first_not_of("0123456789ABCDEF") == std::string::npos ? 64u : 0u) << cnonce;
    const std::string middle = "\",nc=00000001,qop=auth,digest-uri=\"ldap/127.0.0.1\",response=";
    ASSERT_EQ(head.size() + 64, text.find(middle)) << text;
    const size_t at = head.size() + 64 + middle.size();
    const std::string response = text.substr(at, 32);
    const std::string tail = ",charset=utf-8,nonce=\"";
    ASSERT_EQ(at + 32, text.find(tail, at)) << text;
    ASSERT_EQ('"', text.back());
    const std::string nonce = text.substr(at + 32 + tail.size(), text.size() - (at + 32 + tail.size()) - 1);
    sasltest::DigestInputs in{"alice", "lab", "wonderland", nonce, cnonce, "ldap/127.0.0.1"};
    EXPECT_EQ(sasltest::rfc2831(in, false), response);
}

TEST_F(DigestBind, WrongPasswordGives49)
{
    Session ld = open();
    EXPECT_EQ(LDAP_INVALID_CREDENTIALS, bind(ld.get(), "alice", "looking-glass"));
    EXPECT_EQ(LDAP_INVALID_CREDENTIALS, bind(ld.get(), "nobody", "wonderland"));
    EXPECT_EQ(0, bind(ld.get(), "alice", "wonderland"));  // the session is still usable
}

TEST_F(DigestBind, QuotesInValuesAreEscapedOnTheWire)
{
    Session ld = open();
    EXPECT_EQ(0, bind(ld.get(), "we\"ird", "p\\ss"));
    const auto b = binds();
    ASSERT_EQ(2u, b.size());
    EXPECT_EQ(0u, unhex(b[1].value_hex).rfind("username=\"we\\\"ird\",", 0));
}

TEST_F(DigestBind, RealmsInListOrderAndTheChosenOneIsSent)
{
    settings("saslRealm", {"first", "second", "third"});
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    char **realms = nullptr, **again = nullptr;
    ASSERT_EQ(0, ldap_get_digest_md5_realms(g.ctx, &realms));
    ASSERT_EQ(0, ldap_get_digest_md5_realms(g.ctx, &again));
    EXPECT_EQ(realms, again);  // cached
    std::vector<std::string> got;
    for (char **r = realms; *r; ++r) got.push_back(*r);
    EXPECT_EQ((std::vector<std::string>{"third", "second", "first"}), got);
    EXPECT_EQ(0, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 1, DIGEST_MD5_PROCEED));
    const auto b = binds();
    EXPECT_NE(std::string::npos, unhex(b.back().value_hex).find(",realm=\"second\","));
}

TEST_F(DigestBind, RealmIndexOutOfRangeReleasesTheContext)
{
    Session ld = open();
    for (int index : {1, -1}) {
        ContextGuard g;
        ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
        EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, index,
                                                                DIGEST_MD5_PROCEED));
        EXPECT_EQ(nullptr, g.ctx);
    }
    // Nothing but the two challenges went out.
    EXPECT_EQ(2u, binds().size());
}

TEST_F(DigestBind, ChallengeWithoutRealmsCannotBeFinished)
{
    settings("saslFault", {"no-realm"});
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    char **realms = nullptr;
    ASSERT_EQ(0, ldap_get_digest_md5_realms(g.ctx, &realms));
    EXPECT_EQ(nullptr, realms[0]);
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0,
                                                            DIGEST_MD5_PROCEED));
}

TEST_F(DigestBind, CancelRestartsTheExchangeAndGivesMinusEight)
{
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    EXPECT_EQ(LDAP_USER_CANCELLED, ldap_bind_digest_md5_finish(&g.ctx, nullptr, nullptr, 0, 0, DIGEST_MD5_CANCEL));
    EXPECT_EQ(nullptr, g.ctx);
    ASSERT_TRUE(server_->wait_for_requests(2, 5000));
    const auto b = binds();
    ASSERT_EQ(2u, b.size());
    EXPECT_EQ("sasl DIGEST-MD5", b[1].detail);
    EXPECT_FALSE(b[1].has_value);
}

TEST_F(DigestBind, OtherActionsAndMissingUserAreParameterErrors)
{
    Session ld = open();
    for (int action : {0, 3, -1}) {
        ContextGuard g;
        ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
        EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0, action));
        EXPECT_EQ(nullptr, g.ctx);
    }
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_finish(&g.ctx, nullptr, "wonderland", -1, 0,
                                                            DIGEST_MD5_PROCEED));
    EXPECT_EQ(nullptr, g.ctx);
}

TEST_F(DigestBind, BadArguments)
{
    Session ld = open();
    DigestMD5Context *ctx = reinterpret_cast<DigestMD5Context *>(0x1);
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_start(ld.get(), nullptr));
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_start(nullptr, &ctx));
    EXPECT_EQ(nullptr, ctx);
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_finish(nullptr, "u", "p", -1, 0, 1));
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_bind_digest_md5_finish(&ctx, "u", "p", -1, 0, 1));
    char **realms = reinterpret_cast<char **>(0x1);
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_get_digest_md5_realms(nullptr, &realms));
    EXPECT_EQ(nullptr, realms);
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    EXPECT_EQ(LDAP_PARAM_ERROR, ldap_get_digest_md5_realms(g.ctx, nullptr));
    EXPECT_EQ(0u, binds().size() - 1);  // only the challenge
}

TEST_F(DigestBind, PasswordLengthIsHonoured)
{
    Session ld = open();
    for (const auto &[password, len] : std::vector<std::pair<std::string, int>>{
             {"wonderland", -1}, {"wonderland", 10}, {"wonderland and more", 10}}) {
        ContextGuard g;
        ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
        EXPECT_EQ(0, ldap_bind_digest_md5_finish(&g.ctx, "alice", password.c_str(), len, 0, DIGEST_MD5_PROCEED))
            << password << " " << len;
    }
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    EXPECT_EQ(LDAP_INVALID_CREDENTIALS,
              ldap_bind_digest_md5_finish(&g.ctx, "alice", nullptr, -1, 0, DIGEST_MD5_PROCEED));
}

TEST_F(DigestBind, HostOptionLosesItsPortInTheDigestUri)
{
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));  // connected by now
    ASSERT_EQ(LDAP_OPT_SUCCESS, ldap_set_option(ld.get(), LDAP_OPT_HOST_NAME, "h:389"));
    EXPECT_EQ(0, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0, DIGEST_MD5_PROCEED));
    EXPECT_NE(std::string::npos, unhex(binds().back().value_hex).find(",digest-uri=\"ldap/h\","));
}

TEST_F(DigestBind, FirstBindAnsweredWithSuccessGivesTwo)
{
    settings("saslFault", {"success-first"});
    Session ld = open();
    DigestMD5Context *ctx = reinterpret_cast<DigestMD5Context *>(0x1);
    EXPECT_EQ(LDAP_PROTOCOL_ERROR, ldap_bind_digest_md5_start(ld.get(), &ctx));
    EXPECT_EQ(nullptr, ctx);
}

TEST_F(DigestBind, ChallengeRejections)
{
    const struct {
        const char *what;
        std::string attr;
        std::vector<std::string> values;
        int rc;
    } cases[] = {
        {"stale", "saslFault", {"stale"}, DIGEST_ERR_STALE},
        {"no auth", "saslQop", {"auth-int"}, DIGEST_ERR_NO_AUTH_QOP},
        {"auth-conf without cipher", "saslQop", {"auth,auth-conf"}, DIGEST_ERR_NO_CIPHER},
    };
    for (const auto &c : cases) {
        server_->set_values(kSimSettings, "saslFault", {});
        server_->set_values(kSimSettings, "saslQop", {});
        settings(c.attr, c.values);
        Session ld = open();
        DigestMD5Context *ctx = nullptr;
        EXPECT_EQ(c.rc, ldap_bind_digest_md5_start(ld.get(), &ctx)) << c.what;
        EXPECT_EQ(nullptr, ctx);
    }
}

TEST_F(DigestBind, ServerThatCannotProveItselfIsRefused)
{
    for (const char *fault : {"wrong-rspauth", "no-rspauth", "no-credentials"}) {
        settings("saslFault", {fault});
        Session ld = open();
        EXPECT_EQ(LDAP_INVALID_CREDENTIALS, bind(ld.get(), "alice", "wonderland")) << fault;
    }
}

// Answers scripted for the first bind (skip 0) or the second (skip 1).
TEST_F(DigestBind, ScriptedAnswersReachTheCaller)
{
    const struct {
        const char *what;
        int skip;
        int code;
        std::optional<std::string> creds;
        int rc;
    } cases[] = {
        {"refused", 0, LDAP_UNWILLING_TO_PERFORM, std::nullopt, 1000000 + LDAP_UNWILLING_TO_PERFORM},
        {"no mechanism", 0, LDAP_AUTH_METHOD_NOT_SUPPORTED, std::nullopt, 1000000 + LDAP_AUTH_METHOD_NOT_SUPPORTED},
        {"scanner error", 0, LDAP_SASL_BIND_IN_PROGRESS, "nonce=\"abc", 1000000 + LDAP_PROTOCOL_ERROR},
        {"in progress without challenge", 0, LDAP_SASL_BIND_IN_PROGRESS, std::nullopt,
         1000000 + LDAP_PROTOCOL_ERROR},
        {"nonce twice", 0, LDAP_SASL_BIND_IN_PROGRESS, "nonce=a,nonce=b,qop=auth,algorithm=md5-sess",
         1000000 + DIGEST_ERR_NONCE_TWICE},
        {"trailing comma in qop", 0, LDAP_SASL_BIND_IN_PROGRESS, "nonce=a,qop=\"auth,\",algorithm=md5-sess",
         1000000 + DIGEST_ERR_TRAILING_COMMA},
        {"no algorithm", 0, LDAP_SASL_BIND_IN_PROGRESS, "nonce=a,qop=auth", 1000000 + DIGEST_ERR_NO_ALGORITHM},
        {"final refusal", 1, LDAP_INVALID_CREDENTIALS, std::nullopt, LDAP_INVALID_CREDENTIALS},
        {"success without rspauth", 1, LDAP_SUCCESS, std::nullopt, LDAP_INVALID_CREDENTIALS},
        {"success with a made-up rspauth", 1, LDAP_SUCCESS, "rspauth=0123456789abcdef0123456789abcdef",
         LDAP_INVALID_CREDENTIALS},
        {"malformed final message", 1, LDAP_SUCCESS, "rspauth=\"abc", LDAP_PROTOCOL_ERROR},
    };
    for (const auto &c : cases) {
        server_->clear_script();
        dirsim::Reply reply;
        reply.result_code = c.code;
        reply.response_value = c.creds;
        script_bind(c.skip, reply);
        Session ld = open();
        EXPECT_EQ(c.rc, bind(ld.get(), "alice", "wonderland")) << c.what;
    }
}

TEST_F(DigestBind, LostServerLeavesTheContextForACancel)
{
    dirsim::Reply reply;
    reply.drop_connection = true;
    script_bind(1, reply);
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    DigestMD5Context *before = g.ctx;
    EXPECT_EQ(LDAP_SERVER_DOWN, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0,
                                                            DIGEST_MD5_PROCEED));
    EXPECT_EQ(before, g.ctx);  // left in place
    // The cancel cannot be sent either; the context goes all the same.
    EXPECT_EQ(LDAP_SERVER_DOWN, ldap_bind_digest_md5_finish(&g.ctx, nullptr, nullptr, 0, 0, DIGEST_MD5_CANCEL));
    EXPECT_EQ(nullptr, g.ctx);
}

TEST_F(DigestBind, ResponseTooLongIsNotSent)
{
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    const std::string user(5000, 'u');
    EXPECT_EQ(DIGEST_ERR_RESPONSE_TOO_LONG,
              ldap_bind_digest_md5_finish(&g.ctx, user.c_str(), "wonderland", -1, 0, DIGEST_MD5_PROCEED));
    EXPECT_EQ(nullptr, g.ctx);
    EXPECT_EQ(1u, binds().size());
}

TEST_F(DigestBind, UnderSeededPoolStopsTheBind)
{
    Session ld = open();
    ContextGuard g;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &g.ctx));
    dirext::sasl::pool_set_for_testing(true, 0.0);
    EXPECT_EQ(XRAND_NOT_SEEDED, ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0,
                                                            DIGEST_MD5_PROCEED));
    EXPECT_EQ(nullptr, g.ctx);
    EXPECT_EQ(1u, binds().size());
    XRAND_cleanup();
}

int g_fail_at = 0;
std::atomic<int> g_count{0};
bool fail_nth(size_t) { return ++g_count == g_fail_at; }

TEST_F(DigestBind, EveryAllocationFailureIsReportedAndLeaksNothing)
{
    Session ld = open();
    char cnonce[65];
    ASSERT_EQ(0, getNonce(cnonce));  // the pool is ready before counting
    for (int n = 1;; ++n) {
        ContextGuard g;
        g_fail_at = n;
        g_count = 0;
        dirext::set_alloc_fail_hook(fail_nth);
        int rc = ldap_bind_digest_md5_start(ld.get(), &g.ctx);
        char **realms = nullptr;
        if (rc == 0) rc = ldap_get_digest_md5_realms(g.ctx, &realms);
        if (rc == 0) rc = ldap_bind_digest_md5_finish(&g.ctx, "alice", "wonderland", -1, 0, DIGEST_MD5_PROCEED);
        dirext::set_alloc_fail_hook(nullptr);
        if (g_count < n) {  // no allocation failed: the whole bind went through
            EXPECT_EQ(0, rc);
            EXPECT_GT(n, 8);
            break;
        }
        EXPECT_EQ(LDAP_NO_MEMORY, rc) << "allocation " << n;
    }
}

// Eight threads draw from the pool and bind at once, each on its own session
// (run under ThreadSanitizer in the thread-sanitizer build).
TEST_F(DigestBind, EightThreadsDrawAndBindAtOnce)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            Session ld = open();
            for (int i = 0; i < 5; ++i) {
                unsigned char buf[32];
                if (XRAND_bytes(buf, sizeof buf) != 0) ++failures;
                XRAND_seed(buf, 8);
                if (bind(ld.get(), "alice", "wonderland") != 0) ++failures;
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(80u, binds().size());
}

}  // namespace
