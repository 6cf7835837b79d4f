// Searches by LDAP URL against the simulator: what goes out, the message id
// as an ordinary request of the session, time-outs and refusals.
#include <dirext.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim_session.h"

namespace {

using simsession::Message;
using simsession::session_code;

class UrlSearch : public simsession::SimTest {};

TEST_F(UrlSearch, SynchronousSearchUsesTheUrlsBaseScopeFilterAndAttributes)
{
    LDAPMessage *raw = nullptr;
    // Host and port name another server: they are not used.
    ASSERT_EQ(ldap_url_search_s(ld(), "ldap://elsewhere.invalid:1/o=lab?sn,cn?sub?(cn=Alice*)", 0, &raw),
              LDAP_SUCCESS);
    Message res(raw);
    ASSERT_EQ(ldap_count_entries(ld(), res.get()), 1);
    LDAPMessage *entry = ldap_first_entry(ld(), res.get());
    char *dn = ldap_get_dn(ld(), entry);
    EXPECT_STREQ(dn, "cn=Alice Smith,ou=people,o=lab");
    ldap_memfree(dn);

    auto searches = logged("search");
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0].dn, "o=lab");
    EXPECT_EQ(searches[0].detail, "scope=sub filter=(cn=Alice*) attrs=sn,cn");
    EXPECT_TRUE(searches[0].controls.empty());
}

TEST_F(UrlSearch, DefaultsOfAShortUrl)
{
    LDAPMessage *raw = nullptr;
    ASSERT_EQ(ldap_url_search_s(ld(), "ldap:///o=lab??sub?(cn=a)", 1, &raw), LDAP_SUCCESS);
    Message res(raw);
    EXPECT_EQ(ldap_count_entries(ld(), res.get()), 0);
    ASSERT_EQ(ldap_url_search_s(ld(), "ldap:///ou=people,o=lab", 0, &raw), LDAP_SUCCESS);
    res.reset(raw);
    EXPECT_EQ(ldap_count_entries(ld(), res.get()), 1);  // scope base
    auto searches = logged("search");
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0].detail, "scope=sub filter=(cn=a) attrs=");
    EXPECT_EQ(searches[1].dn, "ou=people,o=lab");
    EXPECT_EQ(searches[1].detail, "scope=base filter=(objectclass=*) attrs=");
}

TEST_F(UrlSearch, TheSearchesResultCodeIsReturned)
{
    LDAPMessage *raw = nullptr;
    EXPECT_EQ(ldap_url_search_s(ld(), "ldap:///o=nowhere??sub", 0, &raw), LDAP_NO_SUCH_OBJECT);
    ASSERT_NE(raw, nullptr);  // the result is the caller's all the same
    ldap_msgfree(raw);
    raw = nullptr;
    struct timeval timeout{5, 0};
    EXPECT_EQ(ldap_url_search_st(ld(), "ldap:///o=nowhere??sub", 0, &timeout, &raw), LDAP_NO_SUCH_OBJECT);
    ldap_msgfree(raw);
}

TEST_F(UrlSearch, AsynchronousSearchIsAnOrdinaryRequest)
{
    const int msgid = ldap_url_search(ld(), "ldap:///ou=people,o=lab?cn?one", 0);
    ASSERT_GT(msgid, 0);
    Message res = simsession::result(ld(), msgid);
    ASSERT_TRUE(res);
    EXPECT_EQ(ldap_count_entries(ld(), res.get()), 2);
    EXPECT_EQ(ldap_result2error(ld(), res.get(), 0), LDAP_SUCCESS);
    EXPECT_EQ(logged("search").at(0).msgid, msgid);

    // ... and one that ldap_abandon knows.
    const int second = ldap_url_search(ld(), "ldap:///o=lab??sub", 0);
    ASSERT_GT(second, msgid);
    EXPECT_EQ(ldap_abandon_ext(ld(), second, nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_TRUE(server_->wait_for_requests(3, 5000));
    EXPECT_EQ(logged("abandon").at(0).detail, "msgid=" + std::to_string(second));
}

TEST_F(UrlSearch, RefusedUrlsSendNothing)
{
    struct Case {
        const char *url;
        int code;
    };
    const Case cases[] = {
        {"ldap:///o=lab???" "?!x-critical=1", LDAP_NOT_SUPPORTED},  // a critical extension
        {"http://host/o=lab", LDAP_PARAM_ERROR},
        {"ldap:///o=lab?cn?nowhere", LDAP_PARAM_ERROR},  // no such scope
        {"", LDAP_PARAM_ERROR},
        {nullptr, LDAP_PARAM_ERROR},
    };
    for (const Case &tc : cases) {
        EXPECT_EQ(ldap_url_search(ld(), tc.url, 0), -1) << (tc.url ? tc.url : "(null)");
        EXPECT_EQ(session_code(ld()), tc.code) << (tc.url ? tc.url : "(null)");
        LDAPMessage *raw = reinterpret_cast<LDAPMessage *>(1);
        EXPECT_EQ(ldap_url_search_s(ld(), tc.url, 0, &raw), tc.code);
        EXPECT_EQ(raw, nullptr);
        struct timeval timeout{1, 0};
        raw = reinterpret_cast<LDAPMessage *>(1);
        EXPECT_EQ(ldap_url_search_st(ld(), tc.url, 0, &timeout, &raw), tc.code);
        EXPECT_EQ(raw, nullptr);
    }
    // A non-critical extension is fine.
    LDAPMessage *raw = nullptr;
    EXPECT_EQ(ldap_url_search_s(ld(), "ldap:///o=lab????x-harmless=1", 0, &raw), LDAP_SUCCESS);
    ldap_msgfree(raw);
    EXPECT_EQ(logged("search").size(), 1u);
}

TEST_F(UrlSearch, Arguments)
{
    LDAPMessage *raw = reinterpret_cast<LDAPMessage *>(1);
    EXPECT_EQ(ldap_url_search(nullptr, "ldap:///o=lab", 0), -1);
    EXPECT_EQ(ldap_url_search_s(nullptr, "ldap:///o=lab", 0, &raw), LDAP_PARAM_ERROR);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(ldap_url_search_st(nullptr, "ldap:///o=lab", 0, nullptr, &raw), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_url_search_s(ld(), "ldap:///o=lab", 0, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(session_code(ld()), LDAP_PARAM_ERROR);
    EXPECT_TRUE(server_->requests().empty());
}

class SlowUrlSearch : public simsession::SimTest {
protected:
    dirsim::Options options() const override
    {
        dirsim::Options o = SimTest::options();
        o.search_delay_ms = 1500;
        return o;
    }
};

TEST_F(SlowUrlSearch, TimeOutAbandonsTheSearch)
{
    LDAPMessage *raw = reinterpret_cast<LDAPMessage *>(1);
    struct timeval timeout{0, 200 * 1000};
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(ldap_url_search_st(ld(), "ldap:///o=lab??sub", 0, &timeout, &raw), LDAP_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1400));
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(session_code(ld()), LDAP_TIMEOUT);
    // The simulator hears the abandon of that very search.
    ASSERT_TRUE(server_->wait_for_requests(2, 5000));
    auto searches = logged("search");
    auto abandons = logged("abandon");
    ASSERT_EQ(abandons.size(), 1u);
    EXPECT_EQ(abandons[0].detail, "msgid=" + std::to_string(searches.at(0).msgid));

    // A time-out long enough gets the answer.
    struct timeval enough{10, 0};
    raw = nullptr;
    EXPECT_EQ(ldap_url_search_st(ld(), "ldap:///o=lab??base", 0, &enough, &raw), LDAP_SUCCESS);
    EXPECT_EQ(ldap_count_entries(ld(), raw), 1);
    ldap_msgfree(raw);
}

}  // namespace
