// Editing the model: the field rules of modify_element, add, modify and
// delete with their queued changes, and the keys and names lookups follow.
#include "model_fixture.h"

namespace {

using namespace schematest;
using namespace dirext::schema_util;

enum : int { AT = 0, OC = 1, SYN = 2, MR = 3, MRU = 4, NF = 5, DCR = 6, DSR = 7 };

class SchemaEdit : public ::testing::Test {
protected:
    void SetUp() override
    {
        schema_ = build(example());
        ASSERT_TRUE(schema_);
    }
    LDAPSubschema *schema() { return schema_.get(); }
    LDAPSchemaElement *at(const char *key) { return find(schema(), AT, key); }
    LDAPSchemaElement *oc(const char *key) { return find(schema(), OC, key); }

    Schema schema_;
};

// ---------------------------------------------------------------- field rules

TEST_F(SchemaEdit, AddingToAListReplacesEqualEntriesAndAppends)
{
    Mods mods{{LDAP_MOD_ADD, "MAY", {"cn", "Sn"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(oc("person"), "MAY"), (std::vector<std::string>{"mail", "cn", "Sn"}));
}

TEST_F(SchemaEdit, DeletingFromAList)
{
    Mods none{{LDAP_MOD_DELETE, "MUST", {}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, none.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(oc("person"), "MUST"), std::vector<std::string>{"cn"});

    Mods last{{LDAP_MOD_DELETE, "must", {"CN"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, last.get()), LDAP_SUCCESS);
    int rc = 0;
    EXPECT_TRUE(field(oc("person"), "MUST", &rc).empty());
    EXPECT_EQ(rc, LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(field_names(oc("person")), (std::vector<std::string>{"OID", "NAME", "SUP", "MAY", "STRUCTURAL"}));
    EXPECT_EQ(printed(oc("person")), "( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MAY ( sn $ mail ) )");

    Mods absent{{LDAP_MOD_DELETE, "MAY", {"telephoneNumber"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, absent.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(oc("person"), "MAY"), (std::vector<std::string>{"sn", "mail"}));
}

TEST_F(SchemaEdit, ReplacingAList)
{
    Mods mods{{LDAP_MOD_REPLACE, "MAY", {"description", "seeAlso"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(oc("person"), "MAY"), (std::vector<std::string>{"description", "seeAlso"}));
    Mods clear{{LDAP_MOD_REPLACE, "MAY", {}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, clear.get()), LDAP_SUCCESS);
    int rc = 0;
    field(oc("person"), "MAY", &rc);
    EXPECT_EQ(rc, LDAP_NO_SUCH_ATTRIBUTE);
}

TEST_F(SchemaEdit, FlagsFollowTheOperationNotTheValues)
{
    Mods clear{{LDAP_MOD_DELETE, "OBSOLETE", {"TRUE"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "labServer", OC, clear.get()), LDAP_SUCCESS);
    EXPECT_EQ(static_cast<LDAPObjectClass *>(oc("labServer")->description)->oc_obsolete, 0);
    Mods set{{LDAP_MOD_REPLACE, "single-value", {}}, {LDAP_MOD_ADD, "COLLECTIVE", {}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "cn", AT, set.get()), LDAP_SUCCESS);
    EXPECT_EQ(printed(at("cn")), "( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name SINGLE-VALUE COLLECTIVE )");
}

TEST_F(SchemaEdit, SingleStringsTakeTheFirstValue)
{
    Mods mods{{LDAP_MOD_REPLACE, "DESC", {"first", "second"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "cn", AT, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(at("cn"), "DESC"), std::vector<std::string>{"first"});
    Mods cleared{{LDAP_MOD_ADD, "DESC", {}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "cn", AT, cleared.get()), LDAP_SUCCESS);
    int rc = 0;
    field(at("cn"), "DESC", &rc);
    EXPECT_EQ(rc, LDAP_NO_SUCH_ATTRIBUTE);
}

TEST_F(SchemaEdit, SyntaxChangesTheOidAndKeepsTheLength)
{
    Mods mods{{LDAP_MOD_REPLACE, "SYNTAX", {"1.3.6.1.4.1.1466.115.121.1.44"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "name", AT, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(at("name"), "SYNTAX"), (std::vector<std::string>{"1.3.6.1.4.1.1466.115.121.1.44", "32768"}));
}

TEST_F(SchemaEdit, Usage)
{
    Mods bad{{LDAP_MOD_REPLACE, "USAGE", {"systemOperation"}}};
    std::string before = summary(schema());
    EXPECT_EQ(ldap_schema_modify(schema(), "createTimestamp", AT, bad.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(summary(schema()), before);

    Mods dsa{{LDAP_MOD_REPLACE, "usage", {"DSAOPERATION"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "createTimestamp", AT, dsa.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(at("createTimestamp"), "dSAOperation"), std::vector<std::string>{""});
    Mods reset{{LDAP_MOD_DELETE, "USAGE", {"dSAOperation"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "createTimestamp", AT, reset.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(at("createTimestamp"), "userApplications"), std::vector<std::string>{""});
}

TEST_F(SchemaEdit, ClassKind)
{
    Mods gone{{LDAP_MOD_DELETE, "STRUCTURAL", {}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, gone.get()), LDAP_SUCCESS);
    EXPECT_EQ(printed(oc("person")), "( 2.5.6.6 NAME 'person' SUP top KIND-UNKNOWN MUST cn MAY ( sn $ mail ) )");
    // The element still edits after that.
    Mods aux{{LDAP_MOD_ADD, "auxiliary", {}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "person", OC, aux.get()), LDAP_SUCCESS);
    EXPECT_EQ(field_names(oc("person")), (std::vector<std::string>{"OID", "NAME", "SUP", "MUST", "MAY", "AUXILIARY"}));
}

TEST_F(SchemaEdit, Extensions)
{
    LDAPSchemaElement *lab = at("labCode");
    Mods add{{LDAP_MOD_ADD, "x-note", {"B", "c"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "labCode", AT, add.get()), LDAP_SUCCESS);
    EXPECT_EQ(field(lab, "X-NOTE"), (std::vector<std::string>{"a", "B", "c"}));

    Mods fresh{{LDAP_MOD_REPLACE, "X-NEW", {"n"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "labCode", AT, fresh.get()), LDAP_SUCCESS);
    EXPECT_EQ(field_names(lab).back(), "X-NEW");

    // An extension left without values is gone.
    Mods drop{{LDAP_MOD_DELETE, "X-ORIGIN", {"TEST"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "labCode", AT, drop.get()), LDAP_SUCCESS);
    EXPECT_EQ(printed(lab), "( 1.3.6.1.4.1.32473.1.2 NAME ( 'labCode' 'labIdentifier' 'labId' ) DESC 'three names' "
                            "X-NOTE ( 'a' 'B' 'c' ) X-NEW 'n' )");
    Mods none{{LDAP_MOD_DELETE, "X-ABSENT", {"v"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "labCode", AT, none.get()), LDAP_SUCCESS);

    std::string before = summary(schema());
    Mods bad[] = {{{LDAP_MOD_ADD, "X-EMPTY", {}}},  // a new extension needs values
                  {{LDAP_MOD_ADD, "TYPO", {"v"}}},    // and a name beginning "X-"
                  {{LDAP_MOD_ADD, "x-lower", {"v"}}},
                  {{LDAP_MOD_ADD, "X-TWO WORDS", {"v"}}}};
    for (auto &mods : bad) EXPECT_EQ(ldap_schema_modify(schema(), "labCode", AT, mods.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(summary(schema()), before);
}

// Values that would change the structure of the printed description are refused.
TEST_F(SchemaEdit, ValuesMustPrintFaithfully)
{
    std::string before = summary(schema());
    Mods bad[] = {
        {{LDAP_MOD_ADD, "SUP", {"top ) ( 1.2.3"}}}, {{LDAP_MOD_REPLACE, "EQUALITY", {""}}},
        {{LDAP_MOD_REPLACE, "NAME", {"cn", ""}}},   {{LDAP_MOD_REPLACE, "OID", {"2.5.4.3 $"}}},
        {{LDAP_MOD_REPLACE, "SUBSTR", {"x'y"}}},
    };
    for (auto &mods : bad) EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, mods.get()), LDAP_PARAM_ERROR);
    Mods rule{{LDAP_MOD_REPLACE, "RULEID", {"x1"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "1", DSR, rule.get()), LDAP_PARAM_ERROR);
    Mods sup{{LDAP_MOD_ADD, "SUP", {"2", "two"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "1", DSR, sup.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(summary(schema()), before);

    // Quotes and backslashes in quoted strings are escaped instead.
    Mods desc{{LDAP_MOD_REPLACE, "DESC", {"Bob's \\ name"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "cn", AT, desc.get()), LDAP_SUCCESS);
    EXPECT_EQ(printed(at("cn")), "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'Bob\\27s \\5C name' SUP name )");
    EXPECT_EQ(field(at("cn"), "DESC"), std::vector<std::string>{"Bob's \\ name"});
}

TEST_F(SchemaEdit, UnknownOperationsAndBinaryValuesAreRefused)
{
    Mods increment{{LDAP_MOD_INCREMENT, "DESC", {"1"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, increment.get()), LDAP_PARAM_ERROR);
    Mods binary{{LDAP_MOD_ADD | LDAP_MOD_BVALUES, "DESC", {"x"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, binary.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_add(schema(), AT, binary.get()), LDAP_PARAM_ERROR);
    LDAPMod untyped{};
    LDAPMod *list[] = {&untyped, nullptr};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, list), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_add(schema(), AT, list), LDAP_PARAM_ERROR);
    EXPECT_EQ(schema()->change_count, 0);
}

// ---------------------------------------------------------------- modify

TEST_F(SchemaEdit, ModifyQueuesTheOldDescriptionsDeleteThenTheNewOnesAdd)
{
    Mods mods{{LDAP_MOD_ADD, "DESC", {"common name"}}};
    LDAPSchemaElement *cn = at("cn");
    ASSERT_EQ(ldap_schema_modify(schema(), "2.5.4.3", AT, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(pending(schema()), (std::vector<std::string>{
                                     "delete attributeTypes: ( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )",
                                     "add attributeTypes: ( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'common name' SUP name )"}));
    EXPECT_EQ(at("cn"), cn);  // the element keeps its place
}

TEST_F(SchemaEdit, AFailedModifyChangesNothing)
{
    LDAPSchemaElement *cn = at("cn");
    std::string before = summary(schema());
    Mods mods{{LDAP_MOD_REPLACE, "DESC", {"changed"}}, {LDAP_MOD_ADD, "NAME", {"renamed"}},
              {LDAP_MOD_REPLACE, "USAGE", {"nonsense"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, mods.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(summary(schema()), before);
    EXPECT_EQ(at("cn"), cn);
    EXPECT_EQ(find(schema(), AT, "renamed"), nullptr);
    EXPECT_EQ(schema()->change_count, 0);
}

TEST_F(SchemaEdit, ModifyLookupErrors)
{
    Mods mods{{LDAP_MOD_ADD, "DESC", {"d"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "nosuch", AT, mods.get()), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ldap_schema_modify(schema(), "9.9.9", AT, mods.get()), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ldap_schema_modify(nullptr, "cn", AT, mods.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_modify(schema(), nullptr, AT, mods.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, nullptr), LDAP_PARAM_ERROR);
}

// The name index follows a changed NAME: the new names find the element, the
// old ones no longer do.
TEST_F(SchemaEdit, TheNameIndexFollowsAChangedName)
{
    LDAPSchemaElement *sn = at("sn");
    Mods mods{{LDAP_MOD_REPLACE, "NAME", {"zzLast", "aaFirst"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "surname", AT, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(find(schema(), AT, "sn"), nullptr);
    EXPECT_EQ(find(schema(), AT, "surname"), nullptr);
    EXPECT_EQ(find(schema(), AT, "ZZLAST"), sn);
    EXPECT_EQ(find(schema(), AT, "aafirst"), sn);
    EXPECT_EQ(schema()->name_count[AT], 11);
    for (int i = 1; i < schema()->name_count[AT]; ++i)
        EXPECT_LT(compare_ignoring_case(schema()->names[AT][i - 1].name, schema()->names[AT][i].name), 0);

    Mods drop{{LDAP_MOD_DELETE, "NAME", {"zzLast", "aaFirst"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "2.5.4.4", AT, drop.get()), LDAP_SUCCESS);
    EXPECT_EQ(schema()->name_count[AT], 9);
    EXPECT_EQ(find(schema(), AT, "2.5.4.4"), sn);
}

TEST_F(SchemaEdit, AChangedKeyIsSortedIn)
{
    LDAPSchemaElement *cn = at("cn");
    Mods mods{{LDAP_MOD_REPLACE, "OID", {"0.0.1"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "cn", AT, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(find(schema(), AT, "2.5.4.3"), nullptr);
    EXPECT_EQ(find(schema(), AT, "0.0.1"), cn);
    LDAPSchemaElement *first = nullptr;
    ASSERT_EQ(ldap_schema_get_by_index(schema(), 0, AT, &first), LDAP_SUCCESS);
    EXPECT_EQ(first, cn);

    // A structure rule's RULEID too.
    LDAPSchemaElement *ten = find(schema(), DSR, "10");
    Mods rule{{LDAP_MOD_REPLACE, "ruleid", {"0"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "tenRule", DSR, rule.get()), LDAP_SUCCESS);
    EXPECT_EQ(find(schema(), DSR, "0"), ten);
    EXPECT_EQ(find(schema(), DSR, "10"), nullptr);
    EXPECT_EQ(find(schema(), DSR, "2"), find(schema(), DSR, "personRule"));
    ASSERT_EQ(ldap_schema_get_by_index(schema(), 0, DSR, &first), LDAP_SUCCESS);
    EXPECT_EQ(first, ten);
}

TEST_F(SchemaEdit, KeysAndNamesStayUnique)
{
    std::string before = summary(schema());
    Mods name{{LDAP_MOD_ADD, "NAME", {"SN"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, name.get()), LDAP_ALREADY_EXISTS);
    Mods oid{{LDAP_MOD_REPLACE, "OID", {"2.5.4.4"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, oid.get()), LDAP_ALREADY_EXISTS);
    Mods keyless{{LDAP_MOD_DELETE, "OID", {}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, keyless.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(summary(schema()), before);
    // Renaming within the element's own names is fine.
    Mods own{{LDAP_MOD_REPLACE, "NAME", {"commonName", "CN"}}};
    EXPECT_EQ(ldap_schema_modify(schema(), "cn", AT, own.get()), LDAP_SUCCESS);
}

// ---------------------------------------------------------------- add

TEST_F(SchemaEdit, AddAContentRuleWithOnlyOidAndName)
{
    Mods mods{{LDAP_MOD_ADD, "OID", {"1.3.6.1.4.1.32473.2.1"}}, {LDAP_MOD_ADD, "NAME", {"labServerContent"}}};
    ASSERT_EQ(ldap_schema_add(schema(), DCR, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(pending(schema()),
              std::vector<std::string>{"add dITContentRules: ( 1.3.6.1.4.1.32473.2.1 NAME 'labServerContent' )"});
    EXPECT_EQ(ldap_schema_get_count(schema(), DCR), 2);
    LDAPSchemaElement *e = find(schema(), DCR, "labservercontent");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(find(schema(), DCR, "1.3.6.1.4.1.32473.2.1"), e);
    EXPECT_EQ(field_names(e), (std::vector<std::string>{"OID", "NAME"}));
}

TEST_F(SchemaEdit, AddAppliesEveryEntryAsAnAdd)
{
    Mods mods{{LDAP_MOD_DELETE, "OID", {"1.3.6.1.4.1.32473.1.7"}},
              {LDAP_MOD_REPLACE, "NAME", {"labColour", "labColor"}},
              {LDAP_MOD_ADD, "SUP", {"name"}},
              {LDAP_MOD_DELETE, "SINGLE-VALUE", {}},
              {LDAP_MOD_ADD, "USAGE", {"dSAOperation"}},
              {LDAP_MOD_ADD, "X-ORIGIN", {"lab"}}};
    ASSERT_EQ(ldap_schema_add(schema(), AT, mods.get()), LDAP_SUCCESS);
    LDAPSchemaElement *e = find(schema(), AT, "labColor");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(printed(e), "( 1.3.6.1.4.1.32473.1.7 NAME ( 'labColour' 'labColor' ) SUP name SINGLE-VALUE "
                          "USAGE dSAOperation X-ORIGIN 'lab' )");
    // Sorted in among the others.
    LDAPSchemaElement *third = nullptr;
    ASSERT_EQ(ldap_schema_get_by_index(schema(), 2, AT, &third), LDAP_SUCCESS);
    EXPECT_EQ(third, e);
}

TEST_F(SchemaEdit, AddRefusals)
{
    std::string before = summary(schema());
    Mods duplicate_oid{{LDAP_MOD_ADD, "OID", {"2.5.4.3"}}};
    EXPECT_EQ(ldap_schema_add(schema(), AT, duplicate_oid.get()), LDAP_ALREADY_EXISTS);
    Mods duplicate_name{{LDAP_MOD_ADD, "OID", {"1.2.3.4"}}, {LDAP_MOD_ADD, "NAME", {"COMMONNAME"}}};
    EXPECT_EQ(ldap_schema_add(schema(), AT, duplicate_name.get()), LDAP_ALREADY_EXISTS);
    Mods no_key{{LDAP_MOD_ADD, "NAME", {"nokey"}}};
    EXPECT_EQ(ldap_schema_add(schema(), AT, no_key.get()), LDAP_PARAM_ERROR);
    Mods oid_of_rule{{LDAP_MOD_ADD, "OID", {"5"}}};  // a structure rule has a RULEID, not an OID
    EXPECT_EQ(ldap_schema_add(schema(), DSR, oid_of_rule.get()), LDAP_PARAM_ERROR);
    Mods bad_usage{{LDAP_MOD_ADD, "OID", {"1.2.3.4"}}, {LDAP_MOD_ADD, "USAGE", {"none"}}};
    EXPECT_EQ(ldap_schema_add(schema(), AT, bad_usage.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_add(nullptr, AT, bad_usage.get()), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_add(schema(), AT, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(summary(schema()), before);
    // Another kind may reuse the OID.
    Mods other_kind{{LDAP_MOD_ADD, "OID", {"2.5.4.3"}}, {LDAP_MOD_ADD, "SYNTAX", {"1.2"}}};
    EXPECT_EQ(ldap_schema_add(schema(), MR, other_kind.get()), LDAP_SUCCESS);
}

// ---------------------------------------------------------------- delete

TEST_F(SchemaEdit, DeleteQueuesTheDescriptionAndRemovesTheElement)
{
    ASSERT_EQ(ldap_schema_delete(schema(), AT, "labId"), LDAP_SUCCESS);
    EXPECT_EQ(pending(schema()), std::vector<std::string>{
                                     "delete attributeTypes: ( 1.3.6.1.4.1.32473.1.2 NAME ( 'labCode' 'labIdentifier' "
                                     "'labId' ) DESC 'three names' X-ORIGIN 'test' X-NOTE ( 'a' 'b' ) )"});
    EXPECT_EQ(ldap_schema_get_count(schema(), AT), 6);
    EXPECT_EQ(schema()->name_count[AT], 8);
    for (const char *key : {"labCode", "labIdentifier", "labId", "1.3.6.1.4.1.32473.1.2"})
        EXPECT_EQ(find(schema(), AT, key), nullptr) << key;
    EXPECT_EQ(ldap_schema_delete(schema(), AT, "labId"), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ldap_schema_delete(schema(), AT, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_delete(nullptr, AT, "cn"), LDAP_PARAM_ERROR);
    // The rest is still in order and found.
    for (const char *key : {"cn", "sn", "mail", "name", "createTimestamp", "1.3.6.1.4.1.32473.1.9"})
        EXPECT_NE(find(schema(), AT, key), nullptr) << key;
}

TEST_F(SchemaEdit, AnElementWithoutAKeyCanBeDeletedByName)
{
    Schema keyless = build({{"attributeTypes", {"( NAME 'nokey' )", "( 1.1 NAME 'one' )"}}});
    ASSERT_TRUE(keyless);
    ASSERT_EQ(ldap_schema_delete(keyless.get(), AT, "nokey"), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_get_count(keyless.get(), AT), 1);
    EXPECT_EQ(pending(keyless.get()), std::vector<std::string>{"delete attributeTypes: ( NAME 'nokey' )"});
}

TEST_F(SchemaEdit, RemoveElementSearchesByKey)
{
    EXPECT_EQ(remove_element(schema(), "cn", AT), LDAP_NO_SUCH_OBJECT);  // a name is no key
    EXPECT_EQ(remove_element(schema(), "2.5.4.3", AT), LDAP_SUCCESS);
    EXPECT_EQ(find(schema(), AT, "cn"), nullptr);
    EXPECT_EQ(schema()->change_count, 0);  // nothing queued by the internal operation
    EXPECT_EQ(remove_element(schema(), "2.5.4.3", 8), LDAP_PARAM_ERROR);
    EXPECT_EQ(remove_element(nullptr, "2.5.4.3", AT), LDAP_PARAM_ERROR);
}

// ---------------------------------------------------------------- the queue

TEST_F(SchemaEdit, TheQueueGrowsAndStaysNullTerminated)
{
    for (int i = 0; i < 12; ++i) {
        std::string desc = "description " + std::to_string(i);
        Mods mods{{LDAP_MOD_REPLACE, "DESC", {desc}}};
        ASSERT_EQ(ldap_schema_modify(schema(), "mail", AT, mods.get()), LDAP_SUCCESS);
    }
    EXPECT_EQ(schema()->change_count, 24);
    EXPECT_EQ(schema()->change_capacity, 30);
    auto lines = pending(schema());
    EXPECT_EQ(lines.back(), "add attributeTypes: ( 0.9.2342.19200300.100.1.3 NAME ( 'mail' 'rfc822Mailbox' ) "
                            "DESC 'description 11' EQUALITY caseIgnoreIA5Match SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )");
    free_changes(schema());
    EXPECT_EQ(schema()->changes, nullptr);
    EXPECT_EQ(schema()->change_count, 0);
    EXPECT_EQ(schema()->change_capacity, 0);
}

TEST_F(SchemaEdit, AddChangeCopies)
{
    char value[] = "( 1.2 )";
    char *values[] = {value, nullptr};
    char type[] = "ldapSyntaxes";
    LDAPMod mod{LDAP_MOD_ADD, type, {values}};
    ASSERT_EQ(add_change(schema(), &mod), LDAP_SUCCESS);
    value[2] = '9';
    EXPECT_EQ(pending(schema()), std::vector<std::string>{"add ldapSyntaxes: ( 1.2 )"});
    EXPECT_NE(schema()->changes[0]->mod_values, values);
}

TEST_F(SchemaEdit, SaveWithNothingQueuedContactsNoServer)
{
    LDAP *ld = nullptr;
    ASSERT_EQ(ldap_initialize(&ld, "ldap://127.0.0.1:1"), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(ld, schema(), "cn=Subschema"), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(ld, schema(), nullptr), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(nullptr, schema(), nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_save(ld, nullptr, nullptr), LDAP_PARAM_ERROR);
    schema()->magic = 1;
    EXPECT_EQ(ldap_schema_save(ld, schema(), nullptr), LDAP_PARAM_ERROR);
    schema()->magic = LDAP_SCHEMA_MAGIC;
    // A failed save empties the queue all the same (no server listens here).
    ASSERT_EQ(ldap_schema_delete(schema(), AT, "cn"), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(ld, schema(), "cn=Subschema"), LDAP_SERVER_DOWN);
    EXPECT_EQ(schema()->change_count, 0);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
}

TEST_F(SchemaEdit, FreeReleasesPendingChanges)
{
    Mods mods{{LDAP_MOD_ADD, "DESC", {"d"}}};
    ASSERT_EQ(ldap_schema_modify(schema(), "cn", AT, mods.get()), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_free(schema_.release()), LDAP_SUCCESS);  // the sanitizer build checks for leaks
}

// ---------------------------------------------------------------- helpers

TEST(EditHelpers, EditValues)
{
    auto run = [](std::vector<std::string> old, int op, std::vector<std::string> values, bool null_values = false) {
        std::vector<char *> olds;
        for (auto &s : old) olds.push_back(ber_strdup(s.c_str()));
        olds.push_back(nullptr);
        char **field = old.empty() ? nullptr : static_cast<char **>(ber_memalloc(olds.size() * sizeof(char *)));
        if (field) std::copy(olds.begin(), olds.end(), field);
        std::vector<char *> v;
        for (auto &s : values) v.push_back(s.data());
        v.push_back(nullptr);
        EXPECT_EQ(edit_values(&field, null_values ? nullptr : v.data(), op), LDAP_SUCCESS);
        std::string out = field ? "" : "absent";
        for (char **f = field; f && *f; ++f) out += std::string(out.empty() ? "" : ",") + *f;
        ber_memvfree(reinterpret_cast<void **>(field));
        return out;
    };
    EXPECT_EQ(run({"sn", "mail"}, LDAP_MOD_ADD, {"cn", "Sn"}), "mail,cn,Sn");
    EXPECT_EQ(run({}, LDAP_MOD_ADD, {"a"}), "a");
    EXPECT_EQ(run({"a"}, LDAP_MOD_ADD, {}, true), "a");
    EXPECT_EQ(run({"a", "b"}, LDAP_MOD_DELETE, {}, true), "a,b");
    EXPECT_EQ(run({"a", "b"}, LDAP_MOD_DELETE, {"B", "c"}), "a");
    EXPECT_EQ(run({"a"}, LDAP_MOD_DELETE, {"A"}), "absent");
    EXPECT_EQ(run({}, LDAP_MOD_DELETE, {"a"}), "absent");
    EXPECT_EQ(run({"a"}, LDAP_MOD_REPLACE, {"x", "y"}), "x,y");
    EXPECT_EQ(run({"a"}, LDAP_MOD_REPLACE, {}, true), "absent");
}

TEST(EditHelpers, EditValue)
{
    char *field = ber_strdup("old");
    char a[] = "a", b[] = "b";
    char *values[] = {a, b, nullptr};
    ASSERT_EQ(edit_value(&field, values, LDAP_MOD_ADD), LDAP_SUCCESS);
    EXPECT_STREQ(field, "a");
    ASSERT_EQ(edit_value(&field, values, LDAP_MOD_DELETE), LDAP_SUCCESS);
    EXPECT_EQ(field, nullptr);
    ASSERT_EQ(edit_value(&field, values, LDAP_MOD_REPLACE), LDAP_SUCCESS);
    ASSERT_EQ(edit_value(&field, nullptr, LDAP_MOD_REPLACE), LDAP_SUCCESS);
    EXPECT_EQ(field, nullptr);
}

TEST(EditHelpers, DupElementIsDeep)
{
    Record record(AT, "( 1.2 NAME ( 'a' 'b' ) SYNTAX 1.3{4} USAGE dSAOperation X-A ( 'x' 'y' ) )");
    LDAPSchemaElement original{AT, record.get()};
    LDAPSchemaElement *copy = dup_element(&original);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->kind, AT);
    EXPECT_EQ(render(AT, copy->description), record.rendered());
    auto *a = record.get<LDAPAttributeType>();
    auto *b = static_cast<LDAPAttributeType *>(copy->description);
    EXPECT_NE(a->at_names, b->at_names);
    EXPECT_NE(a->at_names[0], b->at_names[0]);
    EXPECT_NE(a->at_extensions[0]->lsei_values, b->at_extensions[0]->lsei_values);
    free_element(copy);
}

}  // namespace
