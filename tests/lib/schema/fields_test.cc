// Field names and values of schema elements, and their printed form.
#include "model_fixture.h"

namespace {

using namespace schematest;

enum : int { AT = 0, OC = 1, SYN = 2, MR = 3, MRU = 4, NF = 5, DCR = 6, DSR = 7 };

// An element made from one description, without a schema.
class Element {
public:
    Element(int kind, const char *text) : record_(kind, text, 15), element_{kind, record_.get()}
    {
        EXPECT_TRUE(record_) << text;
    }
    LDAPSchemaElement *get() { return &element_; }

private:
    Record record_;
    LDAPSchemaElement element_;
};

struct NamesCase {
    int kind;
    const char *text;
    std::vector<std::string> names;
};

class FieldNames : public ::testing::TestWithParam<NamesCase> {};

TEST_P(FieldNames, InTheTabledOrder)
{
    Element e(GetParam().kind, GetParam().text);
    EXPECT_EQ(field_names(e.get()), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, FieldNames,
    ::testing::Values(
        NamesCase{AT,
                  "( 1.2 NAME 'x' DESC 'd' OBSOLETE SUP s EQUALITY e ORDERING o SUBSTR u SYNTAX 1.3{8} SINGLE-VALUE "
                  "COLLECTIVE NO-USER-MODIFICATION USAGE dSAOperation X-B 'b' X-A 'a' )",
                  {"OID", "NAME", "DESC", "SUP", "EQUALITY", "ORDERING", "SUBSTR", "SYNTAX", "OBSOLETE",
                   "SINGLE-VALUE", "COLLECTIVE", "NO-USER-MODIFICATION", "dSAOperation", "X-B", "X-A"}},
        // Usage 0 is listed although the description never says USAGE.
        NamesCase{AT, "( 1.2 )", {"OID", "userApplications"}},
        NamesCase{AT, "( 1.2 USAGE distributedOperation )", {"OID", "distributedOperation"}},
        NamesCase{OC, "( 1.2 NAME 'x' DESC 'd' OBSOLETE SUP top AUXILIARY MUST a MAY b X-A 'a' )",
                  {"OID", "NAME", "DESC", "SUP", "MUST", "MAY", "OBSOLETE", "AUXILIARY", "X-A"}},
        NamesCase{OC, "( 1.2 )", {"OID", "STRUCTURAL"}},
        NamesCase{OC, "( 1.2 KIND-UNKNOWN )", {"OID"}},
        NamesCase{SYN, "( 1.2 NAME 'n' DESC 'd' X-A 'a' )", {"OID", "NAME", "DESC", "X-A"}},
        NamesCase{MR, "( 1.2 NAME 'n' DESC 'd' OBSOLETE SYNTAX 1.3 )", {"OID", "NAME", "DESC", "SYNTAX", "OBSOLETE"}},
        NamesCase{MRU, "( 1.2 NAME 'n' DESC 'd' OBSOLETE APPLIES a )", {"OID", "DESC", "NAME", "APPLIES", "OBSOLETE"}},
        NamesCase{NF, "( 1.2 NAME 'n' DESC 'd' OBSOLETE OC c MUST m MAY y )",
                  {"OID", "DESC", "NAME", "OBSOLETE", "OC", "MAY", "MUST"}},
        NamesCase{DCR, "( 1.2 NAME 'n' DESC 'd' OBSOLETE AUX a MUST m MAY y NOT t )",
                  {"OID", "DESC", "NAME", "OBSOLETE", "AUX", "MUST", "MAY", "NOT"}},
        NamesCase{DCR, "( 1.2 NAME 'n' )", {"OID", "NAME"}},
        NamesCase{DSR, "( 1 NAME 'n' DESC 'd' OBSOLETE FORM f SUP 2 X-A 'a' )",
                  {"RULEID", "DESC", "NAME", "OBSOLETE", "FORM", "SUP", "X-A"}},
        NamesCase{DSR, "( 1 )", {"RULEID"}}));

struct ValuesCase {
    int kind;
    const char *text;
    const char *field;
    int rc;
    std::vector<std::string> values;
};

class FieldValues : public ::testing::TestWithParam<ValuesCase> {};

TEST_P(FieldValues, ByName)
{
    const ValuesCase &c = GetParam();
    Element e(c.kind, c.text);
    int rc = -1;
    EXPECT_EQ(field(e.get(), c.field, &rc), c.values);
    EXPECT_EQ(rc, c.rc);
}

const char kAttribute[] =
    "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'common name' SUP name EQUALITY caseIgnoreMatch "
    "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32} SINGLE-VALUE X-ORIGIN ( 'RFC 4519' 'X.520' ) X-Deprecated 'no' )";

INSTANTIATE_TEST_SUITE_P(
    AllKinds, FieldValues,
    ::testing::Values(
        ValuesCase{AT, kAttribute, "OID", 0, {"2.5.4.3"}},
        ValuesCase{AT, kAttribute, "NAME", 0, {"cn", "commonName"}},
        ValuesCase{AT, kAttribute, "desc", 0, {"common name"}},
        ValuesCase{AT, kAttribute, "Desc", 0, {"common name"}},
        ValuesCase{AT, kAttribute, "DESC", 0, {"common name"}},
        ValuesCase{AT, kAttribute, "SUP", 0, {"name"}},
        ValuesCase{AT, kAttribute, "EQUALITY", 0, {"caseIgnoreMatch"}},
        ValuesCase{AT, kAttribute, "ORDERING", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{AT, kAttribute, "SYNTAX", 0, {"1.3.6.1.4.1.1466.115.121.1.15", "32"}},
        ValuesCase{AT, "( 1.2 SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )", "SYNTAX", 0,
                   {"1.3.6.1.4.1.1466.115.121.1.15", "0"}},
        ValuesCase{AT, "( 1.2 )", "SYNTAX", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{AT, kAttribute, "SINGLE-VALUE", 0, {""}},
        ValuesCase{AT, kAttribute, "single-value", 0, {""}},
        ValuesCase{AT, kAttribute, "COLLECTIVE", LDAP_NO_SUCH_ATTRIBUTE, {}},  // a clear flag
        ValuesCase{AT, kAttribute, "OBSOLETE", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{AT, kAttribute, "userApplications", 0, {""}},
        ValuesCase{AT, kAttribute, "dSAOperation", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{AT, "( 1.2 USAGE dSAOperation )", "dsaoperation", 0, {""}},
        ValuesCase{AT, kAttribute, "USAGE", LDAP_NO_SUCH_ATTRIBUTE, {}},  // no such field to read
        ValuesCase{AT, kAttribute, "x-origin", 0, {"RFC 4519", "X.520"}},
        ValuesCase{AT, kAttribute, "X-DEPRECATED", 0, {"no"}},
        ValuesCase{AT, kAttribute, "X-MISSING", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{OC, "( 2.5.6.6 SUP top MUST ( sn $ cn ) OBSOLETE )", "MUST", 0, {"sn", "cn"}},
        ValuesCase{OC, "( 2.5.6.6 SUP top MUST ( sn $ cn ) OBSOLETE )", "OBSOLETE", 0, {""}},
        ValuesCase{OC, "( 2.5.6.6 SUP top MUST ( sn $ cn ) OBSOLETE )", "STRUCTURAL", 0, {""}},
        ValuesCase{OC, "( 2.5.6.6 SUP top MUST ( sn $ cn ) OBSOLETE )", "ABSTRACT", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{OC, "( 2.5.6.6 )", "MAY", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{SYN, "( 1.2 DESC 'd' )", "OBSOLETE", LDAP_NO_SUCH_ATTRIBUTE, {}},  // a syntax has none
        ValuesCase{MR, "( 1.2 SYNTAX 1.3 OBSOLETE )", "SYNTAX", 0, {"1.3"}},
        ValuesCase{MR, "( 1.2 SYNTAX 1.3 OBSOLETE )", "OBSOLETE", 0, {""}},
        ValuesCase{MRU, "( 1.2 APPLIES ( a $ b ) )", "APPLIES", 0, {"a", "b"}},
        ValuesCase{NF, "( 1.2 OC c MUST m MAY ( x $ y ) )", "OC", 0, {"c"}},
        ValuesCase{NF, "( 1.2 OC c MUST m MAY ( x $ y ) )", "MAY", 0, {"x", "y"}},
        // A name outside the kind's row is an extension's, never another list.
        ValuesCase{NF, "( 1.2 OC c MUST m MAY ( x $ y ) )", "AUX", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{NF, "( 1.2 OC c MUST m X-AUX 'e' )", "x-aux", 0, {"e"}},
        ValuesCase{DCR, "( 1.2 AUX a MUST m MAY y NOT t )", "NOT", 0, {"t"}},
        ValuesCase{DCR, "( 1.2 AUX a MUST m MAY y NOT t )", "OC", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{DCR, "( 1.2 AUX a MUST m MAY y NOT t )", "SUP", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{DSR, "( 7 FORM f SUP ( 1 2 ) )", "RULEID", 0, {"7"}},
        ValuesCase{DSR, "( 7 FORM f SUP ( 1 2 ) )", "OID", LDAP_NO_SUCH_ATTRIBUTE, {}},
        ValuesCase{DSR, "( 7 FORM f SUP ( 1 2 ) )", "FORM", 0, {"f"}},
        ValuesCase{DSR, "( 7 FORM f SUP ( 1 2 ) )", "SUP", 0, {"1", "2"}}));

TEST(FieldValues, ArgumentChecks)
{
    Element e(AT, "( 1.2 )");
    char **values = reinterpret_cast<char **>(1);
    EXPECT_EQ(ldap_schema_get_field_values(e.get(), nullptr, &values), LDAP_PARAM_ERROR);
    EXPECT_EQ(values, nullptr);
    EXPECT_EQ(ldap_schema_get_field_values(nullptr, "OID", &values), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_field_values(e.get(), "OID", nullptr), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_field_names(nullptr, &values), LDAP_PARAM_ERROR);
    EXPECT_EQ(ldap_schema_get_field_names(e.get(), nullptr), LDAP_PARAM_ERROR);
    LDAPSchemaElement empty{0, nullptr};
    EXPECT_EQ(ldap_schema_get_field_names(&empty, &values), LDAP_PARAM_ERROR);
}

TEST(ElementToString, TextAndAttributePerKind)
{
    const char *attributes[] = {"attributeTypes", "objectClasses",   "ldapSyntaxes",    "matchingRules",
                                "matchingRuleUse", "nameForms",      "dITContentRules", "dITStructureRules"};
    const char *texts[] = {"( 1.2 NAME 'a' )", "( 1.2 NAME 'o' AUXILIARY )", "( 1.2 DESC 's' )",
                           "( 1.2 SYNTAX 1.3 )", "( 1.2 APPLIES a )", "( 1.2 OC o MUST m )",
                           "( 1.2 NAME 'c' )", "( 4 FORM f )"};
    for (int kind = 0; kind < 8; ++kind) {
        Element e(kind, texts[kind]);
        char *text = nullptr;
        const char *attribute = nullptr;
        ASSERT_EQ(ldap_schema_element_to_string(e.get(), &text, &attribute), LDAP_SUCCESS);
        EXPECT_STREQ(text, texts[kind]);
        EXPECT_STREQ(attribute, attributes[kind]);
        ldap_memfree(text);
    }
}

TEST(FieldHelpers, Duplicates)
{
    using namespace dirext::schema_util;
    char **out = reinterpret_cast<char **>(1);
    EXPECT_EQ(one_value_list(&out, nullptr), LDAP_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(one_value_list(&out, "v"), LDAP_SUCCESS);
    EXPECT_EQ(strings(out), std::vector<std::string>{"v"});
    ldap_value_free(out);
    EXPECT_EQ(copy_value_list(&out, nullptr), LDAP_NO_SUCH_ATTRIBUTE);
    char a[] = "a", b[] = "b";
    char *list[] = {a, b, nullptr};
    EXPECT_EQ(copy_value_list(&out, list), LDAP_SUCCESS);
    EXPECT_EQ(strings(out), (std::vector<std::string>{"a", "b"}));
    ldap_value_free(out);
    EXPECT_EQ(copy_string_list(nullptr), nullptr);
}

}  // namespace
