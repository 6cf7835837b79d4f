#include "extops_fixture.h"

namespace extops_test {

void ExtopsTest::SetUp()
{
    dirsim::Options options;
    options.ldif_text = kTree;
    server_ = std::make_unique<dirsim::Server>(options);
    ASSERT_TRUE(server_->start());
}

Session ExtopsTest::open(bool bind)
{
    LDAP *ld = nullptr;
    if (ldap_initialize(&ld, server_->url().c_str()) != LDAP_SUCCESS) return nullptr;
    Session session(ld);
    int version = LDAP_VERSION3;
    timeval timeout{10, 0};
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout);
    if (bind) {
        berval password{6, const_cast<char *>("secret")};
        EXPECT_EQ(ldap_sasl_bind_s(ld, kAdmin, LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr), 0);
    }
    clear();
    return session;
}

void ExtopsTest::answer(const std::string &oid, dirsim::Reply reply)
{
    server_->clear_script();
    dirsim::Rule rule;
    rule.op = "extended";
    rule.oid = oid;
    rule.reply = std::move(reply);
    server_->script(rule);
}

std::vector<dirsim::Request> ExtopsTest::extended()
{
    std::vector<dirsim::Request> out;
    for (auto &r : server_->requests())
        if (r.op == "extended") out.push_back(r);
    return out;
}

}  // namespace extops_test
