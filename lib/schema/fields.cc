// The field tables of the element kinds, field names and values of schema
// elements, and an element's printed form.
#include "schema/subschema.h"  // reads <ldap.h> the library's way; first
#include "schema/fields.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace dirext::schema_util {

namespace {

#define F(type, member) offsetof(type, member)

const FieldDef kAttributeType[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPAttributeType, at_oid)},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPAttributeType, at_names), .token = false},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPAttributeType, at_desc), .token = false},
    {.name = "SUP", .cls = FieldClass::String, .offset = F(LDAPAttributeType, at_sup_oid)},
    {.name = "EQUALITY", .cls = FieldClass::String, .offset = F(LDAPAttributeType, at_equality_oid)},
    {.name = "ORDERING", .cls = FieldClass::String, .offset = F(LDAPAttributeType, at_ordering_oid)},
    {.name = "SUBSTR", .cls = FieldClass::String, .offset = F(LDAPAttributeType, at_substr_oid)},
    {.name = "SYNTAX", .cls = FieldClass::Syntax, .offset = F(LDAPAttributeType, at_syntax_oid), .braces = true},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPAttributeType, at_obsolete)},
    {.name = "SINGLE-VALUE", .cls = FieldClass::Flag, .offset = F(LDAPAttributeType, at_single_value)},
    {.name = "COLLECTIVE", .cls = FieldClass::Flag, .offset = F(LDAPAttributeType, at_collective)},
    {.name = "NO-USER-MODIFICATION", .cls = FieldClass::Flag, .offset = F(LDAPAttributeType, at_no_user_mod)},
    {.name = "userApplications", .cls = FieldClass::UsageName, .offset = F(LDAPAttributeType, at_usage),
     .value = LDAP_SCHEMA_USER_APPLICATIONS, .edit = false},
    {.name = "directoryOperation", .cls = FieldClass::UsageName, .offset = F(LDAPAttributeType, at_usage),
     .value = LDAP_SCHEMA_DIRECTORY_OPERATION, .edit = false},
    {.name = "distributedOperation", .cls = FieldClass::UsageName, .offset = F(LDAPAttributeType, at_usage),
     .value = LDAP_SCHEMA_DISTRIBUTED_OPERATION, .edit = false},
    {.name = "dSAOperation", .cls = FieldClass::UsageName, .offset = F(LDAPAttributeType, at_usage),
     .value = LDAP_SCHEMA_DSA_OPERATION, .edit = false},
    {.name = "USAGE", .cls = FieldClass::Usage, .offset = F(LDAPAttributeType, at_usage), .read = false},
};

const FieldDef kObjectClass[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPObjectClass, oc_oid)},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPObjectClass, oc_names), .token = false},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPObjectClass, oc_desc), .token = false},
    {.name = "SUP", .cls = FieldClass::List, .offset = F(LDAPObjectClass, oc_sup_oids)},
    {.name = "MUST", .cls = FieldClass::List, .offset = F(LDAPObjectClass, oc_at_oids_must)},
    {.name = "MAY", .cls = FieldClass::List, .offset = F(LDAPObjectClass, oc_at_oids_may)},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPObjectClass, oc_obsolete), .set_only_when_one = true},
    {.name = "ABSTRACT", .cls = FieldClass::ClassKind, .offset = F(LDAPObjectClass, oc_kind),
     .value = LDAP_SCHEMA_ABSTRACT},
    {.name = "STRUCTURAL", .cls = FieldClass::ClassKind, .offset = F(LDAPObjectClass, oc_kind),
     .value = LDAP_SCHEMA_STRUCTURAL},
    {.name = "AUXILIARY", .cls = FieldClass::ClassKind, .offset = F(LDAPObjectClass, oc_kind),
     .value = LDAP_SCHEMA_AUXILIARY},
};

const FieldDef kSyntax[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPSyntax, syn_oid)},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPSyntax, syn_names), .token = false},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPSyntax, syn_desc), .token = false},
};

const FieldDef kMatchingRule[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPMatchingRule, mr_oid)},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPMatchingRule, mr_names), .token = false},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPMatchingRule, mr_desc), .token = false},
    {.name = "SYNTAX", .cls = FieldClass::String, .offset = F(LDAPMatchingRule, mr_syntax_oid)},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPMatchingRule, mr_obsolete)},
};

const FieldDef kMatchingRuleUse[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPMatchingRuleUse, mru_oid)},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPMatchingRuleUse, mru_desc), .token = false},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPMatchingRuleUse, mru_names), .token = false},
    {.name = "APPLIES", .cls = FieldClass::List, .offset = F(LDAPMatchingRuleUse, mru_applies_oids)},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPMatchingRuleUse, mru_obsolete)},
};

const FieldDef kNameForm[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPNameForm, nf_oid)},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPNameForm, nf_desc), .token = false},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPNameForm, nf_names), .token = false},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPNameForm, nf_obsolete)},
    {.name = "OC", .cls = FieldClass::String, .offset = F(LDAPNameForm, nf_objectclass)},
    {.name = "MAY", .cls = FieldClass::List, .offset = F(LDAPNameForm, nf_at_oids_may)},
    {.name = "MUST", .cls = FieldClass::List, .offset = F(LDAPNameForm, nf_at_oids_must)},
};

const FieldDef kContentRule[] = {
    {.name = "OID", .cls = FieldClass::String, .offset = F(LDAPDITContentRule, dcr_oid)},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPDITContentRule, dcr_desc), .token = false},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPDITContentRule, dcr_names), .token = false},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPDITContentRule, dcr_obsolete)},
    {.name = "AUX", .cls = FieldClass::List, .offset = F(LDAPDITContentRule, dcr_aux_oids)},
    {.name = "MUST", .cls = FieldClass::List, .offset = F(LDAPDITContentRule, dcr_at_oids_must)},
    {.name = "MAY", .cls = FieldClass::List, .offset = F(LDAPDITContentRule, dcr_at_oids_may)},
    {.name = "NOT", .cls = FieldClass::List, .offset = F(LDAPDITContentRule, dcr_at_oids_not)},
};

const FieldDef kStructureRule[] = {
    {.name = "RULEID", .cls = FieldClass::String, .offset = F(LDAPDITStructureRule, dsr_ruleid), .digits = true},
    {.name = "DESC", .cls = FieldClass::String, .offset = F(LDAPDITStructureRule, dsr_desc), .token = false},
    {.name = "NAME", .cls = FieldClass::List, .offset = F(LDAPDITStructureRule, dsr_names), .token = false},
    {.name = "OBSOLETE", .cls = FieldClass::Flag, .offset = F(LDAPDITStructureRule, dsr_obsolete)},
    {.name = "FORM", .cls = FieldClass::String, .offset = F(LDAPDITStructureRule, dsr_nameform)},
    {.name = "SUP", .cls = FieldClass::List, .offset = F(LDAPDITStructureRule, dsr_sup_ruleids), .digits = true},
};

#undef F

const FieldTable kTables[LDAP_SCHEMA_KIND_COUNT] = {
    {kAttributeType, std::size(kAttributeType)}, {kObjectClass, std::size(kObjectClass)},
    {kSyntax, std::size(kSyntax)},               {kMatchingRule, std::size(kMatchingRule)},
    {kMatchingRuleUse, std::size(kMatchingRuleUse)}, {kNameForm, std::size(kNameForm)},
    {kContentRule, std::size(kContentRule)},     {kStructureRule, std::size(kStructureRule)},
};

// Whether ldap_schema_get_field_names lists the field.
bool present(const FieldDef &f, const void *record)
{
    void *r = const_cast<void *>(record);
    switch (f.cls) {
    case FieldClass::String:
    case FieldClass::Syntax:
        return field_ref<char *>(r, f.offset) != nullptr;
    case FieldClass::List:
        return field_ref<char **>(r, f.offset) != nullptr;
    case FieldClass::Flag:
        return field_ref<int>(r, f.offset) == 1;
    case FieldClass::UsageName:
    case FieldClass::ClassKind:
        return field_ref<int>(r, f.offset) == f.value;
    case FieldClass::Usage:
        return false;
    }
    return false;
}

// [""]: a set flag or the enumeration's value.
int flag_value(char ***out) { return one_value_list(out, ""); }

}  // namespace

FieldTable fields_of(int kind) { return kTables[kind]; }

const FieldDef *find_field(int kind, const char *name, bool edit)
{
    const FieldTable t = kTables[kind];
    for (size_t i = 0; i < t.count; ++i) {
        const FieldDef &f = t.fields[i];
        if ((edit ? f.edit : f.read) && compare_ignoring_case(f.name, name) == 0) return &f;
    }
    return nullptr;
}

char **copy_string_list(char **list)
{
    if (!list) return nullptr;
    size_t n = 0;
    while (list[n]) ++n;
    BerStringListPtr copy(static_cast<char **>(mem_calloc(n + 1, sizeof(char *))));
    if (!copy) return nullptr;
    for (size_t i = 0; i < n; ++i)
        if (!(copy.get()[i] = mem_strdup(list[i]))) return nullptr;
    return copy.release();
}

int one_value_list(char ***out, const char *value)
{
    *out = nullptr;
    if (!value) return LDAP_NO_SUCH_ATTRIBUTE;
    BerStringListPtr list(static_cast<char **>(mem_calloc(2, sizeof(char *))));
    if (!list || !(list.get()[0] = mem_strdup(value))) return LDAP_NO_MEMORY;
    *out = list.release();
    return LDAP_SUCCESS;
}

int copy_value_list(char ***out, char **list)
{
    *out = nullptr;
    if (!list) return LDAP_NO_SUCH_ATTRIBUTE;
    *out = copy_string_list(list);
    return *out ? LDAP_SUCCESS : LDAP_NO_MEMORY;
}

}  // namespace dirext::schema_util

using namespace dirext::schema_util;
namespace schema = dirext::schema;

extern "C" int ldap_schema_get_field_names(LDAPSchemaElement *schemaElement, char ***names)
{
    if (!names) return LDAP_PARAM_ERROR;
    *names = nullptr;
    if (!schemaElement || !schema::valid_kind(schemaElement->kind) || !schemaElement->description)
        return LDAP_PARAM_ERROR;
    const int kind = schemaElement->kind;
    void *record = schemaElement->description;
    const char *fixed[16];
    size_t n = 0;
    const FieldTable t = fields_of(kind);
    for (size_t i = 0; i < t.count; ++i)
        if (t.fields[i].read && present(t.fields[i], record)) fixed[n++] = t.fields[i].name;
    size_t extensions = 0;
    LDAPSchemaExtensionItem **ext = schema::extensions_of(record, kind);
    while (ext && ext[extensions]) ++extensions;
    dirext::BerStringListPtr list(static_cast<char **>(mem_calloc(n + extensions + 1, sizeof(char *))));
    if (!list) return LDAP_NO_MEMORY;
    for (size_t i = 0; i < n + extensions; ++i)
        if (!(list.get()[i] = mem_strdup(i < n ? fixed[i] : ext[i - n]->lsei_name))) return LDAP_NO_MEMORY;
    *names = list.release();
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_get_field_values(LDAPSchemaElement *schemaElement, const char *field, char ***values)
{
    if (!values) return LDAP_PARAM_ERROR;
    *values = nullptr;
    if (!schemaElement || !field || !schema::valid_kind(schemaElement->kind) || !schemaElement->description)
        return LDAP_PARAM_ERROR;
    const int kind = schemaElement->kind;
    void *record = schemaElement->description;
    if (const FieldDef *f = find_field(kind, field, false)) {
        switch (f->cls) {
        case FieldClass::String:
            return one_value_list(values, field_ref<char *>(record, f->offset));
        case FieldClass::List:
            return copy_value_list(values, field_ref<char **>(record, f->offset));
        case FieldClass::Flag: {
            int flag = field_ref<int>(record, f->offset);
            if (f->set_only_when_one ? flag != 1 : flag == 0) return LDAP_NO_SUCH_ATTRIBUTE;
            return flag_value(values);
        }
        case FieldClass::UsageName:
        case FieldClass::ClassKind:
            if (field_ref<int>(record, f->offset) != f->value) return LDAP_NO_SUCH_ATTRIBUTE;
            return flag_value(values);
        case FieldClass::Syntax: {
            auto *at = static_cast<LDAPAttributeType *>(record);
            if (!at->at_syntax_oid) return LDAP_NO_SUCH_ATTRIBUTE;
            char length[16];
            std::snprintf(length, sizeof length, "%d", at->at_syntax_len);
            char *pair[] = {at->at_syntax_oid, length, nullptr};
            return copy_value_list(values, pair);
        }
        case FieldClass::Usage:
            break;
        }
        return LDAP_NO_SUCH_ATTRIBUTE;
    }
    // Any other name is an extension's.
    for (LDAPSchemaExtensionItem **e = schema::extensions_of(record, kind); e && *e; ++e)
        if ((*e)->lsei_name && compare_ignoring_case((*e)->lsei_name, field) == 0)
            return copy_value_list(values, (*e)->lsei_values);
    return LDAP_NO_SUCH_ATTRIBUTE;
}

extern "C" int ldap_schema_element_to_string(LDAPSchemaElement *schemaElement, char **text, const char **attribute)
{
    if (!text) return LDAP_PARAM_ERROR;
    *text = nullptr;
    if (!schemaElement || !schema::valid_kind(schemaElement->kind) || !schemaElement->description)
        return LDAP_PARAM_ERROR;
    *text = schema::print(schemaElement->kind, schemaElement->description);
    if (!*text) return LDAP_LOCAL_ERROR;
    if (attribute) *attribute = schema::attribute_name(schemaElement->kind);
    return LDAP_SUCCESS;
}
