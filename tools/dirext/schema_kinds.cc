#include "schema_kinds.h"

#include <strings.h>

#include <sstream>

namespace dirext_cli {
namespace {

// Descriptions are parsed strictly: what the tool sends is what the user
// wrote, with a numeric OID.
template <class Record, Record *(*Parse)(const char *, int *, const char **, unsigned)>
void *parse_as(const char *text, int *code, const char **error_at)
{
    return Parse(text, code, error_at, LDAP_SCHEMA_ALLOW_NONE);
}

template <class Record, void (*Free)(Record *)>
void release_as(void *record)
{
    Free(static_cast<Record *>(record));
}

#define KIND(constant, name, aliases, key, Record, parser, freer)                                             \
    {constant, name, aliases, key, parse_as<Record, parser>, release_as<Record, freer>}

constexpr SchemaKind kKinds[] = {
    KIND(LDAP_SCHEMA_ATTRIBUTE_TYPE, "attributeType", "attributeTypes at", "OID", LDAPAttributeType,
         ldap_str2attributetype, ldap_attributetype_free),
    KIND(LDAP_SCHEMA_OBJECT_CLASS, "objectClass", "objectClasses oc", "OID", LDAPObjectClass, ldap_str2objectclass,
         ldap_objectclass_free),
    KIND(LDAP_SCHEMA_SYNTAX, "ldapSyntax", "ldapSyntaxes syntax", "OID", LDAPSyntax, ldap_str2syntax,
         ldap_syntax_free),
    KIND(LDAP_SCHEMA_MATCHING_RULE, "matchingRule", "matchingRules mr", "OID", LDAPMatchingRule,
         ldap_str2matchingrule, ldap_matchingrule_free),
    KIND(LDAP_SCHEMA_MATCHING_RULE_USE, "matchingRuleUse", "mru", "OID", LDAPMatchingRuleUse,
         ldap_str2matchingruleuse, ldap_matchingruleuse_free),
    KIND(LDAP_SCHEMA_NAME_FORM, "nameForm", "nameForms nf", "OID", LDAPNameForm, ldap_str2nameform,
         ldap_nameform_free),
    KIND(LDAP_SCHEMA_DIT_CONTENT_RULE, "dITContentRule", "dITContentRules dcr", "OID", LDAPDITContentRule,
         ldap_str2ditcontentrule, ldap_ditcontentrule_free),
    KIND(LDAP_SCHEMA_DIT_STRUCTURE_RULE, "dITStructureRule", "dITStructureRules dsr", "RULEID",
         LDAPDITStructureRule, ldap_str2ditstructurerule, ldap_ditstructurerule_free),
};

#undef KIND

bool same_word(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool names(const SchemaKind &k, std::string_view word)
{
    if (same_word(k.name, word)) return true;
    std::istringstream aliases(k.aliases);
    for (std::string alias; aliases >> alias;)
        if (same_word(alias, word)) return true;
    return false;
}

}  // namespace

void DescriptionFree::operator()(void *record) const { kind->release(record); }

std::span<const SchemaKind> schema_kinds() { return kKinds; }

const SchemaKind *find_schema_kind(std::string_view name)
{
    for (const auto &k : kKinds)
        if (names(k, name)) return &k;
    return nullptr;
}

std::string schema_kind_names()
{
    std::string out;
    for (const auto &k : kKinds) out += (out.empty() ? "" : ", ") + std::string(k.name);
    return out;
}

}  // namespace dirext_cli
