// DIGEST-MD5: the challenge scanner and its handlers, the response builders
// and the two-call bind against the simulator.
#include <cstring>

#include "alloc_failures.h"
#include "sweep.h"

namespace allocsweep {
namespace {

const char kChallenge[] =
    "realm=\"lab\",realm=\"second\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth,auth-int\",charset=utf-8,"
    "algorithm=md5-sess,cipher=\"rc4,des\",maxbuf=65536";

berval text(const char *s) { return {std::strlen(s), const_cast<char *>(s)}; }

int directive_list(Env &)
{
    DigestDirective *list = nullptr;
    int at = 0;
    const int rc = parseDirectiveList(kChallenge, std::strlen(kChallenge), &list, &at);
    if (rc != 0) {
        EXPECT_EQ(list, nullptr);
    }
    freeParsedDirectives(list);
    return rc;
}

// A scanner over "name=value" with the name as its current span.
struct Scanner {
    const char *data = "name=value";
    DigestScanner s{data + 4, data, data, 0, nullptr, nullptr};
    ~Scanner() { freeParsedDirectives(s.first); }
};

int add_directive(Env &)
{
    Scanner sc;
    const int rc = addDirective(&sc.s);
    if (rc != 0) {
        EXPECT_EQ(sc.s.first, nullptr);
    }
    return rc;
}

int add_value(Env &)
{
    Scanner sc;
    {
        allocfail::Paused paused;
        EXPECT_EQ(addDirective(&sc.s), 0);
    }
    sc.s.start = sc.data + 5;
    sc.s.pos = sc.data + 10;
    const int rc = addValue(&sc.s, 1);
    if (rc != 0) {
        EXPECT_EQ(sc.s.last->value, nullptr);
    }
    return rc;
}

int token_list(Env &)
{
    const char list[] = "auth, auth-int";
    const char *token = nullptr;
    int length = 0;
    DigestTokenCursor *cursor = nullptr;
    const int rc = parseTokenList(list, std::strlen(list), &token, &length, &cursor, nullptr);
    if (rc != 0) {
        EXPECT_EQ(cursor, nullptr);
    }
    std::free(cursor);
    return rc;
}

int challenge(Env &)
{
    const berval cred = text(kChallenge);
    DigestChallengeRecord *record = nullptr;
    const int rc = getDigestChallenge(&cred, &record, 0);
    if (rc != 0) {
        EXPECT_EQ(record, nullptr);
    }
    freeDigestChallenge(record);
    return rc;
}

int response_auth(Env &)
{
    const berval cred = text("rspauth=ea40f60335c427b5527b84dbabcdfffd");
    char *rspauth = nullptr;
    const int rc = getResponseAuth(&cred, &rspauth);
    if (rc != 0) {
        EXPECT_EQ(rspauth, nullptr);
    }
    std::free(rspauth);
    return rc;
}

// A directive handler given `name=value` and a fresh record.
template <int (*Handle)(const DigestDirective *, DigestChallengeRecord *)>
int handler(const char *name, const char *value)
{
    DigestDirective d{DIGEST_VALUE_QUOTED, const_cast<char *>(name), const_cast<char *>(value),
                      int(std::strlen(value)), nullptr};
    auto *record = static_cast<DigestChallengeRecord *>(std::calloc(1, sizeof(DigestChallengeRecord)));
    record->maxbuf = -1;
    const int rc = Handle(&d, record);
    freeDigestChallenge(record);
    return rc;
}
int realm(Env &) { return handler<handleRealm>("realm", "lab"); }
int nonce(Env &) { return handler<handleNonce>("nonce", "OA6MG9tEQGm2hh"); }
int qop(Env &) { return handler<handleQop>("qop", "auth,auth-int"); }
int charset(Env &) { return handler<handleCharset>("charset", "utf-8"); }
int algorithm(Env &) { return handler<handleAlgorithm>("algorithm", "md5-sess"); }
int cipher(Env &) { return handler<handleCipher>("cipher", "rc4,des"); }

// The parsed kChallenge, made with the hook paused.
struct Challenge {
    DigestChallengeRecord *record = nullptr;
    Challenge()
    {
        allocfail::Paused paused;
        const berval cred = text(kChallenge);
        EXPECT_EQ(getDigestChallenge(&cred, &record, 0), 0);
    }
    ~Challenge() { freeDigestChallenge(record); }
};

int create_response(Env &)
{
    Challenge c;
    berval cred{99, nullptr};
    const int rc = createDigestResponse("alice", "wonderland", -1, "lab", "127.0.0.1", "cnonce", 1, c.record, &cred);
    if (rc != 0) {
        EXPECT_EQ(cred.bv_val, nullptr);
    }
    std::free(cred.bv_val);
    return rc;
}

int validate_response(Env &)
{
    Challenge c;
    // The rspauth the server would send: the response without the method.
    char ha1[33], expected[33];
    DigestCalcHA1("md5-sess", "alice", "lab", "wonderland", -1, c.record->nonce, "cnonce", ha1);
    DigestCalcResponse(ha1, c.record->nonce, "00000001", "cnonce", "auth", "AUTHENTICATE", "ldap/127.0.0.1", 0,
                       expected);
    const std::string rspauth = std::string("rspauth=") + expected;
    const berval server = text(rspauth.c_str());
    return validateServerResponse("alice", "wonderland", -1, "lab", "127.0.0.1", "cnonce", 1, c.record, &server);
}

// The first bind on a session of its own; null if it failed.
DigestMD5Context *started(LDAP *ld)
{
    allocfail::Paused paused;
    DigestMD5Context *ctx = nullptr;
    EXPECT_EQ(ldap_bind_digest_md5_start(ld, &ctx), 0);
    return ctx;
}

void cancel(DigestMD5Context *ctx)
{
    allocfail::Paused paused;
    if (ctx) ldap_bind_digest_md5_finish(&ctx, nullptr, nullptr, 0, 0, DIGEST_MD5_CANCEL);
}

int bind_start(Env &env)
{
    Session ld = env.open();
    DigestMD5Context *ctx = nullptr;
    const int rc = ldap_bind_digest_md5_start(ld.get(), &ctx);
    if (rc != 0) {
        EXPECT_EQ(ctx, nullptr);
    }
    cancel(ctx);
    return rc;
}

int bind_realms(Env &env)
{
    Session ld = env.open();
    DigestMD5Context *ctx = started(ld.get());
    char *preset[1] = {nullptr};
    char **realms = preset;
    const int rc = ldap_get_digest_md5_realms(ctx, &realms);
    if (rc == 0) {
        EXPECT_STREQ(realms[0], "lab");
    } else {
        EXPECT_EQ(realms, nullptr);
    }
    cancel(ctx);
    return rc;
}

int bind_finish(Env &env)
{
    Session ld = env.open();
    DigestMD5Context *ctx = started(ld.get());
    const int rc = ldap_bind_digest_md5_finish(&ctx, "alice", "wonderland", -1, 0, DIGEST_MD5_PROCEED);
    EXPECT_EQ(ctx, nullptr);  // consumed on every return but a failed wait
    cancel(ctx);
    return rc;
}

}  // namespace

const std::vector<Row> &sasl_rows()
{
    static const std::vector<Row> rows = {
        // The scanner's own code for memory, with no list.
        {"parseDirectiveList", DIGEST_ERR_SCAN_NOMEM, directive_list},
        {"addDirective", LDAP_NO_MEMORY, add_directive},
        {"addValue", LDAP_NO_MEMORY, add_value},
        {"parseTokenList", LDAP_NO_MEMORY, token_list},
        {"getDigestChallenge", LDAP_NO_MEMORY, challenge},
        {"getResponseAuth", LDAP_NO_MEMORY, response_auth},
        {"handleRealm", LDAP_NO_MEMORY, realm},
        {"handleNonce", LDAP_NO_MEMORY, nonce},
        {"handleQop", LDAP_NO_MEMORY, qop},
        {"handleCharset", LDAP_NO_MEMORY, charset},
        {"handleAlgorithm", LDAP_NO_MEMORY, algorithm},
        {"handleCipher", LDAP_NO_MEMORY, cipher},
        {"ldap_bind_digest_md5_start", LDAP_NO_MEMORY, bind_start},
        {"ldap_get_digest_md5_realms", LDAP_NO_MEMORY, bind_realms},
        {"ldap_bind_digest_md5_finish", LDAP_NO_MEMORY, bind_finish},
        {"createDigestResponse", LDAP_NO_MEMORY, create_response},
        {"validateServerResponse", LDAP_NO_MEMORY, validate_response},
    };
    return rows;
}

}  // namespace allocsweep
