// A program that defines its own functions under the names the library shares
// with libldap (as a program built against libldap alone may) does not change
// what the library does inside: the library never calls those names itself.
// The program's definitions are exported (-rdynamic), so a call the library
// made through its own exported names would land here and be counted.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <dirsim/server.h>

#include "schema_test_util.h"
#include "sim_fixture.h"

namespace {
int g_calls = 0;
}

#define INTERPOSE_DESCRIPTION(Type, str2, to_str, free_fn)                                   \
    extern "C" Type *str2(const char *, int *code, const char **, const unsigned)            \
    {                                                                                        \
        ++g_calls;                                                                           \
        if (code) *code = 2;                                                                 \
        return nullptr;                                                                      \
    }                                                                                        \
    extern "C" char *to_str(Type *)                                                          \
    {                                                                                        \
        ++g_calls;                                                                           \
        return nullptr;                                                                      \
    }                                                                                        \
    extern "C" void free_fn(Type *) { ++g_calls; }

INTERPOSE_DESCRIPTION(LDAPAttributeType, ldap_str2attributetype, ldap_attributetype2str, ldap_attributetype_free)
INTERPOSE_DESCRIPTION(LDAPObjectClass, ldap_str2objectclass, ldap_objectclass2str, ldap_objectclass_free)
INTERPOSE_DESCRIPTION(LDAPSyntax, ldap_str2syntax, ldap_syntax2str, ldap_syntax_free)
INTERPOSE_DESCRIPTION(LDAPMatchingRule, ldap_str2matchingrule, ldap_matchingrule2str, ldap_matchingrule_free)
INTERPOSE_DESCRIPTION(LDAPMatchingRuleUse, ldap_str2matchingruleuse, ldap_matchingruleuse2str,
                      ldap_matchingruleuse_free)
INTERPOSE_DESCRIPTION(LDAPNameForm, ldap_str2nameform, ldap_nameform2str, ldap_nameform_free)
INTERPOSE_DESCRIPTION(LDAPDITContentRule, ldap_str2ditcontentrule, ldap_ditcontentrule2str, ldap_ditcontentrule_free)
INTERPOSE_DESCRIPTION(LDAPDITStructureRule, ldap_str2ditstructurerule, ldap_ditstructurerule2str,
                      ldap_ditstructurerule_free)

namespace {

TEST(Interposition, TheProgramsDefinitionsAreLiveButTheLibraryDoesNotUseThem)
{
    // The program's own definitions are what the dynamic linker resolves...
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "ldap_str2objectclass"), reinterpret_cast<void *>(&ldap_str2objectclass));
    int code = 0;
    const char *errp = nullptr;
    EXPECT_EQ(ldap_str2objectclass("( 2.5.6.0 )", &code, &errp, 0), nullptr);
    EXPECT_EQ(g_calls, 1);
    g_calls = 0;

    // ...and the library parses, prints, copies and frees all the same.
    auto server = testsupport::start_sim({.ldif_text = testsupport::kLabEntry});
    ASSERT_TRUE(server);
    testsupport::Ldap ld = testsupport::open_session(server->url());
    ASSERT_TRUE(ld);
    LDAP *raw = ld.get();

    LDAPSubschema *schema = nullptr;
    ASSERT_EQ(ldap_schema_fetch(raw, &schema, nullptr), LDAP_SUCCESS);
    for (int kind = 0; kind < 8; ++kind) EXPECT_GT(ldap_schema_get_count(schema, kind), 0) << kind;

    LDAPSchemaElement *person = nullptr;
    ASSERT_EQ(ldap_schema_get_by_name(schema, "person", LDAP_SCHEMA_OBJECT_CLASS, &person), LDAP_SUCCESS);
    char *text = nullptr;
    ASSERT_EQ(ldap_schema_element_to_string(person, &text, nullptr), LDAP_SUCCESS);
    EXPECT_STREQ(text, "( 2.5.6.6 NAME 'person' DESC 'RFC2256: a person' SUP top STRUCTURAL MUST ( sn $ cn ) "
                       "MAY ( userPassword $ description ) )");
    ldap_memfree(text);

    char desc[] = "a human", type[] = "DESC";
    char *values[] = {desc, nullptr};
    LDAPMod mod{LDAP_MOD_REPLACE, type, {values}};
    LDAPMod *mods[] = {&mod, nullptr};
    EXPECT_EQ(ldap_schema_modify(schema, "person", LDAP_SCHEMA_OBJECT_CLASS, mods), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_delete(schema, LDAP_SCHEMA_DIT_STRUCTURE_RULE, "3"), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_save(raw, schema, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_free(schema), LDAP_SUCCESS);
    EXPECT_EQ(g_calls, 0);
}

}  // namespace
