// The schema utility against the directory simulator: what fetch and save
// send, fetch/edit/save/fetch round trips, the simulator's subschema entry,
// and the errors a server can give.
#include <gtest/gtest.h>

#include <dirsim/server.h>

#include <map>

#include "schema_test_util.h"
#include "sim_fixture.h"

namespace {

using namespace schematest;

using testsupport::kLabEntry;
constexpr const char kSchemaAttrs[] =
    "attrs=attributeTypes,objectClasses,ldapSyntaxes,matchingRules,matchingRuleUse,dITContentRules,"
    "dITStructureRules,nameForms";

using testsupport::Ldap;

struct SchemaFree {
    void operator()(LDAPSubschema *s) const { EXPECT_EQ(ldap_schema_free(s), LDAP_SUCCESS); }
};
using Schema = std::unique_ptr<LDAPSubschema, SchemaFree>;

class SchemaSim : public ::testing::Test {
protected:
    virtual std::string ldif() const { return kLabEntry; }

    void SetUp() override
    {
        server_ = testsupport::start_sim({.ldif_text = ldif()});
        ASSERT_TRUE(server_);
        ld_ = testsupport::open_session(server_->url());
        ASSERT_TRUE(ld_);
    }

    Schema fetch(const char *dn = nullptr, int expected = LDAP_SUCCESS)
    {
        LDAPSubschema *s = reinterpret_cast<LDAPSubschema *>(1);
        EXPECT_EQ(ldap_schema_fetch(ld_.get(), &s, dn), expected);
        if (expected != LDAP_SUCCESS) {
            EXPECT_EQ(s, nullptr);
        }
        return Schema(expected == LDAP_SUCCESS ? s : nullptr);
    }

    std::vector<std::string> subschema(const char *attribute) { return server_->values("cn=Subschema", attribute); }

    std::unique_ptr<dirsim::Server> server_;
    Ldap ld_;
};

// ---------------------------------------------------------------- fetch

TEST_F(SchemaSim, FetchFindsTheSubschemaThroughTheRootDse)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    const char *attributes[] = {"attributeTypes",  "objectClasses",   "ldapSyntaxes",    "matchingRules",
                                "matchingRuleUse", "nameForms",       "dITContentRules", "dITStructureRules"};
    for (int kind = 0; kind < 8; ++kind)
        EXPECT_EQ(ldap_schema_get_count(schema.get(), kind), int(subschema(attributes[kind]).size())) << kind;
    EXPECT_GT(ldap_schema_get_count(schema.get(), LDAP_SCHEMA_NAME_FORM), 0);
    EXPECT_GT(ldap_schema_get_count(schema.get(), LDAP_SCHEMA_DIT_STRUCTURE_RULE), 0);

    auto log = server_->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].op, "search");
    EXPECT_EQ(log[0].dn, "");
    EXPECT_EQ(log[0].detail, "scope=base filter=(objectclass=*) attrs=subschemaSubentry");
    EXPECT_EQ(log[1].op, "search");
    EXPECT_EQ(log[1].dn, "cn=Subschema");
    EXPECT_EQ(log[1].detail, std::string("scope=base filter=(objectclass=*) ") + kSchemaAttrs);
    EXPECT_TRUE(log[1].controls.empty());

    LDAPSchemaElement *e = nullptr;
    ASSERT_EQ(ldap_schema_get_by_name(schema.get(), "personRule", LDAP_SCHEMA_DIT_STRUCTURE_RULE, &e), LDAP_SUCCESS);
    char **sup = nullptr;
    ASSERT_EQ(ldap_schema_get_field_values(e, "SUP", &sup), LDAP_SUCCESS);
    EXPECT_EQ(strings(sup), (std::vector<std::string>{"1", "2"}));
    ldap_value_free(sup);
}

TEST_F(SchemaSim, FetchWithADnSearchesOnlyThatEntry)
{
    Schema schema = fetch("cn=subschema");
    ASSERT_TRUE(schema);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].dn, "cn=subschema");
}

TEST_F(SchemaSim, FetchReturnsSearchErrorsUnchanged)
{
    fetch("cn=nowhere", LDAP_NO_SUCH_OBJECT);
    server_->script({.op = "search", .times = 1, .reply = {.result_code = LDAP_BUSY}});
    fetch(nullptr, LDAP_BUSY);
    server_->script({.op = "search", .skip = 1, .times = 1, .reply = {.result_code = LDAP_INSUFFICIENT_ACCESS}});
    fetch(nullptr, LDAP_INSUFFICIENT_ACCESS);
}

TEST_F(SchemaSim, ARootDseWithoutSubschemaSubentryGivesNoResults)
{
    // The scripted answer has no entry at all.
    server_->script({.op = "search", .times = 1, .reply = {.result_code = LDAP_SUCCESS}});
    fetch(nullptr, LDAP_NO_RESULTS_RETURNED);
}

TEST_F(SchemaSim, AnEntryWithoutSchemaAttributesIsAnEmptySchema)
{
    Schema schema = fetch("o=lab");
    ASSERT_TRUE(schema);
    for (int kind = 0; kind < 8; ++kind) EXPECT_EQ(ldap_schema_get_count(schema.get(), kind), 0);
}

// A subschema entry that the LDIF brings instead of the built-in one.
class SchemaSimOwnEntry : public SchemaSim {
protected:
    std::string ldif() const override
    {
        return kLabEntry +
               "\ndn: cn=Schema\nobjectClass: top\nobjectClass: subschema\ncn: Schema\n"
               "attributeTypes: ( 2.5.4.3 NAME 'cn' SUP name )\n"
               "attributeTypes: ( 2.5.4.4 name 'sn' )\n"
               "objectClasses: ( 2.5.6.0 NAME 'top' ABSTRACT )\n"
               "objectClasses: ( 2.5.6.6 NAME 'person' STRUCTURAL MUST ( sn cn ) )\n"
               "ldapSyntaxes: ( 1.3.6.1.4.1.1466.115.121.1.15 DESC 'Directory String' )\n";
    }
};

TEST_F(SchemaSimOwnEntry, MalformedClassesAndTypesAreDroppedOtherKindsFail)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    EXPECT_EQ(server_->requests()[1].dn, "cn=Schema");
    EXPECT_EQ(ldap_schema_get_count(schema.get(), LDAP_SCHEMA_ATTRIBUTE_TYPE), 1);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), LDAP_SCHEMA_OBJECT_CLASS), 1);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), LDAP_SCHEMA_SYNTAX), 1);

    server_->set_values("cn=Schema", "ldapSyntaxes",
                        {"( 1.3.6.1.4.1.1466.115.121.1.15 DESC 'Directory String' )", "( 1.2 DESC unquoted )"});
    fetch(nullptr, LDAP_LOCAL_ERROR);
}

// ---------------------------------------------------------------- save

TEST_F(SchemaSim, EditSaveAndFetchAgain)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    const std::string old_index = "( 1.3.6.1.4.1.32473.1.1.1 NAME 'indexDefinition' DESC 'Database index definitions "
                                  "of a server' EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{1024} "
                                  "X-ORIGIN 'dirsim' )";
    const std::string new_index = "( 1.3.6.1.4.1.32473.1.1.1 NAME 'indexDefinition' DESC 'Index definitions' "
                                  "EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{1024} "
                                  "X-ORIGIN 'dirsim' )";
    const std::string unit_rule = "( 2 NAME 'unitRule' FORM unitNameForm SUP 1 )";
    const std::string new_content = "( 2.5.6.5 NAME 'unitContent' MAY description )";

    char desc[] = "Index definitions", desc_type[] = "DESC";
    char *desc_values[] = {desc, nullptr};
    LDAPMod desc_mod{LDAP_MOD_REPLACE, desc_type, {desc_values}};
    LDAPMod *changes[] = {&desc_mod, nullptr};
    ASSERT_EQ(ldap_schema_modify(schema.get(), "indexDefinition", LDAP_SCHEMA_ATTRIBUTE_TYPE, changes), LDAP_SUCCESS);

    char oid[] = "2.5.6.5", name[] = "unitContent", may[] = "description";
    char oid_type[] = "OID", name_type[] = "NAME", may_type[] = "MAY";
    char *oid_values[] = {oid, nullptr}, *name_values[] = {name, nullptr}, *may_values[] = {may, nullptr};
    LDAPMod oid_mod{LDAP_MOD_ADD, oid_type, {oid_values}}, name_mod{LDAP_MOD_ADD, name_type, {name_values}},
        may_mod{LDAP_MOD_ADD, may_type, {may_values}};
    LDAPMod *fields[] = {&oid_mod, &name_mod, &may_mod, nullptr};
    ASSERT_EQ(ldap_schema_add(schema.get(), LDAP_SCHEMA_DIT_CONTENT_RULE, fields), LDAP_SUCCESS);

    ASSERT_EQ(ldap_schema_delete(schema.get(), LDAP_SCHEMA_DIT_STRUCTURE_RULE, "unitRule"), LDAP_SUCCESS);

    server_->clear_requests();
    ASSERT_EQ(ldap_schema_save(ld_.get(), schema.get(), nullptr), LDAP_SUCCESS);
    EXPECT_EQ(schema->change_count, 0);
    auto log = server_->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].op, "search");  // the DN from the root DSE
    EXPECT_EQ(log[1].op, "modify");
    EXPECT_EQ(log[1].dn, "cn=Subschema");
    EXPECT_EQ(log[1].detail, "delete attributeTypes: " + old_index + "; add attributeTypes: " + new_index +
                                 "; add dITContentRules: " + new_content + "; delete dITStructureRules: " + unit_rule);

    Schema again = fetch("cn=Subschema");
    ASSERT_TRUE(again);
    LDAPSchemaElement *e = nullptr;
    ASSERT_EQ(ldap_schema_get_by_name(again.get(), "INDEXDEFINITION", LDAP_SCHEMA_ATTRIBUTE_TYPE, &e), LDAP_SUCCESS);
    char *text = nullptr;
    ASSERT_EQ(ldap_schema_element_to_string(e, &text, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(std::string(text), new_index);
    ldap_memfree(text);
    EXPECT_EQ(ldap_schema_get_by_name(again.get(), "unitContent", LDAP_SCHEMA_DIT_CONTENT_RULE, &e), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_get_by_name(again.get(), "2", LDAP_SCHEMA_DIT_STRUCTURE_RULE, &e), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ldap_schema_get_count(again.get(), LDAP_SCHEMA_DIT_STRUCTURE_RULE),
              ldap_schema_get_count(schema.get(), LDAP_SCHEMA_DIT_STRUCTURE_RULE));
}

TEST_F(SchemaSim, SaveWithNothingQueuedSendsNothing)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    server_->clear_requests();
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), nullptr), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), "cn=Subschema"), LDAP_SUCCESS);
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(SchemaSim, ARefusedSaveEmptiesTheQueueAndKeepsTheModel)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    ASSERT_EQ(ldap_schema_delete(schema.get(), LDAP_SCHEMA_ATTRIBUTE_TYPE, "mail"), LDAP_SUCCESS);
    server_->script({.op = "modify", .times = 1, .reply = {.result_code = LDAP_UNWILLING_TO_PERFORM}});
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), "cn=Subschema"), LDAP_UNWILLING_TO_PERFORM);
    EXPECT_EQ(schema->change_count, 0);
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), "cn=Subschema"), LDAP_SUCCESS);  // nothing left to send
    LDAPSchemaElement *e = nullptr;
    EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "mail", LDAP_SCHEMA_ATTRIBUTE_TYPE, &e), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(subschema("attributeTypes").size(), 13u);  // the server still has it
}

TEST_F(SchemaSim, AFailedDnLookupKeepsTheQueue)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    ASSERT_EQ(ldap_schema_delete(schema.get(), LDAP_SCHEMA_ATTRIBUTE_TYPE, "mail"), LDAP_SUCCESS);
    server_->script({.op = "search", .times = 1, .reply = {.result_code = LDAP_BUSY}});
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), nullptr), LDAP_BUSY);
    EXPECT_EQ(schema->change_count, 1);
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), nullptr), LDAP_SUCCESS);
    EXPECT_EQ(subschema("attributeTypes").size(), 12u);
}

// The server's own refusals reach the caller, and the queue is gone.
TEST_F(SchemaSim, SaveReportsTheServersAnswer)
{
    Schema schema = fetch();
    ASSERT_TRUE(schema);
    // Deleted behind the model's back: the save's delete finds nothing.
    server_->set_values("cn=Subschema", "matchingRuleUse", {});
    ASSERT_EQ(ldap_schema_delete(schema.get(), LDAP_SCHEMA_MATCHING_RULE_USE, "caseIgnoreIA5Match"), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(ld_.get(), schema.get(), nullptr), LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(schema->change_count, 0);
}

// ---------------------------------------------------------------- the simulator's subschema entry

class SubschemaEntry : public SchemaSim {
protected:
    int modify(std::vector<std::tuple<int, const char *, std::vector<std::string>>> changes)
    {
        std::vector<std::vector<char *>> values;
        std::vector<LDAPMod> mods;
        for (auto &[op, type, vs] : changes) {
            std::vector<char *> v;
            for (auto &s : vs) v.push_back(s.data());
            v.push_back(nullptr);
            values.push_back(v);
        }
        for (size_t i = 0; i < changes.size(); ++i)
            mods.push_back({std::get<0>(changes[i]), const_cast<char *>(std::get<1>(changes[i])), {values[i].data()}});
        std::vector<LDAPMod *> list;
        for (auto &m : mods) list.push_back(&m);
        list.push_back(nullptr);
        return ldap_modify_ext_s(ld_.get(), "cn=Subschema", list.data(), nullptr, nullptr);
    }
};

TEST_F(SubschemaEntry, RootDseNamesItAndOnlyBaseSearchesFindIt)
{
    LDAPMessage *res = nullptr;
    char attr[] = "subschemaSubentry";
    char *attrs[] = {attr, nullptr};
    ASSERT_EQ(ldap_search_ext_s(ld_.get(), "", LDAP_SCOPE_BASE, "(objectclass=*)", attrs, 0, nullptr, nullptr, nullptr,
                                0, &res),
              LDAP_SUCCESS);
    berval **values = ldap_get_values_len(ld_.get(), ldap_first_entry(ld_.get(), res), attr);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(std::string(values[0]->bv_val, values[0]->bv_len), "cn=Subschema");
    ldap_value_free_len(values);
    ldap_msgfree(res);
    ASSERT_EQ(ldap_search_ext_s(ld_.get(), "", LDAP_SCOPE_ONELEVEL, "(objectclass=*)", nullptr, 0, nullptr, nullptr,
                                nullptr, 0, &res),
              LDAP_SUCCESS);
    EXPECT_EQ(ldap_count_entries(ld_.get(), res), 1);  // o=lab only
    ldap_msgfree(res);
}

TEST_F(SubschemaEntry, ValuesMatchByFirstComponent)
{
    // A description with other text but the same OID is the same value.
    EXPECT_EQ(modify({{LDAP_MOD_DELETE, "attributeTypes", {"( 2.5.4.13 NAME 'whatever' )"}}}), LDAP_SUCCESS);
    EXPECT_EQ(subschema("attributeTypes").size(), 12u);
    EXPECT_EQ(modify({{LDAP_MOD_DELETE, "attributeTypes", {"( 2.5.4.13 )"}}}), LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "attributetypes", {"( 2.5.4.3 NAME 'cn2' )"}}}), LDAP_TYPE_OR_VALUE_EXISTS);
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "dITStructureRules", {"( 3 FORM x )"}}}), LDAP_TYPE_OR_VALUE_EXISTS);
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "dITStructureRules", {"( 4 FORM x )"}}}), LDAP_SUCCESS);
}

TEST_F(SubschemaEntry, RefusalsLeaveTheEntryAsItWas)
{
    auto before = subschema("objectClasses");
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "objectClasses", {"not a description"}}}), LDAP_INVALID_SYNTAX);
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "objectClasses", {"( 1.2 DESC 'open )"}}}), LDAP_INVALID_SYNTAX);
    EXPECT_EQ(modify({{LDAP_MOD_REPLACE, "objectClasses", {"( 1.2 )"}}}), LDAP_UNWILLING_TO_PERFORM);
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "cn", {"Other"}}}), LDAP_UNWILLING_TO_PERFORM);
    // All or nothing: the first change would do, the second does not.
    EXPECT_EQ(modify({{LDAP_MOD_ADD, "objectClasses", {"( 1.2.3 NAME 'fine' )"}},
                      {LDAP_MOD_DELETE, "objectClasses", {"( 9.9.9 )"}}}),
              LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(subschema("objectClasses"), before);
}

}  // namespace
