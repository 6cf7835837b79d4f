// The library's own code never calls its exported names through the dynamic
// symbol table: this program exports definitions of its own for them (as a
// program that defines MD5 or links a BSD libmd would), and the library's
// results must not pass through them.
#include <dirext.h>

#include "rfc2831_reference.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::atomic<int> impostor_calls{0};
}

extern "C" {
// Exported from the executable (ENABLE_EXPORTS), so they come first in the
// global lookup scope.
unsigned char *MD5(const unsigned char *, size_t, unsigned char *out)
{
    ++impostor_calls;
    return out;
}
void MD5Init(MD5Context *) { ++impostor_calls; }
void MD5Update(MD5Context *, const unsigned char *, size_t) { ++impostor_calls; }
void MD5Final(unsigned char *, MD5Context *) { ++impostor_calls; }
void XRAND_add(const void *, int, double) { ++impostor_calls; }
int XRAND_bytes(unsigned char *, int)
{
    ++impostor_calls;
    return 0;
}
int XRAND_poll(void)
{
    ++impostor_calls;
    return 1;
}
void ConvertHex(const unsigned char *, char *) { ++impostor_calls; }
int parseDirectiveList(const char *, size_t, DigestDirective **, int *)
{
    ++impostor_calls;
    return 0;
}
int parseTokenList(const char *, size_t, const char **, int *, DigestTokenCursor **, int *)
{
    ++impostor_calls;
    return 0;
}
int getResponseAuth(const struct berval *, char **)
{
    ++impostor_calls;
    return 0;
}
void DigestCalcHA1(const char *, const char *, const char *, const char *, int, const char *,
                   const char *, char *)
{
    ++impostor_calls;
}
void DigestCalcResponse(const char *, const char *, const char *, const char *, const char *,
                        const char *, const char *, int, char *)
{
    ++impostor_calls;
}
}

namespace {

TEST(Interposition, TheImpostorsAreWhatTheGlobalScopeFinds)
{
    EXPECT_EQ(reinterpret_cast<void *>(&MD5), dlsym(RTLD_DEFAULT, "MD5"));
    EXPECT_EQ(reinterpret_cast<void *>(&XRAND_bytes), dlsym(RTLD_DEFAULT, "XRAND_bytes"));
}

TEST(Interposition, TheLibraryUsesItsOwnFunctions)
{
    impostor_calls = 0;
    // RFC 2831's example goes through MD5 and ConvertHex.
    char response[33];
    const char challenge_text[] =
        "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth\",algorithm=md5-sess,charset=utf-8";
    struct berval challenge_bv = {sizeof challenge_text - 1, const_cast<char *>(challenge_text)};
    DigestChallengeRecord *challenge = nullptr;
    ASSERT_EQ(0, getDigestChallenge(&challenge_bv, &challenge, 0));  // scanner and token walker
    ASSERT_NE(nullptr, challenge);
    EXPECT_EQ(DIGEST_QOP_AUTH, challenge->qop);

    struct berval cred = {0, nullptr};
    ASSERT_EQ(0, createDigestResponse("chris", "secret", -1, "elwood.innosoft.com", "elwood.innosoft.com",
                                      "OA6MHXh6VqTrRk", 1, challenge, &cred));
    const char *text = cred.bv_val;
    const char *r = std::strstr(text, "response=");
    ASSERT_NE(nullptr, r);
    std::memcpy(response, r + 9, 32);
    response[32] = '\0';
    sasltest::DigestInputs in{"chris", "elwood.innosoft.com", "secret", "OA6MG9tEQGm2hh", "OA6MHXh6VqTrRk",
                              "ldap/elwood.innosoft.com"};
    EXPECT_EQ(sasltest::rfc2831(in, false), response);

    const char rsp_text[] = "rspauth=00000000000000000000000000000000";
    struct berval rsp = {sizeof rsp_text - 1, const_cast<char *>(rsp_text)};
    EXPECT_EQ(LDAP_INVALID_CREDENTIALS,
              validateServerResponse("chris", "secret", -1, "elwood.innosoft.com", "elwood.innosoft.com",
                                     "OA6MHXh6VqTrRk", 1, challenge, &rsp));

    char nonce[65];
    EXPECT_EQ(0, getNonce(nonce));  // draws from the pool, which stirs with MD5
    EXPECT_EQ(64u, std::strspn(nonce, "0123456789ABCDEF"));
    EXPECT_EQ(1, XRAND_status());

    std::free(cred.bv_val);
    freeDigestChallenge(challenge);
    EXPECT_EQ(0, impostor_calls.load());
}

}  // namespace
