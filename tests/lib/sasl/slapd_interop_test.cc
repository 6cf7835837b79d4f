// The DIGEST-MD5 bind against a real peer: a private OpenLDAP slapd whose
// Cyrus SASL speaks DIGEST-MD5 (no sasldb: plaintext userPassword and an
// authz-regexp to the user's entry).
#include <dirext.h>

#include "sasl/digest.h"
#include "slapd.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Unbind {
    void operator()(LDAP *ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Session = std::unique_ptr<LDAP, Unbind>;

class SlapdDigest : public testsupport::SlapdTest {
protected:
    testsupport::SlapdOptions slapd_options() const override
    {
        testsupport::SlapdOptions o;
        o.sasl_realm = "LAB.EXAMPLE";
        return o;
    }

    Session open()
    {
        LDAP *ld = nullptr;
        EXPECT_EQ(LDAP_SUCCESS, ldap_initialize(&ld, slapd().url().c_str()));
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        return Session(ld);
    }
};

TEST_F(SlapdDigest, CorrectPasswordBindsAndTheServerProvesItself)
{
    Session ld = open();
    DigestMD5Context *ctx = nullptr;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &ctx));
    char **realms = nullptr;
    ASSERT_EQ(0, ldap_get_digest_md5_realms(ctx, &realms));
    std::vector<std::string> offered;
    for (char **r = realms; *r; ++r) offered.push_back(*r);
    EXPECT_EQ((std::vector<std::string>{"LAB.EXAMPLE"}), offered);
    EXPECT_EQ(0, ldap_bind_digest_md5_finish(&ctx, testsupport::Slapd::kUserName,
                                             testsupport::Slapd::kUserPassword, -1, 0, DIGEST_MD5_PROCEED));
    EXPECT_EQ(nullptr, ctx);

    // slapd took us for the user.
    struct berval *authzid = nullptr;
    ASSERT_EQ(LDAP_SUCCESS, ldap_whoami_s(ld.get(), &authzid, nullptr, nullptr));
    ASSERT_NE(nullptr, authzid);
    EXPECT_EQ("dn:" + std::string(testsupport::Slapd::kUserDn), std::string(authzid->bv_val, authzid->bv_len));
    ber_bvfree(authzid);
}

TEST_F(SlapdDigest, WrongPasswordGives49)
{
    Session ld = open();
    DigestMD5Context *ctx = nullptr;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &ctx));
    EXPECT_EQ(LDAP_INVALID_CREDENTIALS,
              ldap_bind_digest_md5_finish(&ctx, testsupport::Slapd::kUserName, "not-the-password", -1, 0,
                                          DIGEST_MD5_PROCEED));
    EXPECT_EQ(nullptr, ctx);
}

TEST_F(SlapdDigest, SlapdsChallengeParsesIntoTheRecord)
{
    Session ld = open();
    DigestMD5Context *ctx = nullptr;
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &ctx));
    const DigestChallengeRecord *c = ctx->challenge;
    EXPECT_EQ(DIGEST_QOP_AUTH | DIGEST_QOP_AUTH_INT | DIGEST_QOP_AUTH_CONF, c->qop);
    EXPECT_NE(0u, c->cipher & (DIGEST_CIPHER_3DES | DIGEST_CIPHER_DES | DIGEST_CIPHER_RC4));
    EXPECT_EQ(65536, c->maxbuf);
    EXPECT_STREQ("utf-8", c->charset);
    EXPECT_STREQ("md5-sess", c->algorithm);
    ASSERT_NE(nullptr, c->nonce);
    EXPECT_GT(std::string(c->nonce).size(), 16u);
    EXPECT_EQ(LDAP_USER_CANCELLED, ldap_bind_digest_md5_finish(&ctx, nullptr, nullptr, 0, 0, DIGEST_MD5_CANCEL));
    // A cancelled exchange leaves the session able to bind again.
    ASSERT_EQ(0, ldap_bind_digest_md5_start(ld.get(), &ctx));
    EXPECT_EQ(0, ldap_bind_digest_md5_finish(&ctx, testsupport::Slapd::kUserName,
                                             testsupport::Slapd::kUserPassword, -1, 0, DIGEST_MD5_PROCEED));
}

}  // namespace
