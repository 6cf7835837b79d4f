#include "extops_fixture.h"

namespace extops_test {

void ExtopsTest::SetUp()
{
    server_ = testsupport::start_sim({.ldif_text = kTree});
    ASSERT_TRUE(server_);
}

Session ExtopsTest::open(bool bind)
{
    Session session = bind ? testsupport::open_admin(server_->url()) : testsupport::open_session(server_->url());
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
