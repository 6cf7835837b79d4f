// The schema utility: description parsers and printers, the model fetched
// from the simulator, field reads, edits and the save.
#include <cstring>

#include "alloc_failures.h"
#include "sweep.h"

namespace allocsweep {
namespace {

// One description of each kind, with every clause the parsers allocate for.
const char kAttributeType[] =
    "( 1.3.6.1.4.1.32473.1.2 NAME ( 'labCode' 'labId' ) DESC 'a code' SUP name EQUALITY caseIgnoreMatch "
    "ORDERING caseIgnoreOrderingMatch SUBSTR caseIgnoreSubstringsMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{64} "
    "SINGLE-VALUE USAGE userApplications X-ORIGIN 'test' X-NOTE ( 'a' 'b' ) )";
const char kObjectClass[] =
    "( 1.3.6.1.4.1.32473.2.1 NAME 'labServer' DESC 'a server' SUP ( top $ device ) AUXILIARY "
    "MUST ( cn $ labCode ) MAY ( description $ ou ) X-ORIGIN 'test' )";
const char kSyntax[] = "( 1.3.6.1.4.1.32473.3.1 DESC 'lab syntax' X-NOT-HUMAN-READABLE 'TRUE' )";
const char kMatchingRule[] = "( 1.3.6.1.4.1.32473.4.1 NAME 'labMatch' DESC 'm' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )";
const char kMatchingRuleUse[] = "( 1.3.6.1.4.1.32473.4.1 NAME 'labMatch' APPLIES ( cn $ sn ) X-A 'x' )";
const char kNameForm[] = "( 1.3.6.1.4.1.32473.5.1 NAME 'labForm' OC labServer MUST cn MAY ( ou $ o ) X-A 'x' )";
const char kContentRule[] = "( 2.5.6.6 NAME 'personContent' AUX labServer MUST mail MAY description NOT ou X-A 'x' )";
const char kStructureRule[] = "( 2 NAME 'personRule' DESC 'd' FORM labForm SUP ( 1 3 ) X-A 'x' )";

// A parser's answer: 0 with a record, else its code (1: out of memory).
template <typename T>
int parsed(T *(*parse)(const char *, int *, const char **, const unsigned), void (*release)(T *),
           const char *text)
{
    int code = -1;
    const char *errp = nullptr;
    T *record = parse(text, &code, &errp, 0);
    release(record);
    if (record) {
        EXPECT_EQ(code, 0);
    } else {  // errp points into the text
        EXPECT_TRUE(errp >= text && errp <= text + std::strlen(text));
    }
    return record ? 0 : code;
}

// A printer's answer for the parsed text: 0, or kNull.
template <typename T>
int printed(T *(*parse)(const char *, int *, const char **, const unsigned), char *(*print)(T *),
            void (*release)(T *), const char *text)
{
    T *record = nullptr;
    {
        allocfail::Paused paused;
        int code = 0;
        const char *errp = nullptr;
        record = parse(text, &code, &errp, 0);
        EXPECT_NE(record, nullptr) << text;
    }
    char *out = print(record);
    const int rc = out ? 0 : kNull;
    ldap_memfree(out);
    allocfail::Paused paused;
    release(record);
    return rc;
}

#define DESCRIPTION_ROWS(Type, str2, to_str, free_fn, text)                                                    \
    int parse_##str2(Env &) { return parsed<Type>(str2, free_fn, text); }                                       \
    int print_##to_str(Env &) { return printed<Type>(str2, to_str, free_fn, text); }

DESCRIPTION_ROWS(LDAPAttributeType, ldap_str2attributetype, ldap_attributetype2str, ldap_attributetype_free,
                 kAttributeType)
DESCRIPTION_ROWS(LDAPObjectClass, ldap_str2objectclass, ldap_objectclass2str, ldap_objectclass_free, kObjectClass)
DESCRIPTION_ROWS(LDAPSyntax, ldap_str2syntax, ldap_syntax2str, ldap_syntax_free, kSyntax)
DESCRIPTION_ROWS(LDAPMatchingRule, ldap_str2matchingrule, ldap_matchingrule2str, ldap_matchingrule_free,
                 kMatchingRule)
DESCRIPTION_ROWS(LDAPMatchingRuleUse, ldap_str2matchingruleuse, ldap_matchingruleuse2str, ldap_matchingruleuse_free,
                 kMatchingRuleUse)
DESCRIPTION_ROWS(LDAPNameForm, ldap_str2nameform, ldap_nameform2str, ldap_nameform_free, kNameForm)
DESCRIPTION_ROWS(LDAPDITContentRule, ldap_str2ditcontentrule, ldap_ditcontentrule2str, ldap_ditcontentrule_free,
                 kContentRule)
DESCRIPTION_ROWS(LDAPDITStructureRule, ldap_str2ditstructurerule, ldap_ditstructurerule2str,
                 ldap_ditstructurerule_free, kStructureRule)
#undef DESCRIPTION_ROWS

// The simulator's schema, fetched with the hook paused.
struct Fetched {
    LDAPSubschema *schema = nullptr;
    explicit Fetched(LDAP *ld)
    {
        allocfail::Paused paused;
        EXPECT_EQ(ldap_schema_fetch(ld, &schema, nullptr), LDAP_SUCCESS);
    }
    ~Fetched()
    {
        allocfail::Paused paused;
        ldap_schema_free(schema);
    }
    LDAPSchemaElement *element(int kind, const char *key)
    {
        LDAPSchemaElement *e = nullptr;
        EXPECT_EQ(ldap_schema_get_by_name(schema, key, kind, &e), LDAP_SUCCESS) << key;
        return e;
    }
};

int fetch(Env &env)
{
    LDAPSubschema *schema = nullptr;
    const int rc = ldap_schema_fetch(env.ld(), &schema, nullptr);
    if (rc == LDAP_SUCCESS) {
        EXPECT_GT(ldap_schema_get_count(schema, LDAP_SCHEMA_ATTRIBUTE_TYPE), 5);
    } else {
        EXPECT_EQ(schema, nullptr);
    }
    ldap_schema_free(schema);
    return rc;
}

int field_names(Env &env)
{
    Fetched f(env.ld());
    char **names = nullptr;
    const int rc = ldap_schema_get_field_names(f.element(LDAP_SCHEMA_ATTRIBUTE_TYPE, "mail"), &names);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(names, nullptr);
    }
    ldap_value_free(names);
    return rc;
}

int field_values(Env &env)
{
    Fetched f(env.ld());
    char **values = nullptr;
    const int rc = ldap_schema_get_field_values(f.element(LDAP_SCHEMA_ATTRIBUTE_TYPE, "cn"), "NAME", &values);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(values, nullptr);
    }
    ldap_value_free(values);
    return rc;
}

int element_text(Env &env)
{
    Fetched f(env.ld());
    char *text = nullptr;
    const char *attribute = nullptr;
    const int rc = ldap_schema_element_to_string(f.element(LDAP_SCHEMA_OBJECT_CLASS, "person"), &text, &attribute);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(text, nullptr);
    }
    ldap_memfree(text);
    return rc;
}

// An LDAPMod list of string values.
struct Mods {
    std::vector<std::vector<char *>> values;
    std::vector<LDAPMod> mods;
    std::vector<LDAPMod *> list;
    Mods(std::initializer_list<std::pair<const char *, std::vector<const char *>>> fields)
    {
        for (const auto &[type, vals] : fields) {
            std::vector<char *> v;
            for (const char *s : vals) v.push_back(const_cast<char *>(s));
            v.push_back(nullptr);
            values.push_back(std::move(v));
        }
        std::size_t i = 0;
        for (const auto &field : fields) mods.push_back({LDAP_MOD_REPLACE, const_cast<char *>(field.first), {values[i++].data()}});
        for (LDAPMod &m : mods) list.push_back(&m);
        list.push_back(nullptr);
    }
    LDAPMod **get() { return list.data(); }
};

// An edit leaves the pending changes as they were when it fails.
int edited(LDAPSubschema *schema, int rc, int queued_before)
{
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(schema->change_count, queued_before);
    }
    return rc;
}

int add(Env &env)
{
    Fetched f(env.ld());
    Mods mods{{"OID", {"1.3.6.1.4.1.32473.1.7"}}, {"NAME", {"labNew", "labNewer"}}, {"DESC", {"new"}},
              {"SYNTAX", {"1.3.6.1.4.1.1466.115.121.1.15"}}, {"X-ORIGIN", {"test"}}};
    return edited(f.schema, ldap_schema_add(f.schema, LDAP_SCHEMA_ATTRIBUTE_TYPE, mods.get()), 0);
}

int modify(Env &env)
{
    Fetched f(env.ld());
    Mods mods{{"NAME", {"human", "person2"}}, {"MAY", {"description", "mail"}}, {"X-NEW", {"v"}}};
    return edited(f.schema, ldap_schema_modify(f.schema, "person", LDAP_SCHEMA_OBJECT_CLASS, mods.get()), 0);
}

int remove(Env &env)
{
    Fetched f(env.ld());
    return edited(f.schema, ldap_schema_delete(f.schema, LDAP_SCHEMA_ATTRIBUTE_TYPE, "mail"), 0);
}

// A description change of an attribute type, written back; the subschema DN
// is looked up again (an allocation of the save itself).
int save(Env &env)
{
    Fetched f(env.ld());
    {
        allocfail::Paused paused;
        Mods mods{{"DESC", {"RFC2256: descriptive information"}}};
        EXPECT_EQ(ldap_schema_modify(f.schema, "description", LDAP_SCHEMA_ATTRIBUTE_TYPE, mods.get()), 0);
    }
    const int rc = ldap_schema_save(env.ld(), f.schema, nullptr);
    if (rc == LDAP_NO_MEMORY) {  // the queue stays
        EXPECT_EQ(f.schema->change_count, 2);
    }
    return rc;
}

}  // namespace

const std::vector<Row> &schema_rows()
{
    static const std::vector<Row> rows = {
        {"ldap_schema_fetch", LDAP_NO_MEMORY, fetch},
        {"ldap_schema_get_field_names", LDAP_NO_MEMORY, field_names},
        {"ldap_schema_get_field_values", LDAP_NO_MEMORY, field_values},
        // The printer's failure, reported as a local error.
        {"ldap_schema_element_to_string", LDAP_LOCAL_ERROR, element_text},
        {"ldap_schema_add", LDAP_NO_MEMORY, add},
        {"ldap_schema_modify", LDAP_NO_MEMORY, modify},
        {"ldap_schema_delete", LDAP_NO_MEMORY, remove},
        {"ldap_schema_save", LDAP_NO_MEMORY, save},
        // Parsers: NULL with *code 1 ("out of memory"); printers: NULL.
        {"ldap_str2attributetype", 1, parse_ldap_str2attributetype},
        {"ldap_attributetype2str", kNull, print_ldap_attributetype2str},
        {"ldap_str2objectclass", 1, parse_ldap_str2objectclass},
        {"ldap_objectclass2str", kNull, print_ldap_objectclass2str},
        {"ldap_str2syntax", 1, parse_ldap_str2syntax},
        {"ldap_syntax2str", kNull, print_ldap_syntax2str},
        {"ldap_str2matchingrule", 1, parse_ldap_str2matchingrule},
        {"ldap_matchingrule2str", kNull, print_ldap_matchingrule2str},
        {"ldap_str2matchingruleuse", 1, parse_ldap_str2matchingruleuse},
        {"ldap_matchingruleuse2str", kNull, print_ldap_matchingruleuse2str},
        {"ldap_str2nameform", 1, parse_ldap_str2nameform},
        {"ldap_nameform2str", kNull, print_ldap_nameform2str},
        {"ldap_str2ditcontentrule", 1, parse_ldap_str2ditcontentrule},
        {"ldap_ditcontentrule2str", kNull, print_ldap_ditcontentrule2str},
        {"ldap_str2ditstructurerule", 1, parse_ldap_str2ditstructurerule},
        {"ldap_ditstructurerule2str", kNull, print_ldap_ditstructurerule2str},
    };
    return rows;
}

}  // namespace allocsweep
