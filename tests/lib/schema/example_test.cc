// The schema browser example, run as a program against the simulator: exact
// output and exit status.
#include <gtest/gtest.h>

#include <dirsim/server.h>

#include "paths.h"
#include "process.h"
#include "sim_fixture.h"

namespace {

class SchemaBrowser : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = testsupport::start_sim({.ldif_text = testsupport::kLabEntry});
        ASSERT_TRUE(server_);
    }
    testsupport::ProcessResult browse(std::vector<std::string> args)
    {
        args.insert(args.begin(), testsupport::build_path("examples/example_schema_browser"));
        return testsupport::run(args, {.env = {"LDAPNOINIT=1"}});
    }
    std::unique_ptr<dirsim::Server> server_;
};

TEST_F(SchemaBrowser, OneElementsFieldsByName)
{
    auto r = browse({server_->url(), "attributeTypes", "CN"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "OID: 2.5.4.3\n"
                     "NAME: cn, commonName\n"
                     "DESC: RFC4519: common name(s) for which the entity is known by\n"
                     "SUP: name\n"
                     "userApplications\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(SchemaBrowser, OneElementByOidOrRuleId)
{
    auto r = browse({server_->url(), "7", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "RULEID: 3\nNAME: personRule\nFORM: personNameForm\nSUP: 1, 2\n");
}

TEST_F(SchemaBrowser, EveryElementOfAKind)
{
    auto r = browse({server_->url(), "dITStructureRules"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "( 1 NAME 'organizationRule' FORM organizationNameForm )\n"
                     "( 2 NAME 'unitRule' FORM unitNameForm SUP 1 )\n"
                     "( 3 NAME 'personRule' FORM personNameForm SUP ( 1 2 ) )\n");
}

TEST_F(SchemaBrowser, FailuresAndUsage)
{
    auto r = browse({server_->url(), "objectClasses", "nosuch"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "schema_browser: nosuch: No such object\n");
    r = browse({server_->url(), "noKind"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "usage: schema_browser [-D binddn -w password] ldap://host:port KIND [NAME-OR-OID]\n");
    r = browse({"ldap://127.0.0.1:1", "0"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "schema_browser: fetch: Can't contact LDAP server\n");
}

}  // namespace
