// The schema model: loading, sorting, lookups, handle validity and the
// internal invariants.
#include "model_fixture.h"

namespace {

using namespace schematest;
using namespace dirext::schema_util;

TEST(SchemaModel, AnEntryWithoutSchemaAttributesGivesAValidEmptySchema)
{
    Schema schema = build({{"cn", {"Subschema"}}, {"objectClass", {"top", "subschema"}}});
    ASSERT_TRUE(schema);
    for (int kind = 0; kind < 8; ++kind) {
        EXPECT_EQ(ldap_schema_get_count(schema.get(), kind), 0);
        LDAPSchemaElement *e = reinterpret_cast<LDAPSchemaElement *>(1);
        EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "cn", kind, &e), LDAP_NO_SUCH_OBJECT);
        EXPECT_EQ(e, nullptr);
        EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "2.5.4.3", kind, &e), LDAP_NO_SUCH_OBJECT);
        EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 0, kind, &e), LDAP_PARAM_ERROR);
    }
}

TEST(SchemaModel, CountsDropMalformedAttributeTypesAndObjectClasses)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    const int expected[] = {7, 3, 1, 1, 1, 1, 1, 3};
    for (int kind = 0; kind < 8; ++kind) EXPECT_EQ(ldap_schema_get_count(schema.get(), kind), expected[kind]) << kind;
    EXPECT_EQ(find(schema.get(), 0, "dropped"), nullptr);
}

TEST(SchemaModel, AMalformedValueOfTheOtherKindsFailsTheLoad)
{
    for (const char *attribute : {"ldapSyntaxes", "matchingRules", "matchingRuleUse", "nameForms", "dITContentRules",
                                  "dITStructureRules"}) {
        int rc = 0;
        Schema schema = build({{"attributeTypes", {"( 2.5.4.3 NAME 'cn' )"}}, {attribute, {"( 1.2 )", "( 1.2 junk )"}}},
                              &rc);
        EXPECT_FALSE(schema) << attribute;
        EXPECT_EQ(rc, LDAP_LOCAL_ERROR) << attribute;
    }
}

TEST(SchemaModel, AValueWithAnEmbeddedNulIsMalformed)
{
    std::string value("( 2.5.4.3 NAME 'cn' )\0garbage", 29);
    int rc = 0;
    Schema schema = build({{"ldapSyntaxes", {value}}}, &rc);
    EXPECT_EQ(rc, LDAP_LOCAL_ERROR);
    schema = build({{"attributeTypes", {value}}}, &rc);
    ASSERT_TRUE(schema);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), 0), 0);
}

// Attribute descriptions ignore case, whatever case the server answers in.
TEST(SchemaModel, SubschemaAttributeNamesIgnoreCase)
{
    Schema schema = build({{"ATTRIBUTETYPES", {"( 2.5.4.3 NAME 'cn' )"}}, {"objectclasses", {"( 2.5.6.0 NAME 'top' )"}},
                           {"attributeTypes;binary", {"( 1.2 NAME 'x' )"}}});
    ASSERT_TRUE(schema);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), 0), 1);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), 1), 1);
}

TEST(SchemaModel, ElementsAreSortedByKeyInByteOrder)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    // Rule IDs are strings: "10" sorts between "1" and "2".
    const char *rules[] = {"1", "10", "2"};
    for (int i = 0; i < 3; ++i) {
        LDAPSchemaElement *e = nullptr;
        ASSERT_EQ(ldap_schema_get_by_index(schema.get(), i, LDAP_SCHEMA_DIT_STRUCTURE_RULE, &e), LDAP_SUCCESS);
        EXPECT_STREQ(static_cast<LDAPDITStructureRule *>(e->description)->dsr_ruleid, rules[i]);
    }
    const char *oids[] = {"0.9.2342.19200300.100.1.3", "1.3.6.1.4.1.32473.1.2", "1.3.6.1.4.1.32473.1.9",
                          "2.5.18.1", "2.5.4.3", "2.5.4.4", "2.5.4.41"};
    for (int i = 0; i < 7; ++i) {
        LDAPSchemaElement *e = nullptr;
        ASSERT_EQ(ldap_schema_get_by_index(schema.get(), i, 0, &e), LDAP_SUCCESS);
        EXPECT_STREQ(static_cast<LDAPAttributeType *>(e->description)->at_oid, oids[i]);
    }
}

TEST(SchemaModel, ElementsWithoutAKeySortLast)
{
    Schema schema = build({{"attributeTypes", {"( NAME 'nokey' )", "( 9.9 NAME 'nine' )", "( 1.1 NAME 'one' )"}}});
    ASSERT_TRUE(schema);
    LDAPSchemaElement *e = nullptr;
    ASSERT_EQ(ldap_schema_get_by_index(schema.get(), 2, 0, &e), LDAP_SUCCESS);
    EXPECT_EQ(e, find(schema.get(), 0, "nokey"));
    EXPECT_EQ(find(schema.get(), 0, "9.9"), find(schema.get(), 0, "nine"));
    EXPECT_EQ(find(schema.get(), 0, "1.1"), find(schema.get(), 0, "one"));
}

TEST(SchemaModel, DigitKeysAreOidsAndOtherKeysAreNames)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    LDAPSchemaElement *cn = find(schema.get(), 0, "2.5.4.3");
    ASSERT_NE(cn, nullptr);
    for (const char *key : {"cn", "CN", "Cn", "commonName", "COMMONNAME"}) EXPECT_EQ(find(schema.get(), 0, key), cn) << key;
    EXPECT_EQ(find(schema.get(), 0, "2.5.4"), nullptr);          // no prefix match
    EXPECT_EQ(find(schema.get(), 1, "2.5.4.3"), nullptr);        // kinds are apart
    EXPECT_EQ(find(schema.get(), 1, "cn"), nullptr);
    EXPECT_EQ(find(schema.get(), 7, "1"), find(schema.get(), 7, "topRule"));  // rule IDs are keys
    EXPECT_EQ(find(schema.get(), 7, "01"), nullptr);
    // The content rule shares its OID with the class it governs; the kinds keep them apart.
    EXPECT_NE(find(schema.get(), 6, "2.5.6.6"), nullptr);
    EXPECT_NE(find(schema.get(), 1, "2.5.6.6"), find(schema.get(), 6, "2.5.6.6"));
}

TEST(SchemaModel, OneNameIndexEntryPerName)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    // name 1, cn 2, sn 2, mail 2, lab 3, none 0, createTimestamp 1
    EXPECT_EQ(schema->name_count[0], 11);
    LDAPSchemaElement *lab = find(schema.get(), 0, "1.3.6.1.4.1.32473.1.2");
    for (const char *name : {"labCode", "labidentifier", "LABID"}) EXPECT_EQ(find(schema.get(), 0, name), lab);
    LDAPSchemaElement *nameless = find(schema.get(), 0, "1.3.6.1.4.1.32473.1.9");
    ASSERT_NE(nameless, nullptr);
    int entries = 0;
    for (int i = 0; i < schema->name_count[0]; ++i) entries += schema->names[0][i].element == nameless;
    EXPECT_EQ(entries, 0);
    // The index is sorted without regard to case.
    for (int i = 1; i < schema->name_count[0]; ++i)
        EXPECT_LT(compare_ignoring_case(schema->names[0][i - 1].name, schema->names[0][i].name), 0);
}

TEST(SchemaModel, ArgumentChecks)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    LDAPSchemaElement *e = nullptr;
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 7, 0, &e), LDAP_PARAM_ERROR);  // index == count
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 6, 0, &e), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), -1, 0, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 0, 8, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 0, -1, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_index(nullptr, 0, 0, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 0, 0, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_name(schema.get(), nullptr, 0, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "cn", 8, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "cn", -1, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_name(nullptr, "cn", 0, &e), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "", 0, &e), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ldap_schema_get_count(nullptr, 0), -1);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), 8), -1);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), -1), -1);
    EXPECT_EQ(ldap_schema_free(nullptr), LDAP_SUCCESS);
    LDAPSubschema *out = reinterpret_cast<LDAPSubschema *>(1);
    EXPECT_EQ(ldap_schema_fetch(nullptr, &out, "cn=Subschema"), LDAP_PARAM_ERROR);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ldap_schema_fetch(nullptr, nullptr, nullptr), LDAP_PARAM_ERROR);
}

TEST(SchemaModel, AHandleWithoutTheMagicIsRefusedAndNotFreed)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    schema->magic = 0x12345678;
    LDAPSchemaElement *e = reinterpret_cast<LDAPSchemaElement *>(1);
    EXPECT_EQ(ldap_schema_get_count(schema.get(), 0), -1);
    EXPECT_EQ(ldap_schema_get_by_name(schema.get(), "cn", 0, &e), LDAP_LOCAL_ERROR);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(ldap_schema_get_by_index(schema.get(), 0, 0, &e), LDAP_LOCAL_ERROR);
    EXPECT_EQ(ldap_schema_free(schema.get()), LDAP_PARAM_ERROR);
    Mods mods{{LDAP_MOD_ADD, "OID", {"1.2.3"}}};
    EXPECT_EQ(ldap_schema_add(schema.get(), 0, mods.get()), LDAP_LOCAL_ERROR);
    EXPECT_EQ(ldap_schema_modify(schema.get(), "cn", 0, mods.get()), LDAP_LOCAL_ERROR);
    EXPECT_EQ(ldap_schema_delete(schema.get(), 0, "cn"), LDAP_LOCAL_ERROR);
    EXPECT_EQ(remove_element(schema.get(), "2.5.4.3", 0), LDAP_LOCAL_ERROR);
    // Nothing was freed: the handle still holds every element.
    EXPECT_EQ(schema->element_count[0], 7);
    schema->magic = LDAP_SCHEMA_MAGIC;
    EXPECT_EQ(ldap_schema_free(schema.release()), LDAP_SUCCESS);
}

TEST(SchemaModel, ComparisonsPutNullsLast)
{
    LDAPAttributeType keyed{}, keyless{};
    char oid[] = "1.2";
    keyed.at_oid = oid;
    LDAPSchemaElement a{0, &keyed}, b{0, &keyless};
    LDAPSchemaElement *pa = &a, *pb = &b, *null = nullptr;
    EXPECT_LT(compare_oid(&pa, &pb), 0);
    EXPECT_GT(compare_oid(&pb, &pa), 0);
    EXPECT_LT(compare_oid(&pb, &null), 0);
    EXPECT_GT(compare_oid(&null, &pa), 0);
    EXPECT_EQ(compare_oid(&null, &null), 0);
    EXPECT_EQ(compare_oid(&pb, &pb), 0);
    LDAPSchemaNameEntry named{&a, oid}, unnamed{&a, nullptr};
    EXPECT_LT(compare_name(&named, &unnamed), 0);
    EXPECT_EQ(compare_name(&unnamed, &unnamed), 0);
    EXPECT_LT(compare_key_to_name("zzz", &unnamed), 0);
    EXPECT_LT(compare_key_to_oid("9", &pb), 0);
    EXPECT_EQ(compare_key_to_oid("1.2", &pa), 0);
}

TEST(SchemaModel, ParseElementCodes)
{
    Schema schema = build({});
    ASSERT_TRUE(schema);
    EXPECT_EQ(parse_element(schema.get(), "( 1.2 )", 8), LDAP_PARAM_ERROR);
    EXPECT_EQ(parse_element(schema.get(), "( 1.2 )", -1), LDAP_PARAM_ERROR);
    EXPECT_EQ(parse_element(schema.get(), "( 1.2 junk )", 2), LDAP_LOCAL_ERROR);
    EXPECT_EQ(parse_element(schema.get(), "( 1.2 )", 2), LDAP_SUCCESS);
    EXPECT_EQ(schema->element_count[2], 1);
}

// alloc_list sizes exactly; add_element grows by 10 and the name index by the
// element's names plus 10.
TEST(SchemaModel, ArraysGrowAsTheyFill)
{
    Schema schema = build({});
    ASSERT_TRUE(schema);
    ASSERT_EQ(alloc_list(schema.get(), 0, 2), LDAP_SUCCESS);
    EXPECT_EQ(schema->element_capacity[0], 2);
    EXPECT_EQ(schema->name_capacity[0], 2);
    for (const char *text : {"( 1.1 NAME 'a' )", "( 1.2 NAME ( 'b' 'c' ) )", "( 1.3 NAME 'd' )"})
        ASSERT_EQ(parse_element(schema.get(), text, 0), LDAP_SUCCESS);
    EXPECT_EQ(schema->element_count[0], 3);
    EXPECT_EQ(schema->element_capacity[0], 12);
    EXPECT_EQ(schema->name_count[0], 4);
    EXPECT_GE(schema->name_capacity[0], 4);
}

using SchemaUtilDeathTest = ::testing::Test;

TEST_F(SchemaUtilDeathTest, AKindOutsideTheRangeStopsInternalOperations)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Schema schema = build({});
    ASSERT_TRUE(schema);
    LDAPAttributeType at{};
    LDAPSchemaElement bad{9, &at};
    EXPECT_DEATH(add_element(schema.get(), &bad), "schema_util.*add_element");
    EXPECT_DEATH(alloc_list(schema.get(), 8, 1), "schema_util.*alloc_list");
    EXPECT_DEATH(sort_kind(schema.get(), -1), "schema_util");
    EXPECT_DEATH(modify_element(&bad, "DESC", nullptr, LDAP_MOD_DELETE), "schema_util");
    EXPECT_DEATH(store_update(schema.get(), &bad, LDAP_MOD_ADD), "schema_util");
    EXPECT_DEATH(dup_element(&bad), "schema_util");
}

// The exported operations check the kind first: no caller input reaches an
// assertion.
TEST(SchemaModel, ExportedOperationsRefuseABadKind)
{
    Schema schema = build(example());
    ASSERT_TRUE(schema);
    LDAPAttributeType at{};
    LDAPSchemaElement bad{8, &at};
    char **list = nullptr;
    char *text = nullptr;
    EXPECT_EQ(ldap_schema_get_field_names(&bad, &list), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_field_values(&bad, "OID", &list), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_element_to_string(&bad, &text, nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(text, nullptr);
    Mods mods{{LDAP_MOD_ADD, "OID", {"1.2.3"}}};
    for (int kind : {8, -1, 1000}) {
        EXPECT_EQ(ldap_schema_add(schema.get(), kind, mods.get()), LDAP_PARAM_ERROR);
        EXPECT_EQ(ldap_schema_modify(schema.get(), "cn", kind, mods.get()), LDAP_PARAM_ERROR);
        EXPECT_EQ(ldap_schema_delete(schema.get(), kind, "cn"), LDAP_PARAM_ERROR);
    }
}

}  // namespace
