// The DIGEST-MD5 message scanner, the token-list walker and the challenge
// validation, on bytes.
#include <dirext.h>

#include "core/alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Scan {
    int rc = 0;
    int error_pos = 0;
    std::vector<std::pair<std::string, std::string>> directives;  // name, value
    std::vector<int> kinds;
};

Scan scan(const std::string &text)
{
    Scan s;
    DigestDirective *list = reinterpret_cast<DigestDirective *>(0x1);
    s.rc = parseDirectiveList(text.data(), text.size(), &list, &s.error_pos);
    for (DigestDirective *d = list; d; d = d->next) {
        s.directives.emplace_back(d->name, std::string(d->value, d->length));
        s.kinds.push_back(d->kind);
    }
    if (s.rc != 0) {
        EXPECT_EQ(nullptr, list);
    }
    freeParsedDirectives(list);
    return s;
}

using Directives = std::vector<std::pair<std::string, std::string>>;

TEST(DirectiveScanner, ParsesValidMessages)
{
    const struct {
        std::string text;
        Directives expected;
    } cases[] = {
        {"", {}},
        {"  \t\r\n", {}},
        {"a=b", {{"a", "b"}}},
        {"a=\"b c\"", {{"a", "b c"}}},
        {" a = b , c = \"d\" ", {{"a", "b"}, {"c", "d"}}},
        {"a=b,c=d", {{"a", "b"}, {"c", "d"}}},
        {"a=\"\"", {{"a", ""}}},
        {"a=\"x,y=z\"", {{"a", "x,y=z"}}},
        {"a=\"x\\\"y\"", {{"a", "x\"y"}}},      // escaped quote
        {"a=\"x\\\\\"", {{"a", "x\\"}}},        // escaped backslash, then the end
        {"a=\"\\q\"", {{"a", "q"}}},            // any escaped byte stands for itself
        {"a=b\"c/d", {{"a", "b\"c/d"}}},        // '"' and '/' are token characters
        {"n\xc3\xa9=\xff", {{"n\xc3\xa9", "\xff"}}},
        {"a=b ,c=d", {{"a", "b"}, {"c", "d"}}},
    };
    for (const auto &c : cases) {
        const Scan s = scan(c.text);
        EXPECT_EQ(0, s.rc) << c.text;
        EXPECT_EQ(-1, s.error_pos) << c.text;
        EXPECT_EQ(c.expected, s.directives) << c.text;
    }
}

TEST(DirectiveScanner, RecordsWhetherAValueWasQuoted)
{
    const Scan s = scan("a=\"q\",b=t");
    EXPECT_EQ((std::vector<int>{DIGEST_VALUE_QUOTED, DIGEST_VALUE_TOKEN}), s.kinds);
}

TEST(DirectiveScanner, EscapedQuoteGivesThreeBytes)
{
    DigestDirective *list = nullptr;
    const std::string text = "nonce=\"x\\\"y\"";
    ASSERT_EQ(0, parseDirectiveList(text.data(), text.size(), &list, nullptr));
    ASSERT_NE(nullptr, list);
    EXPECT_STREQ("x\"y", list->value);
    EXPECT_EQ(3, list->length);
    freeParsedDirectives(list);
}

TEST(DirectiveScanner, RejectsMalformedMessagesWithCodeAndPosition)
{
    const struct {
        std::string text;
        int rc;
        int pos;
    } cases[] = {
        {"=b", DIGEST_ERR_NAME_CHAR, 0},
        {",a=b", DIGEST_ERR_NAME_CHAR, 0},
        {"a=b,,c=d", DIGEST_ERR_NAME_CHAR, 4},
        {"a;=b", DIGEST_ERR_NAME_CHAR, 1},
        {"a b", DIGEST_ERR_EXPECT_EQUALS, 2},
        {"a==b", DIGEST_ERR_VALUE_START, 2},
        {"a=,", DIGEST_ERR_VALUE_START, 2},
        {"a=b;", DIGEST_ERR_TOKEN_END, 3},
        {"a=b=c", DIGEST_ERR_TOKEN_END, 3},
        {"a=\"b\"c", DIGEST_ERR_EXPECT_COMMA, 5},
        {"a=b c=d", DIGEST_ERR_EXPECT_COMMA, 4},
        {"a=b,", DIGEST_ERR_TRAILING_COMMA, -1},
        {"a=b, ", DIGEST_ERR_TRAILING_COMMA, -1},
        {"a", DIGEST_ERR_END_IN_NAME, -1},
        {"a ", DIGEST_ERR_END_IN_NAME, -1},
        {"a=", DIGEST_ERR_END_IN_NAME, -1},
        {"a= ", DIGEST_ERR_END_IN_NAME, -1},
        {"a=\"b", DIGEST_ERR_END_IN_QUOTE, -1},
        {"a=\"b\\\"", DIGEST_ERR_END_IN_QUOTE, -1},
        {"a=\"b\\", DIGEST_ERR_END_IN_QUOTE, -1},
        {std::string("a=b\0", 4), DIGEST_ERR_TOKEN_END, 3},
    };
    for (const auto &c : cases) {
        const Scan s = scan(c.text);
        EXPECT_EQ(c.rc, s.rc) << c.text;
        EXPECT_EQ(c.pos, s.error_pos) << c.text;
    }
}

TEST(DirectiveScanner, EveryTruncationOfAChallengeEndsCleanly)
{
    const std::string text =
        "realm=\"LAB.EXAMPLE\",nonce=\"abc\\\"def\",qop=\"auth,auth-int\",maxbuf=65536,charset=utf-8,algorithm=md5-sess";
    for (size_t n = 0; n <= text.size(); ++n) {
        const Scan s = scan(text.substr(0, n));
        if (s.rc != 0) {
            EXPECT_GE(s.rc, DIGEST_ERR_NAME_CHAR) << n;
        }
    }
}

TEST(DirectiveScanner, BadArguments)
{
    DigestDirective *list = nullptr;
    int pos = 7;
    EXPECT_EQ(LDAP_PARAM_ERROR, parseDirectiveList("a=b", 3, nullptr, &pos));
    EXPECT_EQ(LDAP_PARAM_ERROR, parseDirectiveList(nullptr, 3, &list, &pos));
    EXPECT_EQ(0, parseDirectiveList(nullptr, 0, &list, nullptr));
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ(LDAP_PARAM_ERROR, addDirective(nullptr));
    DigestScanner empty{};
    EXPECT_EQ(LDAP_PARAM_ERROR, addValue(&empty, 0));  // no directive to attach to
    freeParsedDirectives(nullptr);
}

TEST(DirectiveScanner, AddDirectiveAndAddValueWorkOnTheCurrentSpan)
{
    const char text[] = "name\\\"x";
    DigestScanner sc{};
    sc.data = text;
    sc.start = text;
    sc.pos = text + 4;
    ASSERT_EQ(0, addDirective(&sc));
    sc.start = text + 4;
    sc.pos = text + 7;
    sc.state = 7;
    ASSERT_EQ(0, addValue(&sc, 1));
    ASSERT_NE(nullptr, sc.first);
    EXPECT_EQ(sc.first, sc.last);
    EXPECT_STREQ("name", sc.first->name);
    EXPECT_STREQ("\"x", sc.first->value);
    EXPECT_EQ(2, sc.first->length);
    EXPECT_EQ(DIGEST_VALUE_QUOTED, sc.first->kind);
    freeParsedDirectives(sc.first);
}

TEST(CharacterClasses, TokenAndWhiteSpaceSets)
{
    const std::string separators = "%(),:;<=>?@[\\]{}";
    for (int c = 0; c < 256; ++c) {
        const bool token = c > 32 && c != 127 && separators.find(static_cast<char>(c)) == std::string::npos;
        EXPECT_EQ(token ? 1 : 0, isValidTokenChar(c)) << c;
        const bool space = c == '\t' || c == '\n' || c == '\r' || c == ' ';
        EXPECT_EQ(space ? 1 : 0, isWhiteSpace(c)) << c;
    }
    EXPECT_EQ(1, isValidTokenChar('"'));
    EXPECT_EQ(1, isValidTokenChar('/'));
    EXPECT_EQ(0, isValidTokenChar(-1));
    EXPECT_EQ(0, isValidTokenChar(256));
    EXPECT_EQ(0, isWhiteSpace('\v'));
}

// Walks a whole list; each step is "token/code".
std::vector<std::string> walk(const std::string &text, int max_steps = 10)
{
    std::vector<std::string> steps;
    DigestTokenCursor *cursor = nullptr;
    for (int i = 0; i < max_steps; ++i) {
        const char *token = reinterpret_cast<const char *>(0x1);
        int len = -1;
        int pos = 0;
        const int rc = parseTokenList(text.data(), text.size(), &token, &len, &cursor, &pos);
        std::string step = token ? std::string(token, len) : "-";
        step += "/" + std::to_string(rc);
        if (rc != 0 && rc != DIGEST_LAST_TOKEN) step += "@" + std::to_string(pos);
        steps.push_back(step);
        if (!token || (rc != 0)) break;
    }
    std::free(cursor);
    return steps;
}

TEST(TokenListWalker, WalksListsOneTokenPerCall)
{
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"-/0"}), walk(""));
    EXPECT_EQ((V{"-/0"}), walk("   "));
    EXPECT_EQ((V{"auth/1031"}), walk("auth"));
    EXPECT_EQ((V{"auth/0", "-/0"}), walk("auth "));
    EXPECT_EQ((V{"auth/0", "auth-int/0", "auth-conf/1031"}), walk("auth,auth-int,auth-conf"));
    EXPECT_EQ((V{"auth/0", "auth-int/0", "auth-conf/0", "-/0"}), walk(" auth , auth-int ,auth-conf "));
    EXPECT_EQ((V{"a/0", "-/1027@-1"}), walk("a,"));
    EXPECT_EQ((V{"a/0", "-/1030@2"}), walk("a,,b"));
    EXPECT_EQ((V{"-/1030@0"}), walk(",a"));
    EXPECT_EQ((V{"-/1030@1"}), walk("a;b"));
    EXPECT_EQ((V{"a/0", "-/1026@2"}), walk("a b"));
}

TEST(TokenListWalker, CursorIsFortyBytesAndRepeatsItsEnd)
{
    EXPECT_EQ(40u, sizeof(DigestTokenCursor));
    DigestTokenCursor *cursor = nullptr;
    const char *token = nullptr;
    int len = 0;
    EXPECT_EQ(DIGEST_LAST_TOKEN, parseTokenList("x", 1, &token, &len, &cursor, nullptr));
    EXPECT_EQ(0, parseTokenList("x", 1, &token, &len, &cursor, nullptr));
    EXPECT_EQ(nullptr, token);
    std::free(cursor);

    cursor = nullptr;
    EXPECT_EQ(DIGEST_ERR_TOKEN_LIST, parseTokenList(";", 1, &token, &len, &cursor, nullptr));
    EXPECT_EQ(DIGEST_ERR_TOKEN_LIST, parseTokenList(";", 1, &token, &len, &cursor, nullptr));
    std::free(cursor);
    EXPECT_EQ(LDAP_PARAM_ERROR, parseTokenList("x", 1, nullptr, &len, &cursor, nullptr));
}

struct Challenge {
    int rc = -1;
    DigestChallengeRecord *record = nullptr;
    ~Challenge() { freeDigestChallenge(record); }
};

void parse_challenge(const std::string &text, Challenge &c, int allow_stale = 0)
{
    struct berval bv = {text.size(), const_cast<char *>(text.data())};
    c.rc = getDigestChallenge(&bv, &c.record, allow_stale);
    if (c.rc != 0) {
        EXPECT_EQ(nullptr, c.record) << text;
    }
}

std::vector<std::string> realms_of(const DigestChallengeRecord *c)
{
    std::vector<std::string> out;
    for (const DigestRealm *r = c->realms; r; r = r->next) out.push_back(r->realm);
    return out;
}

TEST(DigestChallenge, ParsesAChallengeWithTwoRealms)
{
    Challenge c;
    parse_challenge("realm=\"a\",realm=\"b\",nonce=\"n0nce\",qop=auth,algorithm=md5-sess", c);
    ASSERT_EQ(0, c.rc);
    EXPECT_EQ((std::vector<std::string>{"b", "a"}), realms_of(c.record));
    EXPECT_EQ(2, c.record->realm_count);
    EXPECT_STREQ("n0nce", c.record->nonce);
    EXPECT_EQ(DIGEST_QOP_AUTH, c.record->qop);
    EXPECT_EQ(65536, c.record->maxbuf);
    EXPECT_STREQ("md5-sess", c.record->algorithm);
    EXPECT_EQ(nullptr, c.record->charset);
    EXPECT_EQ(0u, c.record->stale);
    EXPECT_EQ(0u, c.record->cipher);
}

TEST(DigestChallenge, ParsesSlapdsChallenge)
{
    Challenge c;
    parse_challenge("nonce=\"Xv1Q+0aBvT8pJ2lk8PzjD6vlQ4n4Hn7T3UgWYgBEy3k=\",realm=\"LAB.EXAMPLE\","
                    "qop=\"auth,auth-int,auth-conf\",cipher=\"rc4-40,rc4-56,rc4,des,3des\",maxbuf=65536,"
                    "charset=utf-8,algorithm=md5-sess",
                    c);
    ASSERT_EQ(0, c.rc);
    EXPECT_EQ(DIGEST_QOP_AUTH | DIGEST_QOP_AUTH_INT | DIGEST_QOP_AUTH_CONF, c.record->qop);
    EXPECT_EQ(31u, c.record->cipher);
    EXPECT_STREQ("utf-8", c.record->charset);
    EXPECT_EQ((std::vector<std::string>{"LAB.EXAMPLE"}), realms_of(c.record));
}

TEST(DigestChallenge, FieldValues)
{
    const std::string base = "nonce=n,algorithm=md5-sess,";
    const struct {
        std::string extra;
        unsigned qop, cipher;
        int maxbuf;
    } cases[] = {
        {"qop=\" auth , auth-int ,auth-conf\",cipher=3des", 7, DIGEST_CIPHER_3DES, 65536},
        {"qop=\"auth,x-new\"", DIGEST_QOP_AUTH | DIGEST_QOP_OTHER, 0, 65536},
        {"qop=\"auth \"", DIGEST_QOP_AUTH, 0, 65536},
        {"qop=\"\",qop=auth", DIGEST_QOP_AUTH, 0, 65536},  // an empty list sets nothing
        {"qop=auth,maxbuf=4096", DIGEST_QOP_AUTH, 0, 4096},
        {"qop=auth,cipher=\"des,rc4,rc4-56,rc4-40,aes\"", DIGEST_QOP_AUTH, 2 | 4 | 8 | 16 | 32, 65536},
        {"qop=auth,unknown=\"ignored\",Realm=x", DIGEST_QOP_AUTH, 0, 65536},
    };
    for (const auto &k : cases) {
        Challenge c;
        parse_challenge(base + k.extra, c);
        ASSERT_EQ(0, c.rc) << k.extra;
        EXPECT_EQ(k.qop, c.record->qop) << k.extra;
        EXPECT_EQ(k.cipher, c.record->cipher) << k.extra;
        EXPECT_EQ(k.maxbuf, c.record->maxbuf) << k.extra;
        EXPECT_EQ(0, c.record->realm_count) << k.extra;  // "Realm" is not "realm"
    }
}

TEST(DigestChallenge, RejectionsInTheirOrder)
{
    const struct {
        std::string text;
        int rc;
        int allow_stale = 0;
    } cases[] = {
        {"nonce=n,qop=auth-int,algorithm=md5-sess", DIGEST_ERR_NO_AUTH_QOP},
        {"nonce=n,algorithm=md5-sess", DIGEST_ERR_NO_AUTH_QOP},
        {"", DIGEST_ERR_NO_AUTH_QOP},
        {"nonce=n,qop=\"auth,auth-conf\",algorithm=md5-sess", DIGEST_ERR_NO_CIPHER},
        {"nonce=n,qop=\"auth,auth-conf\",cipher=aes,algorithm=md5-sess", DIGEST_ERR_NO_CIPHER},
        {"qop=auth,algorithm=md5-sess", DIGEST_ERR_NO_NONCE},
        {"nonce=n,qop=auth,stale=true,algorithm=md5-sess", DIGEST_ERR_STALE},
        {"nonce=n,qop=auth,stale=true,algorithm=md5-sess", 0, 1},
        {"nonce=n,qop=auth", DIGEST_ERR_NO_ALGORITHM},
        {"nonce=n,qop=auth,algorithm=md5", DIGEST_ERR_ALGORITHM},
        {"nonce=n,qop=auth,algorithm=MD5-sess", DIGEST_ERR_ALGORITHM},
        {"nonce=n,qop=auth,algorithm=md5-sess,charset=iso-8859-1", DIGEST_ERR_CHARSET},
        {"nonce=n,qop=auth,algorithm=md5-sess,stale=false", DIGEST_ERR_STALE_VALUE},
        {"nonce=n,qop=auth,algorithm=md5-sess,maxbuf=0", DIGEST_ERR_MAXBUF},
        {"nonce=n,qop=auth,algorithm=md5-sess,maxbuf=\"\"", DIGEST_ERR_MAXBUF},
        {"nonce=n,qop=auth,algorithm=md5-sess,maxbuf=12x", DIGEST_ERR_MAXBUF},
        {"nonce=n,qop=auth,algorithm=md5-sess,maxbuf=99999999999", DIGEST_ERR_MAXBUF},
        {"nonce=n,nonce=m,qop=auth,algorithm=md5-sess", DIGEST_ERR_NONCE_TWICE},
        {"nonce=n,qop=auth,qop=auth,algorithm=md5-sess", DIGEST_ERR_DUPLICATE},
        {"nonce=n,qop=auth,algorithm=md5-sess,algorithm=md5-sess", DIGEST_ERR_DUPLICATE},
        {"nonce=n,qop=auth,algorithm=md5-sess,charset=utf-8,charset=utf-8", DIGEST_ERR_DUPLICATE},
        {"nonce=n,qop=auth,algorithm=md5-sess,maxbuf=1,maxbuf=1", DIGEST_ERR_DUPLICATE},
        {"nonce=n,qop=auth,algorithm=md5-sess,cipher=des,cipher=des", DIGEST_ERR_DUPLICATE},
        {"nonce=n,qop=auth,algorithm=md5-sess,stale=true,stale=true", DIGEST_ERR_DUPLICATE, 1},
        // Walker failures come out as they are; scanner failures as 2.
        {"nonce=n,qop=\"auth,\",algorithm=md5-sess", DIGEST_ERR_TRAILING_COMMA},
        {"nonce=n,qop=\"auth;x\",algorithm=md5-sess", DIGEST_ERR_TOKEN_LIST},
        {"nonce=n,qop=\"auth x\",algorithm=md5-sess", DIGEST_ERR_EXPECT_COMMA},
        {"nonce=\"n,qop=auth,algorithm=md5-sess", LDAP_PROTOCOL_ERROR},
        {"nonce=n,qop=auth,algorithm=md5-sess,", LDAP_PROTOCOL_ERROR},
        {"nonce=n qop=auth", LDAP_PROTOCOL_ERROR},
    };
    for (const auto &k : cases) {
        Challenge c;
        parse_challenge(k.text, c, k.allow_stale);
        EXPECT_EQ(k.rc, c.rc) << k.text;
    }
}

TEST(DigestChallenge, BadArguments)
{
    DigestChallengeRecord *c = reinterpret_cast<DigestChallengeRecord *>(0x1);
    EXPECT_EQ(LDAP_PROTOCOL_ERROR, getDigestChallenge(nullptr, &c, 0));
    EXPECT_EQ(nullptr, c);
    struct berval bv = {3, const_cast<char *>("a=b")};
    EXPECT_EQ(LDAP_PARAM_ERROR, getDigestChallenge(&bv, nullptr, 0));
    freeDigestChallenge(nullptr);
    EXPECT_EQ(LDAP_PARAM_ERROR, handleRealm(nullptr, nullptr));
}

TEST(ResponseAuth, TakesTheFirstRspauth)
{
    const struct {
        std::string text;
        int rc;
        const char *value;
    } cases[] = {
        {"rspauth=abc", 0, "abc"},
        {"x=1,rspauth=\"q\\\"d\",rspauth=second", 0, "q\"d"},
        {"RSPAUTH=abc", 0, nullptr},
        {"", 0, nullptr},
        {"rspauth=", LDAP_PROTOCOL_ERROR, nullptr},
        {"rspauth=\"abc", LDAP_PROTOCOL_ERROR, nullptr},
    };
    for (const auto &k : cases) {
        struct berval bv = {k.text.size(), const_cast<char *>(k.text.data())};
        char *value = reinterpret_cast<char *>(0x1);
        EXPECT_EQ(k.rc, getResponseAuth(&bv, &value)) << k.text;
        if (k.value) {
            EXPECT_STREQ(k.value, value) << k.text;
        } else {
            EXPECT_EQ(nullptr, value) << k.text;
        }
        std::free(value);
    }
    char *value = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(0, getResponseAuth(nullptr, &value));  // no server credentials
    EXPECT_EQ(nullptr, value);
    EXPECT_EQ(LDAP_PARAM_ERROR, getResponseAuth(nullptr, nullptr));
}

// Fails the nth allocation of the library (counting from 1).
int g_fail_at = 0;
int g_count = 0;
bool fail_nth(size_t)
{
    return ++g_count == g_fail_at;
}

TEST(AllocationFailure, EveryAllocationOfTheParserFailsCleanly)
{
    const std::string text = "realm=\"a\",realm=\"b\\\"c\",nonce=\"n\",qop=\"auth,auth-int\",cipher=des,"
                             "charset=utf-8,algorithm=md5-sess,stale=true,rspauth=x";
    struct berval bv = {text.size(), const_cast<char *>(text.data())};
    for (int n = 1;; ++n) {
        g_fail_at = n;
        g_count = 0;
        dirext::set_alloc_fail_hook(fail_nth);
        DigestChallengeRecord *c = nullptr;
        const int rc = getDigestChallenge(&bv, &c, 1);
        dirext::set_alloc_fail_hook(nullptr);
        if (rc == 0) {
            ASSERT_GT(n, 10);
            freeDigestChallenge(c);
            break;
        }
        EXPECT_EQ(LDAP_NO_MEMORY, rc) << "allocation " << n;
        EXPECT_EQ(nullptr, c);
    }
    for (int n = 1;; ++n) {
        g_fail_at = n;
        g_count = 0;
        dirext::set_alloc_fail_hook(fail_nth);
        char *value = nullptr;
        const int rc = getResponseAuth(&bv, &value);
        dirext::set_alloc_fail_hook(nullptr);
        if (rc == 0) {
            EXPECT_STREQ("x", value);
            std::free(value);
            break;
        }
        EXPECT_EQ(LDAP_NO_MEMORY, rc) << "allocation " << n;
    }
}

}  // namespace
