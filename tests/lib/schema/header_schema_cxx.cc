// The schema header as C++ with <ldap_schema.h>: the shared names keep
// libldap's signatures and C linkage.
#include <dirext.h>
#include <ldap_schema.h>

#include <type_traits>

static_assert(std::is_same_v<decltype(&ldap_str2attributetype),
                             LDAPAttributeType *(*)(const char *, int *, const char **, unsigned)>);
static_assert(std::is_same_v<decltype(&ldap_scherr2str), char *(*)(int)>);
static_assert(std::is_same_v<decltype(&ldap_syntax2name), const char *(*)(LDAPSyntax *)>);
static_assert(std::is_same_v<decltype(&ldap_schema_delete), int (*)(LDAPSubschema *, int, const char *)>);
static_assert(LDAP_SCHEMA_DIT_STRUCTURE_RULE == 7 && LDAP_SCHEMA_MAGIC == 0xDEADBEEFU);

int main()
{
    LDAPDITStructureRule *sr = ldap_str2ditstructurerule("( 1 FORM f )", nullptr, nullptr, 0);
    bool ok = sr && sr->dsr_ruleid[0] == '1';
    ldap_ditstructurerule_free(sr);
    return ok ? 0 : 1;
}
