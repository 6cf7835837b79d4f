// Field changes of schema elements, in the form ldap_schema_add and
// ldap_schema_modify take them: from a description (schema add) and from
// FIELD=VALUE operands (schema modify).
#pragma once

#include <ldap.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "schema_kinds.h"

namespace dirext_cli {

struct FieldChange {
    int op;  // LDAP_MOD_ADD, LDAP_MOD_DELETE or LDAP_MOD_REPLACE
    std::string field;
    std::vector<std::string> values;
};

// A null-terminated LDAPMod array that points into the changes given, which
// must outlive it unchanged.
class ModArray {
public:
    explicit ModArray(std::vector<FieldChange> &changes);
    LDAPMod **get() { return pointers_.data(); }

private:
    std::vector<std::vector<char *>> values_;
    std::vector<LDAPMod> mods_;
    std::vector<LDAPMod *> pointers_;
};

// The fields of the element that the description describes, as additions;
// or the message of why the description does not parse.
std::optional<std::string> changes_from_description(const SchemaKind &kind, const std::string &text,
                                                    std::vector<FieldChange> &out);

// The changes that the operands ask of element (FIELD=VALUE replaces the
// field's values, a repeated FIELD gives several, FIELD= removes the field,
// a bare flag name sets the flag); or the message of what is wrong with them.
std::optional<std::string> changes_from_operands(const SchemaKind &kind, LDAPSchemaElement *element,
                                                 std::span<const std::string> operands,
                                                 std::vector<FieldChange> &out);

// The element's fields and their values, as ldap_schema_get_field_names
// lists them; empty when they cannot be read.
std::vector<std::pair<std::string, std::vector<std::string>>> element_fields(LDAPSchemaElement *element);
std::vector<std::string> field_values(LDAPSchemaElement *element, const char *field);

}  // namespace dirext_cli
