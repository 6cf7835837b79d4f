// dirext schema as a process: the printed elements, edits seen by a following
// get, and refusals (the tool's own and the server's) that change nothing.
#include "dirext_fixture.h"

namespace dirext_test {
namespace {

struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
};

class SchemaTest : public DirextTest {
protected:
    void expect(const Case &c)
    {
        auto r = run("schema", c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.out, c.out) << c.args[1];
        EXPECT_EQ(r.err, c.err) << c.args[1];
    }
};

const std::string kCn = "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'RFC4519: common name(s) for which the entity "
                        "is known by' SUP name )";
const std::string kCaseIgnoreUse = "( 2.5.13.2 NAME 'caseIgnoreMatch' APPLIES ( name $ cn $ sn $ o $ ou $ "
                                   "description $ uid $ indexDefinition ) )";

TEST_F(SchemaTest, GetAndListPrintOneLinePerElement)
{
    const Case cases[] = {
        {{"get", "CN"}, 0, "attributeType " + kCn + "\n", ""},
        // A key of two kinds: both, each saying its kind.
        {{"get", "caseIgnoreMatch"}, 0,
         "matchingRule ( 2.5.13.2 NAME 'caseIgnoreMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
         "matchingRuleUse " + kCaseIgnoreUse + "\n", ""},
        {{"get", "2.5.13.2", "--kind", "MRU"}, 0, "matchingRuleUse " + kCaseIgnoreUse + "\n", ""},
        {{"get", "3", "--kind", "dITStructureRules", "--json"}, 0,
         R"j({"kind":"dITStructureRule","key":"3","names":["personRule"],)j"
         R"j("description":"( 3 NAME 'personRule' FORM personNameForm SUP ( 1 2 ) )",)j"
         R"j("fields":{"RULEID":["3"],"NAME":["personRule"],"FORM":["personNameForm"],"SUP":["1","2"]}})j" "\n",
         ""},
        {{"get", "createTimestamp", "--json"}, 0,
         R"j({"kind":"attributeType","key":"2.5.18.1","names":["createTimestamp"],)j"
         R"j("description":"( 2.5.18.1 NAME 'createTimestamp' DESC 'RFC4512: time which object was created' )j"
         R"j(EQUALITY generalizedTimeMatch ORDERING generalizedTimeOrderingMatch )j"
         R"j(SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 SINGLE-VALUE NO-USER-MODIFICATION USAGE directoryOperation )",)j"
         R"j("fields":{"OID":["2.5.18.1"],"NAME":["createTimestamp"],)j"
         R"j("DESC":["RFC4512: time which object was created"],"EQUALITY":["generalizedTimeMatch"],)j"
         R"j("ORDERING":["generalizedTimeOrderingMatch"],"SYNTAX":["1.3.6.1.4.1.1466.115.121.1.24","0"],)j"
         R"j("SINGLE-VALUE":[""],"NO-USER-MODIFICATION":[""],"directoryOperation":[""]}})j" "\n",
         ""},
        {{"list", "dsr"}, 0, "1 organizationRule\n2 unitRule\n3 personRule\n", ""},
        {{"list", "dITContentRule", "--json"}, 0,
         R"j({"kind":"dITContentRule","key":"2.5.6.4","names":["organizationContent"],)j"
         R"j("description":"( 2.5.6.4 NAME 'organizationContent' DESC 'what an organization may hold' )j"
         R"j(AUX indexedServer MAY description NOT userPassword )",)j"
         R"j("fields":{"OID":["2.5.6.4"],"DESC":["what an organization may hold"],)j"
         R"j("NAME":["organizationContent"],"AUX":["indexedServer"],"MAY":["description"],"NOT":["userPassword"]}})j"
         "\n"
         R"j({"kind":"dITContentRule","key":"2.5.6.6","names":["personContent"],)j"
         R"j("description":"( 2.5.6.6 NAME 'personContent' MAY mail )",)j"
         R"j("fields":{"OID":["2.5.6.6"],"NAME":["personContent"],"MAY":["mail"]}})j" "\n",
         ""},
        {{"get", "nope"}, 1, "", "dirext: schema: no schema element 'nope'\n"},
        {{"get", "cn", "--kind", "oc"}, 1, "", "dirext: schema: no objectClass 'cn'\n"},
        {{"list", "rules"}, 1, "",
         "dirext: schema: unknown kind 'rules' (kinds: attributeType, objectClass, ldapSyntax, matchingRule, "
         "matchingRuleUse, nameForm, dITContentRule, dITStructureRule)\n"},
    };
    for (const auto &c : cases) expect(c);
    EXPECT_TRUE(requests_of("modify").empty());
}

TEST_F(SchemaTest, EachEditIsSavedAndSeenByTheNextGet)
{
    const std::string added = "( 1.2.3.4 NAME ( 'shoeSize' 'size' ) DESC 'shoe size' EQUALITY caseIgnoreMatch "
                              "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{8} SINGLE-VALUE USAGE dSAOperation X-ORIGIN 'lab' )";
    const std::string modified = "( 1.2.3.4 NAME ( 'shoeSize' 'footSize' 'fs' ) DESC 'in cm' OBSOLETE EQUALITY "
                                 "caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{8} )";
    const Case edits[] = {
        {{"add", "at", added}, 0, "attributeType " + added + "\n", ""},
        {{"modify", "attributeType", "SIZE", "DESC=in cm", "NAME=shoeSize", "NAME=footSize", "name=fs", "OBSOLETE",
          "SINGLE-VALUE=", "X-ORIGIN=", "userApplications"},
         0, "attributeType " + modified + "\n", ""},
        {{"delete", "at", "fs"}, 0, "", "dirext: schema: no schema element '1.2.3.4'\n"},
    };
    for (const auto &e : edits) {
        auto r = run("schema", e.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        expect({{"get", "1.2.3.4"}, e.status + (e.out.empty() ? 1 : 0), e.out, e.err});
    }
    auto modify = requests_of("modify");
    ASSERT_EQ(modify.size(), 3u);
    EXPECT_EQ(modify[0].detail, "add attributeTypes: " + added);
    EXPECT_EQ(modify[1].detail, "delete attributeTypes: " + added + "; add attributeTypes: " + modified);
    EXPECT_EQ(modify[2].detail, "delete attributeTypes: " + modified);
}

TEST_F(SchemaTest, RefusedEditsSendNothing)
{
    const std::string usage = "Usage: dirext schema modify KIND KEY FIELD=VALUE ...\n";
    const Case cases[] = {
        {{"modify", "at", "nope", "DESC=x"}, 1, "", "dirext: schema: no attributeType 'nope'\n"},
        {{"delete", "oc", "2.5.6.99"}, 1, "", "dirext: schema: no objectClass '2.5.6.99'\n"},
        {{"add", "oc", "( 2.5.6.99 NAME 'x' MUST )"}, 1, "",
         "dirext: schema: the description does not parse: Expecting a name at its end\n"},
        {{"add", "oc", "( 2.5.6.6 NAME 'x' )"}, 1, "",
         "dirext: schema: another objectClass already has that OID or NAME\n"},
        {{"modify", "oc", "person", "NAME=top"}, 1, "",
         "dirext: schema: another objectClass already has that OID or NAME\n"},
        {{"modify", "at", "cn", "FOO=1"}, 1, "",
         "dirext: schema: FOO: not a field of attributeType (its fields: OID NAME DESC SUP EQUALITY ORDERING SUBSTR "
         "SYNTAX OBSOLETE SINGLE-VALUE COLLECTIVE NO-USER-MODIFICATION USAGE X-...)\n"},
        {{"modify", "at", "cn", "DESC=a", "DESC=b"}, 1, "", "dirext: schema: DESC: takes one value\n"},
        {{"modify", "at", "cn", "OBSOLETE=yes"}, 1, "",
         "dirext: schema: OBSOLETE: a flag: OBSOLETE alone sets it, OBSOLETE= clears it\n"},
        {{"modify", "at", "cn", "DESC"}, 1, "",
         "dirext: schema: DESC: give a value, as DESC=VALUE (DESC= removes the field)\n"},
        {{"modify", "at", "cn", "SUP=a b"}, 1, "", "dirext: schema: SUP: cannot take 'a b'\n"},
        {{"modify", "at", "cn", "USAGE=everyone"}, 1, "", "dirext: schema: USAGE: cannot take 'everyone'\n"},
        {{"modify", "dsr", "1", "RULEID="}, 1, "", "dirext: schema: RULEID: cannot be removed\n"},
        {{"modify", "at", "cn"}, 1, "", "dirext: schema: too few operands for schema modify\n" + usage},
        {{"list", "at", "--kind", "oc"}, 1, "",
         "dirext: schema: --kind goes with schema get\nUsage: dirext schema list KIND [--json]\n"},
        {{"drop", "at"}, 1, "",
         "dirext: schema: unknown schema command 'drop'\nUsage: dirext schema get|list|add|modify|delete ...\n"},
    };
    for (const auto &c : cases) expect(c);
    EXPECT_TRUE(requests_of("modify").empty());
}

TEST_F(SchemaTest, ServerRefusalIsReportedAndChangesNothing)
{
    server_->script({.op = "modify", .reply = {.result_code = 50, .diagnostic = "schema is read-only"}});
    expect({{"modify", "oc", "person", "MAY=mail"}, 50, "",
            "dirext: schema: saving the change: Insufficient access (50)\n\tadditional info: schema is read-only\n"});
    expect({{"get", "person"}, 0,
            "objectClass ( 2.5.6.6 NAME 'person' DESC 'RFC2256: a person' SUP top STRUCTURAL MUST ( sn $ cn ) MAY "
            "( userPassword $ description ) )\n", ""});
    EXPECT_EQ(requests_of("modify").size(), 1u);
}

}  // namespace
}  // namespace dirext_test
