// Scripted replies and the request log, seen from a libldap client.
#include <chrono>

#include "sim_client.h"

namespace simtest {
namespace {

TEST_F(DirsimTest, ScriptedExtendedReplyReachesTheClientByteForByte)
{
    dirsim::Rule rule;
    rule.op = "extended";
    rule.oid = kLimber;
    rule.reply.result_code = LDAP_UNWILLING_TO_PERFORM;
    rule.reply.diagnostic = "not now";
    rule.reply.response_name = "1.3.6.1.4.1.32473.1";
    rule.reply.response_value = std::string("\x00\x01\xff\x30", 4);
    server_->script(rule);
    server_->set_values(kServerDn, "indexDefinition", {"0$p$2$0$0$1$cn"});
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    ExtResult r = extended(ld.get(), kLimber);
    EXPECT_EQ(r.rc, LDAP_UNWILLING_TO_PERFORM);
    EXPECT_EQ(r.oid, "1.3.6.1.4.1.32473.1");
    EXPECT_EQ(r.value, std::string("\x00\x01\xff\x30", 4));
    EXPECT_EQ(diagnostic(ld.get()), "not now");
    // A scripted reply leaves the tree alone.
    EXPECT_EQ(server_->values(kServerDn, "indexDefinition"), std::vector<std::string>{"0$p$2$0$0$1$cn"});
    // Another OID is not matched by the rule.
    EXPECT_EQ(extended(ld.get(), "1.3.6.1.4.1.32473.2").rc, LDAP_PROTOCOL_ERROR);
}

TEST_F(DirsimTest, SkipAndTimesCountMatchingRequests)
{
    dirsim::Rule rule;
    rule.op = "extended";
    rule.skip = 1;
    rule.times = 2;
    rule.reply.result_code = LDAP_BUSY;
    server_->script(rule);
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    std::vector<int> codes;
    for (int i = 0; i < 4; ++i) codes.push_back(extended(ld.get(), kLimber).rc);
    EXPECT_EQ(codes, (std::vector<int>{LDAP_SUCCESS, LDAP_BUSY, LDAP_BUSY, LDAP_SUCCESS}));
    server_->clear_script();
}

TEST_F(DirsimTest, SkippedRequestFallsToTheNextRule)
{
    dirsim::Rule first, second;
    first.op = second.op = "extended";
    first.skip = 1;
    first.reply.result_code = LDAP_BUSY;
    second.reply.result_code = LDAP_UNAVAILABLE;
    server_->script(first);
    server_->script(second);
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_UNAVAILABLE);
    EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_BUSY);
}

TEST_F(DirsimTest, ScriptedBindAndSearchAndModify)
{
    dirsim::Rule bind, search, modify;
    bind.op = "bind";
    bind.times = 1;
    bind.reply.result_code = LDAP_INVALID_CREDENTIALS;
    search.op = "search";
    search.reply.result_code = LDAP_NO_SUCH_OBJECT;
    search.reply.matched_dn = "o=lab";
    modify.op = "modify";
    modify.reply.result_code = LDAP_SUCCESS;
    server_->script(bind);
    server_->script(search);
    server_->script(modify);

    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    EXPECT_EQ(simple_bind(ld.get(), kAdminDn, "secret"), LDAP_INVALID_CREDENTIALS);
    EXPECT_EQ(simple_bind(ld.get(), kAdminDn, "secret"), LDAP_SUCCESS);

    LDAPMessage *res = nullptr;
    EXPECT_EQ(ldap_search_ext_s(ld.get(), kServerDn, LDAP_SCOPE_BASE, "(objectclass=*)", nullptr, 0, nullptr, nullptr,
                                nullptr, 0, &res),
              LDAP_NO_SUCH_OBJECT);
    char *matched = nullptr;
    int err = 0;
    ASSERT_EQ(ldap_parse_result(ld.get(), res, &err, &matched, nullptr, nullptr, nullptr, 1), LDAP_SUCCESS);
    EXPECT_STREQ(matched, "o=lab");
    ldap_memfree(matched);

    char *vals[] = {const_cast<char *>("0$x$2$0$0$1$cn"), nullptr};
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_ADD;
    mod.mod_type = const_cast<char *>("indexDefinition");
    mod.mod_values = vals;
    LDAPMod *mods[] = {&mod, nullptr};
    EXPECT_EQ(ldap_modify_ext_s(ld.get(), kServerDn, mods, nullptr, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(server_->values(kServerDn, "indexDefinition").size(), 2u);  // unchanged
}

TEST_F(DirsimTest, DroppedConnectionIsServerDown)
{
    dirsim::Rule rule;
    rule.op = "extended";
    rule.reply.drop_connection = true;
    server_->script(rule);
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_SERVER_DOWN);
}

TEST_F(DirsimTest, DelayHoldsTheAnswerBack)
{
    dirsim::Rule rule;
    rule.op = "extended";
    rule.reply.delay_ms = 300;
    server_->script(rule);
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(DirsimTest, RawBytesGoOutInsteadOfTheResponse)
{
    // After the bind (message 1) the extended request is message 2.  The
    // response: success, responseName "1.2", responseValue 0xab.
    dirsim::Rule rule;
    rule.op = "extended";
    rule.reply.raw = std::string("\x30\x14\x02\x01\x02\x78\x0f\x0a\x01\x00\x04\x00\x04\x00\x8a\x03\x31\x2e\x32\x8b\x01\xab", 22);
    server_->script(rule);
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    ExtResult r = extended(ld.get(), kLimber);
    EXPECT_EQ(r.rc, LDAP_SUCCESS);
    EXPECT_EQ(r.oid, "1.2");
    EXPECT_EQ(r.value, std::string("\xab"));
}

TEST_F(DirsimTest, TruncatedRawAnswerThenCloseFailsTheClientCleanly)
{
    dirsim::Rule rule;
    rule.op = "extended";
    rule.reply.raw = std::string("\x30\x13\x02\x01\x02\x78", 6);
    rule.reply.drop_connection = true;
    server_->script(rule);
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    EXPECT_EQ(extended(ld.get(), kLimber).rc, LDAP_SERVER_DOWN);
}

TEST_F(DirsimTest, LogOfASearch)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    const char *attrs[] = {"indexDefinition", nullptr};
    LDAPMessage *res = nullptr;
    ASSERT_EQ(ldap_search_ext_s(ld.get(), kServerDn, LDAP_SCOPE_BASE, "(objectclass=*)", const_cast<char **>(attrs), 0,
                                nullptr, nullptr, nullptr, 0, &res),
              LDAP_SUCCESS);
    ldap_msgfree(res);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].msgid, 2);
    EXPECT_EQ(log[0].op, "search");
    EXPECT_EQ(log[0].dn, kServerDn);
    EXPECT_EQ(log[0].oid, "");
    EXPECT_FALSE(log[0].has_value);
    EXPECT_TRUE(log[0].controls.empty());
    EXPECT_EQ(log[0].detail, "scope=base filter=(objectclass=*) attrs=indexDefinition");
    EXPECT_EQ(dirsim::format_request(log[0]),
              "msgid=2 op=search dn=\"cn=server1,ou=servers,o=lab\" "
              "detail=\"scope=base filter=(objectclass=*) attrs=indexDefinition\"");
}

struct FilterCase {
    const char *sent;
    const char *logged;
};

void PrintTo(const FilterCase &c, std::ostream *os) { *os << c.sent; }

class DirsimFilterLog : public DirsimTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(DirsimFilterLog, FilterTextInTheLog)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    const char *attrs[] = {"cn", "sn", nullptr};
    LDAPMessage *res = nullptr;
    ldap_search_ext_s(ld.get(), "o=lab", LDAP_SCOPE_SUBTREE, GetParam().sent, const_cast<char **>(attrs), 0, nullptr,
                      nullptr, nullptr, 0, &res);
    ldap_msgfree(res);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].detail, std::string("scope=sub filter=") + GetParam().logged + " attrs=cn,sn");
}

INSTANTIATE_TEST_SUITE_P(
    Filters, DirsimFilterLog,
    ::testing::Values(FilterCase{"(cn=x)", "(cn=x)"}, FilterCase{"cn=x", "(cn=x)"},
                      FilterCase{"(&(cn=a*b*c)(!(sn<=5))(|(x~=y)(z>=1)(uid=*)))",
                                 "(&(cn=a*b*c)(!(sn<=5))(|(x~=y)(z>=1)(uid=*)))"},
                      FilterCase{"(cn=*mid*)", "(cn=*mid*)"}, FilterCase{"(cn=a\\2ab\\28\\29\\5c)", "(cn=a\\2ab\\28\\29\\5c)"},
                      FilterCase{"(cn=caf\\c3\\a9)", "(cn=caf\\c3\\a9)"},
                      FilterCase{"(cn:dn:2.5.13.5:=x)", "(cn:dn:2.5.13.5:=x)"}, FilterCase{"(&)", "(&)"}));

TEST_F(DirsimTest, LogOfAModify)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    char *add_vals[] = {const_cast<char *>("0$a$2$0$0$1$cn"), const_cast<char *>("0$b$2$1$0$1$sn"), nullptr};
    char *del_vals[] = {const_cast<char *>("0$idx1$2$0$0$1$sn"), nullptr};
    LDAPMod add{}, del{}, all{};
    add.mod_op = LDAP_MOD_ADD;
    add.mod_type = const_cast<char *>("indexDefinition");
    add.mod_values = add_vals;
    del.mod_op = LDAP_MOD_DELETE;
    del.mod_type = const_cast<char *>("indexDefinition");
    del.mod_values = del_vals;
    all.mod_op = LDAP_MOD_REPLACE;
    all.mod_type = const_cast<char *>("description");
    LDAPMod *mods[] = {&add, &del, &all, nullptr};
    ASSERT_EQ(ldap_modify_ext_s(ld.get(), kServerDn, mods, nullptr, nullptr), LDAP_SUCCESS);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].op, "modify");
    EXPECT_EQ(log[0].dn, kServerDn);
    EXPECT_EQ(log[0].detail,
              "add indexDefinition: 0$a$2$0$0$1$cn | 0$b$2$1$0$1$sn; delete indexDefinition: 0$idx1$2$0$0$1$sn; "
              "replace description:");
}

TEST_F(DirsimTest, LogOfExtendedOperationsAndControls)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    extended(ld.get(), kLimber);
    extended(ld.get(), "1.3.6.1.4.1.32473.7", std::string("\x00\xAB\xff", 3));
    extended(ld.get(), "1.3.6.1.4.1.32473.8", std::string());

    berval value{2, const_cast<char *>("\x01\x02")};
    LDAPControl plain{const_cast<char *>("1.3.6.1.4.1.32473.50"), value, 0};
    LDAPControl bare{const_cast<char *>("1.3.6.1.4.1.32473.51"), {0, nullptr}, 0};
    LDAPControl *controls[] = {&plain, &bare, nullptr};
    EXPECT_EQ(extended(ld.get(), kLimber, std::nullopt, controls).rc, LDAP_SUCCESS);

    auto log = server_->requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].op, "extended");
    EXPECT_EQ(log[0].oid, kLimber);
    EXPECT_FALSE(log[0].has_value);
    EXPECT_EQ(log[0].value_hex, "");
    EXPECT_EQ(log[0].detail, "");
    EXPECT_EQ(log[1].oid, "1.3.6.1.4.1.32473.7");
    EXPECT_TRUE(log[1].has_value);
    EXPECT_EQ(log[1].value_hex, "00abff");
    EXPECT_TRUE(log[2].has_value);  // an empty value is still a value
    EXPECT_EQ(log[2].value_hex, "");
    EXPECT_EQ(log[3].controls, (std::vector<std::string>{"1.3.6.1.4.1.32473.50", "1.3.6.1.4.1.32473.51"}));
    ASSERT_EQ(log[3].control_details.size(), 2u);
    EXPECT_FALSE(log[3].control_details[0].critical);
    EXPECT_TRUE(log[3].control_details[0].has_value);
    EXPECT_EQ(log[3].control_details[0].value_hex, "0102");
    EXPECT_FALSE(log[3].control_details[1].has_value);
    EXPECT_EQ(dirsim::format_request(log[3]),
              "msgid=5 op=extended dn=\"\" oid=2.16.840.1.113719.1.27.100.49 "
              "controls=1.3.6.1.4.1.32473.50,1.3.6.1.4.1.32473.51 detail=\"\"");
}

TEST_F(DirsimTest, UnknownCriticalControlIsRefused)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    LDAPControl critical{const_cast<char *>("1.3.6.1.4.1.32473.52"), {0, nullptr}, 1};
    LDAPControl *controls[] = {&critical, nullptr};
    EXPECT_EQ(extended(ld.get(), kLimber, std::nullopt, controls).rc, LDAP_UNAVAILABLE_CRITICAL_EXTENSION);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].control_details.at(0).critical);
}

TEST_F(DirsimTest, UnbindIsLoggedToo)
{
    Ldap ld = admin();
    ASSERT_TRUE(ld);
    ld.reset();
    ASSERT_TRUE(server_->wait_for_requests(1, 5000));
    auto log = server_->requests();
    EXPECT_EQ(log[0].op, "unbind");
    EXPECT_EQ(log[0].msgid, 2);
    EXPECT_FALSE(server_->wait_for_requests(2, 50));
}

TEST_F(DirsimTest, BindIsLoggedWithItsPassword)
{
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    simple_bind(ld.get(), kAdminDn, "secret");
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].op, "bind");
    EXPECT_EQ(log[0].dn, kAdminDn);
    EXPECT_EQ(log[0].detail, "simple");
    EXPECT_EQ(log[0].value_hex, "736563726574");
}

TEST_F(DirsimTest, OnRequestSeesEveryRequestInOrder)
{
    std::vector<std::string> seen;
    dirsim::Options options;
    options.ldif_text = kTree;
    options.on_request = [&seen](const dirsim::Request &r) { seen.push_back(r.op); };
    dirsim::Server server(options);
    ASSERT_TRUE(server.start());
    {
        Ldap ld = open_session(server.url());
        ASSERT_TRUE(ld);
        simple_bind(ld.get(), kAdminDn, "secret");
        extended(ld.get(), kLimber);
    }
    ASSERT_TRUE(server.wait_for_requests(3, 5000));
    server.stop();
    EXPECT_EQ(seen, (std::vector<std::string>{"bind", "extended", "unbind"}));
}

}  // namespace
}  // namespace simtest
