// The schema utility against OpenLDAP's slapd: a real subschema with hundreds
// of descriptions, every one of which the library's parsers must read as
// libldap's parsers do and print back as slapd printed it.
#include "libldap_peer.h"
#include "slapd.h"

#include <cstring>

namespace {

using namespace schematest;

const char *const kAttributes[] = {"attributeTypes",  "objectClasses",   "ldapSyntaxes",    "matchingRules",
                                   "matchingRuleUse", "nameForms",       "dITContentRules", "dITStructureRules"};

struct LdapUnbind {
    void operator()(LDAP *ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Ldap = std::unique_ptr<LDAP, LdapUnbind>;

class SchemaSlapd : public testsupport::SlapdTest {
protected:
    Ldap connect(bool as_root)
    {
        LDAP *ld = nullptr;
        EXPECT_EQ(ldap_initialize(&ld, slapd().url().c_str()), LDAP_SUCCESS);
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        if (as_root) {
            berval password{std::strlen(testsupport::Slapd::kRootPassword),
                            const_cast<char *>(testsupport::Slapd::kRootPassword)};
            EXPECT_EQ(ldap_sasl_bind_s(ld, testsupport::Slapd::kRootDn, LDAP_SASL_SIMPLE, &password, nullptr, nullptr,
                                       nullptr),
                      LDAP_SUCCESS);
        }
        return Ldap(ld);
    }
};

TEST_F(SchemaSlapd, FetchReadsEveryDescription)
{
    Ldap ld = connect(false);
    LDAPSubschema *schema = nullptr;
    ASSERT_EQ(ldap_schema_fetch(ld.get(), &schema, nullptr), LDAP_SUCCESS);
    for (int kind = 0; kind < 8; ++kind) {
        size_t published = slapd().values("cn=Subschema", kAttributes[kind]).size();
        EXPECT_EQ(ldap_schema_get_count(schema, kind), int(published)) << kAttributes[kind];
    }
    EXPECT_GT(ldap_schema_get_count(schema, LDAP_SCHEMA_ATTRIBUTE_TYPE), 200);
    EXPECT_GT(ldap_schema_get_count(schema, LDAP_SCHEMA_OBJECT_CLASS), 40);

    // Lookups over the real thing.
    LDAPSchemaElement *cn = nullptr, *by_oid = nullptr;
    ASSERT_EQ(ldap_schema_get_by_name(schema, "CommonName", LDAP_SCHEMA_ATTRIBUTE_TYPE, &cn), LDAP_SUCCESS);
    ASSERT_EQ(ldap_schema_get_by_name(schema, "2.5.4.3", LDAP_SCHEMA_ATTRIBUTE_TYPE, &by_oid), LDAP_SUCCESS);
    EXPECT_EQ(cn, by_oid);
    LDAPSchemaElement *index = nullptr;
    ASSERT_EQ(ldap_schema_get_by_name(schema, "indexDefinition", LDAP_SCHEMA_ATTRIBUTE_TYPE, &index), LDAP_SUCCESS);
    char **equality = nullptr;
    ASSERT_EQ(ldap_schema_get_field_values(index, "EQUALITY", &equality), LDAP_SUCCESS);
    EXPECT_EQ(strings(equality), std::vector<std::string>{"caseIgnoreMatch"});
    ldap_value_free(equality);
    EXPECT_EQ(ldap_schema_free(schema), LDAP_SUCCESS);
}

// Every value slapd publishes parses with the library's parsers, gives the
// record libldap's parsers give, and prints back as slapd printed it.
TEST_F(SchemaSlapd, EveryValueMatchesLibldap)
{
    int compared = 0;
    for (int kind = 0; kind < 8; ++kind) {
        for (const std::string &value : slapd().values("cn=Subschema", kAttributes[kind])) {
            for (unsigned flags : {0u, 15u}) {
                Record ours(kind, value, flags);
                ASSERT_TRUE(ours) << value << ": code " << ours.code() << " at " << ours.offset();
                EXPECT_EQ(ours.printed(), value);
                if (kind <= LDAP_SCHEMA_DIT_CONTENT_RULE) {
                    Theirs theirs(kind, value, flags);
                    ASSERT_TRUE(theirs) << value;
                    EXPECT_EQ(ours.rendered(), render_theirs(kind, theirs.get())) << value;
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 700);
}

// slapd's subschema is read-only over LDAP: the save reports its refusal and
// the queue is gone.
TEST_F(SchemaSlapd, SaveReportsTheRefusal)
{
    Ldap ld = connect(true);
    LDAPSubschema *schema = nullptr;
    ASSERT_EQ(ldap_schema_fetch(ld.get(), &schema, "cn=Subschema"), LDAP_SUCCESS);
    char desc[] = "changed", type[] = "DESC";
    char *values[] = {desc, nullptr};
    LDAPMod mod{LDAP_MOD_REPLACE, type, {values}};
    LDAPMod *mods[] = {&mod, nullptr};
    ASSERT_EQ(ldap_schema_modify(schema, "description", LDAP_SCHEMA_ATTRIBUTE_TYPE, mods), LDAP_SUCCESS);
    ASSERT_EQ(schema->change_count, 2);
    int rc = ldap_schema_save(ld.get(), schema, nullptr);
    RecordProperty("save_result", rc);
    EXPECT_TRUE(rc == LDAP_INVALID_SYNTAX || rc == LDAP_UNWILLING_TO_PERFORM) << rc;
    EXPECT_EQ(schema->change_count, 0);
    EXPECT_EQ(ldap_schema_save(ld.get(), schema, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(ldap_schema_free(schema), LDAP_SUCCESS);
}

}  // namespace
