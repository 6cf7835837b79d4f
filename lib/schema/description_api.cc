// The exported description functions.  libldap exports the first six kinds'
// functions under the same names; these definitions carry the library's own
// symbol version, and the library itself never calls them (it calls the hidden
// functions of descriptions.h), so neither an application nor libldap can
// interpose on the library's internal parsing and printing.
#include "schema/descriptions.h"

namespace schema = dirext::schema;

#define DIREXT_DESCRIPTION_FUNCTIONS(Kind, Type, str2, to_str, free_fn)                                 \
    extern "C" Type *str2(const char *s, int *code, const char **errp, const unsigned flags)              \
    {                                                                                                      \
        return static_cast<Type *>(schema::parse(Kind, s, code, errp, flags));                            \
    }                                                                                                      \
    extern "C" char *to_str(Type *record) { return schema::print(Kind, record); }                         \
    extern "C" void free_fn(Type *record) { schema::release(Kind, record); }

DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_ATTRIBUTE_TYPE, LDAPAttributeType, ldap_str2attributetype,
                             ldap_attributetype2str, ldap_attributetype_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_OBJECT_CLASS, LDAPObjectClass, ldap_str2objectclass, ldap_objectclass2str,
                             ldap_objectclass_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_SYNTAX, LDAPSyntax, ldap_str2syntax, ldap_syntax2str, ldap_syntax_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_MATCHING_RULE, LDAPMatchingRule, ldap_str2matchingrule,
                             ldap_matchingrule2str, ldap_matchingrule_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_MATCHING_RULE_USE, LDAPMatchingRuleUse, ldap_str2matchingruleuse,
                             ldap_matchingruleuse2str, ldap_matchingruleuse_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_NAME_FORM, LDAPNameForm, ldap_str2nameform, ldap_nameform2str,
                             ldap_nameform_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_DIT_CONTENT_RULE, LDAPDITContentRule, ldap_str2ditcontentrule,
                             ldap_ditcontentrule2str, ldap_ditcontentrule_free)
DIREXT_DESCRIPTION_FUNCTIONS(LDAP_SCHEMA_DIT_STRUCTURE_RULE, LDAPDITStructureRule, ldap_str2ditstructurerule,
                             ldap_ditstructurerule2str, ldap_ditstructurerule_free)

#undef DIREXT_DESCRIPTION_FUNCTIONS

namespace {
const char *first_name_or(char **names, const char *fallback)
{
    return names && names[0] ? names[0] : fallback;
}
}  // namespace

extern "C" const char *ldap_syntax2name(LDAPSyntax *syn) { return syn ? syn->syn_oid : nullptr; }

extern "C" const char *ldap_matchingrule2name(LDAPMatchingRule *mr)
{
    return mr ? first_name_or(mr->mr_names, mr->mr_oid) : nullptr;
}

extern "C" const char *ldap_attributetype2name(LDAPAttributeType *at)
{
    return at ? first_name_or(at->at_names, at->at_oid) : nullptr;
}

extern "C" const char *ldap_objectclass2name(LDAPObjectClass *oc)
{
    return oc ? first_name_or(oc->oc_names, oc->oc_oid) : nullptr;
}

extern "C" char *ldap_scherr2str(int code)
{
    // libldap's prototype returns char *; the text is constant all the same.
    return const_cast<char *>(schema::error_text(code));
}
