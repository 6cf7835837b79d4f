// The DIGEST-MD5 computations: RFC 2831's worked example as a known answer,
// the credentials text byte for byte, and rspauth verification.
#include <dirext.h>

#include "core/alloc.h"
#include "rfc2831_reference.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using sasltest::DigestInputs;
using sasltest::rfc2831;

TEST(ConvertHex, LowerCaseHighNibbleFirst)
{
    const unsigned char d[16] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xcd, 0xef, 0xff,
                                 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x9a};
    char out[34];
    std::memset(out, 'x', sizeof out);
    ConvertHex(d, out);
    EXPECT_STREQ("00017f80abcdefff102030405060709a", out);
    EXPECT_EQ('x', out[33]);
}

// RFC 2831 section 4: the IMAP example.
TEST(DigestCalc, Rfc2831WorkedExample)
{
    char ha1[33], response[33], rspauth[33];
    DigestCalcHA1("md5-sess", "chris", "elwood.innosoft.com", "secret", 6, "OA6MG9tEQGm2hh", "OA6MHXh6VqTrRk",
                  ha1);
    DigestCalcResponse(ha1, "OA6MG9tEQGm2hh", "00000001", "OA6MHXh6VqTrRk", "auth", "AUTHENTICATE",
                       "imap/elwood.innosoft.com", 1, response);
    EXPECT_STREQ("d388dad90d4bbd760a152321f2143af7", response);
    DigestCalcResponse(ha1, "OA6MG9tEQGm2hh", "00000001", "OA6MHXh6VqTrRk", "auth", "AUTHENTICATE",
                       "imap/elwood.innosoft.com", 0, rspauth);
    EXPECT_STREQ("ea40f60335c427b5527b84dbabcdfffd", rspauth);
}

TEST(DigestCalc, PasswordLengthMinusOneMeansNulTerminated)
{
    char a[33], b[33], c[33];
    DigestCalcHA1("md5-sess", "u", "r", "secret", -1, "n", "c", a);
    DigestCalcHA1("md5-sess", "u", "r", "secret", 6, "n", "c", b);
    DigestCalcHA1("md5-sess", "u", "r", "secret!!", 6, "n", "c", c);  // only the first 6 bytes
    EXPECT_STREQ(a, b);
    EXPECT_STREQ(a, c);
    // A password may hold a NUL byte when its length is given.
    DigestCalcHA1("md5-sess", "u", "r", "se\0ret", 6, "n", "c", c);
    EXPECT_STRNE(a, c);
}

TEST(DigestCalc, PlainMd5WithoutSessAndAuthIntHashesTheZeros)
{
    char ha1[33];
    DigestCalcHA1("md5", "u", "r", "p", 1, "n", "c", ha1);
    EXPECT_EQ(sasltest::hex(sasltest::md5_raw("u:r:p")), ha1);

    char resp[33];
    DigestCalcResponse("0123456789abcdef0123456789abcdef", "n", "00000001", "c", "auth-int", "AUTHENTICATE",
                       "ldap/h", 1, resp);
    const std::string ha2 =
        sasltest::hex(sasltest::md5_raw("AUTHENTICATE:ldap/h:00000000000000000000000000000000"));
    EXPECT_EQ(sasltest::hex(sasltest::md5_raw("0123456789abcdef0123456789abcdef:n:00000001:c:auth-int:" + ha2)),
              resp);
    // Without qop the nonce count, cnonce and qop are left out.
    DigestCalcResponse("0123456789abcdef0123456789abcdef", "n", "00000001", "c", "", "AUTHENTICATE", "ldap/h", 1,
                       resp);
    EXPECT_EQ(sasltest::hex(sasltest::md5_raw("0123456789abcdef0123456789abcdef:n:" +
                                                 sasltest::hex(sasltest::md5_raw("AUTHENTICATE:ldap/h")))),
              resp);
}

struct ChallengeFixture : ::testing::Test {
    DigestChallengeRecord *challenge = nullptr;
    void SetUp() override { parse("realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth\",algorithm=md5-sess"); }
    void parse(const std::string &text)
    {
        freeDigestChallenge(challenge);
        challenge = nullptr;
        struct berval bv = {text.size(), const_cast<char *>(text.data())};
        ASSERT_EQ(0, getDigestChallenge(&bv, &challenge, 0));
    }
    void TearDown() override { freeDigestChallenge(challenge); }

    std::string respond(const char *user, const char *password, const char *realm, const char *host,
                        const char *cnonce = "OA6MHXh6VqTrRk", int *rc_out = nullptr)
    {
        struct berval cred = {123, reinterpret_cast<char *>(0x1)};
        const int rc = createDigestResponse(user, password, -1, realm, host, cnonce, 1, challenge, &cred);
        if (rc_out) *rc_out = rc;
        if (rc != 0) {
            EXPECT_EQ(nullptr, cred.bv_val);
            EXPECT_EQ(0u, cred.bv_len);
            return "";
        }
        EXPECT_EQ('\0', cred.bv_val[cred.bv_len]);
        std::string text(cred.bv_val, cred.bv_len);
        std::free(cred.bv_val);
        return text;
    }
};

TEST_F(ChallengeFixture, CredentialsTextByteForByte)
{
    DigestInputs in{"chris", "elwood.innosoft.com", "secret", "OA6MG9tEQGm2hh", "OA6MHXh6VqTrRk",
                    "ldap/elwood.innosoft.com"};
    EXPECT_EQ("username=\"chris\",realm=\"elwood.innosoft.com\",cnonce=\"OA6MHXh6VqTrRk\",nc=00000001,qop=auth,"
              "digest-uri=\"ldap/elwood.innosoft.com\",response=" +
                  rfc2831(in, false) + ",charset=utf-8,nonce=\"OA6MG9tEQGm2hh\"",
              respond("chris", "secret", "elwood.innosoft.com", "elwood.innosoft.com"));
}

TEST_F(ChallengeFixture, EmptyRealmLeavesTheRealmOut)
{
    DigestInputs in{"chris", "", "secret", "OA6MG9tEQGm2hh", "c1", "ldap/h"};
    EXPECT_EQ("username=\"chris\",cnonce=\"c1\",nc=00000001,qop=auth,digest-uri=\"ldap/h\",response=" +
                  rfc2831(in, false) + ",charset=utf-8,nonce=\"OA6MG9tEQGm2hh\"",
              respond("chris", "secret", "", "h", "c1"));
    EXPECT_EQ(respond("chris", "secret", "", "h", "c1"), respond("chris", "secret", nullptr, "h", "c1"));
}

TEST_F(ChallengeFixture, ResponseMatchesRfc2831ForManyInputs)
{
    const char *users[] = {"u", "J\xc3\xbcrgen", "a b", "x@y"};
    const char *realms[] = {"R", "LAB.EXAMPLE", "r with spaces"};
    const char *passwords[] = {"", "p", "long password with: colons"};
    const char *hosts[] = {"127.0.0.1", "ldap.example.com"};
    const std::string nonces[] = {"n", "Xv1Q+0aBvT8pJ2lk8PzjD6vlQ4n4Hn7T3UgWYgBEy3k="};
    for (const auto &nonce : nonces) {
        parse("nonce=\"" + nonce + "\",qop=auth,algorithm=md5-sess");
        for (auto u : users)
            for (auto r : realms)
                for (auto p : passwords)
                    for (auto h : hosts) {
                        char cnonce[65];
                        ASSERT_EQ(0, getNonce(cnonce));
                        const std::string text = respond(u, p, r, h, cnonce);
                        DigestInputs in{u, r, p, nonce, cnonce, std::string("ldap/") + h};
                        const std::string tail = ",response=" + rfc2831(in, false) + ",charset=utf-8,nonce=\"" +
                                                 nonce + "\"";
                        ASSERT_GE(text.size(), tail.size());
                        EXPECT_EQ(tail, text.substr(text.size() - tail.size())) << u << r << p << h;
                    }
    }
}

TEST_F(ChallengeFixture, QuotedValuesAreEscaped)
{
    parse("nonce=\"x\\\"y\",qop=auth,algorithm=md5-sess");
    // The hash takes the values as they are; the text escapes '"' and '\'.
    DigestInputs in{"a\"b\\c", "r\"", "p", "x\"y", "c", "ldap/h"};
    EXPECT_EQ("username=\"a\\\"b\\\\c\",realm=\"r\\\"\",cnonce=\"c\",nc=00000001,qop=auth,digest-uri=\"ldap/h\","
              "response=" +
                  rfc2831(in, false) + ",charset=utf-8,nonce=\"x\\\"y\"",
              respond("a\"b\\c", "p", "r\"", "h", "c"));
}

TEST_F(ChallengeFixture, ResponseThatWouldNotFitIsRefused)
{
    // The text without the user is fixed in length here; find the user length
    // at which it just fits 4095 bytes and a terminator.
    const std::string fixed = respond("", "p", "R", "h", "c");
    const size_t room = 4095 - fixed.size();
    int rc = -1;
    const std::string fits = respond(std::string(room, 'u').c_str(), "p", "R", "h", "c", &rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(4095u, fits.size());
    respond(std::string(room + 1, 'u').c_str(), "p", "R", "h", "c", &rc);
    EXPECT_EQ(DIGEST_ERR_RESPONSE_TOO_LONG, rc);
    EXPECT_EQ(LDAP_ENCODING_ERROR, rc);
    respond("u", "p", "R", std::string(5000, 'h').c_str(), "c", &rc);
    EXPECT_EQ(DIGEST_ERR_RESPONSE_TOO_LONG, rc);
    // Escaping counts: 2048 quotes become 4096 bytes.
    respond(std::string(2048, '"').c_str(), "p", "R", "h", "c", &rc);
    EXPECT_EQ(DIGEST_ERR_RESPONSE_TOO_LONG, rc);
}

TEST_F(ChallengeFixture, BadArguments)
{
    struct berval cred;
    EXPECT_EQ(LDAP_PARAM_ERROR, createDigestResponse("u", "p", -1, "r", "h", "c", 1, challenge, nullptr));
    EXPECT_EQ(LDAP_PARAM_ERROR, createDigestResponse(nullptr, "p", -1, "r", "h", "c", 1, challenge, &cred));
    EXPECT_EQ(LDAP_PARAM_ERROR, createDigestResponse("u", "p", -1, "r", "h", nullptr, 1, challenge, &cred));
    EXPECT_EQ(LDAP_PARAM_ERROR, createDigestResponse("u", "p", -1, "r", "h", "c", 1, nullptr, &cred));
    EXPECT_EQ(LDAP_PARAM_ERROR, validateServerResponse("u", "p", -1, "r", "h", "c", 1, nullptr, nullptr));
}

TEST_F(ChallengeFixture, AllocationFailureOfTheBuffer)
{
    dirext::set_alloc_fail_hook([](size_t) { return true; });
    struct berval cred = {5, reinterpret_cast<char *>(0x1)};
    const int rc = createDigestResponse("u", "p", -1, "r", "h", "c", 1, challenge, &cred);
    dirext::set_alloc_fail_hook(nullptr);
    EXPECT_EQ(LDAP_NO_MEMORY, rc);
    EXPECT_EQ(nullptr, cred.bv_val);
}

TEST_F(ChallengeFixture, ServerResponseVerification)
{
    DigestInputs in{"chris", "elwood.innosoft.com", "secret", "OA6MG9tEQGm2hh", "OA6MHXh6VqTrRk",
                    "ldap/elwood.innosoft.com"};
    const std::string good = rfc2831(in, true);
    std::string wrong = good;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    const struct {
        const char *what;
        std::string text;
        bool null_cred;
        int rc;
    } cases[] = {
        {"matching", "rspauth=" + good, false, 0},
        {"quoted", "rspauth=\"" + good + "\"", false, 0},
        {"wrong", "rspauth=" + wrong, false, LDAP_INVALID_CREDENTIALS},
        {"truncated", "rspauth=" + good.substr(0, 31), false, LDAP_INVALID_CREDENTIALS},
        {"upper case", "rspauth=" + std::string(good.size(), 'A'), false, LDAP_INVALID_CREDENTIALS},
        {"missing", "other=1", false, LDAP_INVALID_CREDENTIALS},
        {"empty", "", false, LDAP_INVALID_CREDENTIALS},
        {"no credentials", "", true, LDAP_INVALID_CREDENTIALS},
        {"malformed", "rspauth=\"" + good, false, LDAP_PROTOCOL_ERROR},
    };
    for (const auto &c : cases) {
        struct berval bv = {c.text.size(), const_cast<char *>(c.text.data())};
        EXPECT_EQ(c.rc, validateServerResponse("chris", "secret", -1, "elwood.innosoft.com", "elwood.innosoft.com",
                                               "OA6MHXh6VqTrRk", 1, challenge, c.null_cred ? nullptr : &bv))
            << c.what;
    }
}

TEST(NotSupported, TheOtherMethodAnswersMinusTwelve)
{
    int code = 0;
    EXPECT_EQ(LDAP_NOT_SUPPORTED, ldap_bind_tovar_s(nullptr, "cn=x", "p"));
    EXPECT_EQ(LDAP_NOT_SUPPORTED, ldap_bind_tovar_ex_s(nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(LDAP_NOT_SUPPORTED, ldap_tovar_get_errcode(nullptr, &code));
    EXPECT_EQ(-12, LDAP_NOT_SUPPORTED);
}

}  // namespace
