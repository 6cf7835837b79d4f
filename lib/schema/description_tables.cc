// The clause tables of the eight kinds of schema description (RFC 4512
// section 4.1), and what the rest of the library reads through them.
#include "schema/description_parts.h"

#include <cstddef>
#include <iterator>

namespace dirext::schema {

namespace detail {
namespace {

template <size_t N>
constexpr Clause clause(const char (&keyword)[N], Field field, uint8_t slot, size_t offset, size_t extra = 0,
                        int value = 0, bool quotable = false)
{
    return {keyword, uint8_t(N - 1), field, slot, uint16_t(offset), uint16_t(extra), int8_t(value), quotable};
}

// Every record starts with its key and its names, which the model relies on.
static_assert(offsetof(LDAPAttributeType, at_names) == sizeof(char *));
static_assert(offsetof(LDAPObjectClass, oc_names) == sizeof(char *));
static_assert(offsetof(LDAPSyntax, syn_names) == sizeof(char *));
static_assert(offsetof(LDAPMatchingRule, mr_names) == sizeof(char *));
static_assert(offsetof(LDAPMatchingRuleUse, mru_names) == sizeof(char *));
static_assert(offsetof(LDAPNameForm, nf_names) == sizeof(char *));
static_assert(offsetof(LDAPDITContentRule, dcr_names) == sizeof(char *));
static_assert(offsetof(LDAPDITStructureRule, dsr_names) == sizeof(char *));

// The clauses of each kind, in the order the printer writes them.
#define AT(m) offsetof(LDAPAttributeType, m)
const Clause kAttributeType[] = {
    clause("NAME", Field::Names, 0, AT(at_names)),
    clause("DESC", Field::Desc, 1, AT(at_desc)),
    clause("OBSOLETE", Field::Flag, 2, AT(at_obsolete)),
    clause("SUP", Field::Woid, 3, AT(at_sup_oid)),
    clause("EQUALITY", Field::Woid, 4, AT(at_equality_oid)),
    clause("ORDERING", Field::Woid, 5, AT(at_ordering_oid)),
    clause("SUBSTR", Field::Woid, 6, AT(at_substr_oid)),
    clause("SYNTAX", Field::NoidLen, 7, AT(at_syntax_oid), AT(at_syntax_len)),
    clause("SINGLE-VALUE", Field::Flag, 8, AT(at_single_value)),
    clause("COLLECTIVE", Field::Flag, 9, AT(at_collective)),
    clause("NO-USER-MODIFICATION", Field::Flag, 10, AT(at_no_user_mod)),
    clause("USAGE", Field::Usage, 11, AT(at_usage)),
};
#undef AT
#define OC(m) offsetof(LDAPObjectClass, m)
const Clause kObjectClass[] = {
    clause("NAME", Field::Names, 0, OC(oc_names)),
    clause("DESC", Field::Desc, 1, OC(oc_desc)),
    clause("OBSOLETE", Field::Flag, 2, OC(oc_obsolete)),
    clause("SUP", Field::Oids, 3, OC(oc_sup_oids), 0, 0, true),
    clause("ABSTRACT", Field::ClassKind, 4, OC(oc_kind), 0, LDAP_SCHEMA_ABSTRACT),
    clause("STRUCTURAL", Field::ClassKind, 4, OC(oc_kind), 0, LDAP_SCHEMA_STRUCTURAL),
    clause("AUXILIARY", Field::ClassKind, 4, OC(oc_kind), 0, LDAP_SCHEMA_AUXILIARY),
    clause("KIND-UNKNOWN", Field::ClassKind, 4, OC(oc_kind), 0, -1),
    clause("MUST", Field::Oids, 5, OC(oc_at_oids_must)),
    clause("MAY", Field::Oids, 6, OC(oc_at_oids_may)),
};
#undef OC
const Clause kSyntax[] = {
    clause("NAME", Field::Names, 0, offsetof(LDAPSyntax, syn_names)),
    clause("DESC", Field::Desc, 1, offsetof(LDAPSyntax, syn_desc)),
};
#define MR(m) offsetof(LDAPMatchingRule, m)
const Clause kMatchingRule[] = {
    clause("NAME", Field::Names, 0, MR(mr_names)),
    clause("DESC", Field::Desc, 1, MR(mr_desc)),
    clause("OBSOLETE", Field::Flag, 2, MR(mr_obsolete)),
    clause("SYNTAX", Field::NumericOid, 3, MR(mr_syntax_oid)),
};
#undef MR
#define MRU(m) offsetof(LDAPMatchingRuleUse, m)
const Clause kMatchingRuleUse[] = {
    clause("NAME", Field::Names, 0, MRU(mru_names)),
    clause("DESC", Field::Desc, 1, MRU(mru_desc)),
    clause("OBSOLETE", Field::Flag, 2, MRU(mru_obsolete)),
    clause("APPLIES", Field::Oids, 3, MRU(mru_applies_oids), 0, 0, true),
};
#undef MRU
#define NF(m) offsetof(LDAPNameForm, m)
const Clause kNameForm[] = {
    clause("NAME", Field::Names, 0, NF(nf_names)),
    clause("DESC", Field::Desc, 1, NF(nf_desc)),
    clause("OBSOLETE", Field::Flag, 2, NF(nf_obsolete)),
    clause("OC", Field::Woid, 3, NF(nf_objectclass)),
    clause("MUST", Field::Oids, 4, NF(nf_at_oids_must)),
    clause("MAY", Field::Oids, 5, NF(nf_at_oids_may)),
};
#undef NF
#define CR(m) offsetof(LDAPDITContentRule, m)
const Clause kContentRule[] = {
    clause("NAME", Field::Names, 0, CR(dcr_names)),
    clause("DESC", Field::Desc, 1, CR(dcr_desc)),
    clause("OBSOLETE", Field::Flag, 2, CR(dcr_obsolete)),
    clause("AUX", Field::Oids, 3, CR(dcr_aux_oids)),
    clause("MUST", Field::Oids, 4, CR(dcr_at_oids_must)),
    clause("MAY", Field::Oids, 5, CR(dcr_at_oids_may)),
    clause("NOT", Field::Oids, 6, CR(dcr_at_oids_not)),
};
#undef CR
#define SR(m) offsetof(LDAPDITStructureRule, m)
const Clause kStructureRule[] = {
    clause("NAME", Field::Names, 0, SR(dsr_names)),
    clause("DESC", Field::Desc, 1, SR(dsr_desc)),
    clause("OBSOLETE", Field::Flag, 2, SR(dsr_obsolete)),
    clause("FORM", Field::Woid, 3, SR(dsr_nameform)),
    clause("SUP", Field::RuleIds, 4, SR(dsr_sup_ruleids)),
};
#undef SR

template <size_t N>
constexpr Kind make_kind(const char *attribute, size_t size, const Clause (&clauses)[N], size_t extensions,
                    bool rule_id = false)
{
    return {attribute, size, clauses, N, extensions, rule_id, -1};
}

}  // namespace

const Kind kKinds[LDAP_SCHEMA_KIND_COUNT] = {
    make_kind("attributeTypes", sizeof(LDAPAttributeType), kAttributeType, offsetof(LDAPAttributeType, at_extensions)),
    {"objectClasses", sizeof(LDAPObjectClass), kObjectClass, std::size(kObjectClass),
     offsetof(LDAPObjectClass, oc_extensions), false, LDAP_SCHEMA_STRUCTURAL},
    make_kind("ldapSyntaxes", sizeof(LDAPSyntax), kSyntax, offsetof(LDAPSyntax, syn_extensions)),
    make_kind("matchingRules", sizeof(LDAPMatchingRule), kMatchingRule, offsetof(LDAPMatchingRule, mr_extensions)),
    make_kind("matchingRuleUse", sizeof(LDAPMatchingRuleUse), kMatchingRuleUse,
         offsetof(LDAPMatchingRuleUse, mru_extensions)),
    make_kind("nameForms", sizeof(LDAPNameForm), kNameForm, offsetof(LDAPNameForm, nf_extensions)),
    make_kind("dITContentRules", sizeof(LDAPDITContentRule), kContentRule, offsetof(LDAPDITContentRule, dcr_extensions)),
    make_kind("dITStructureRules", sizeof(LDAPDITStructureRule), kStructureRule,
         offsetof(LDAPDITStructureRule, dsr_extensions), true),
};

const char *const kUsages[4] = {"userApplications", "directoryOperation", "distributedOperation", "dSAOperation"};

}  // namespace detail

using detail::kKinds;
using detail::member;

char **&names_of(void *record) { return *reinterpret_cast<char ***>(static_cast<char *>(record) + sizeof(char *)); }
char *const *names_of(const void *record)
{
    return *reinterpret_cast<char **const *>(static_cast<const char *>(record) + sizeof(char *));
}

const char *attribute_name(int kind) { return kKinds[kind].attribute; }

LDAPSchemaExtensionItem **&extensions_of(void *record, int kind)
{
    return member<LDAPSchemaExtensionItem **>(record, kKinds[kind].extensions);
}

void *create(int kind) { return mem_calloc(1, kKinds[kind].size); }

}  // namespace dirext::schema
