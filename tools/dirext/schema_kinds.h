// The schema element kinds as the schema command names them, with the
// description parser of each.
//
// KIND operands, matched without regard to case:
//   attributeType    attributeTypes, at
//   objectClass      objectClasses, oc
//   ldapSyntax       ldapSyntaxes, syntax
//   matchingRule     matchingRules, mr
//   matchingRuleUse  mru
//   nameForm         nameForms, nf
//   dITContentRule   dITContentRules, dcr
//   dITStructureRule dITStructureRules, dsr
// The first name is the one the command prints.
#pragma once

#include <dirext/schema.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace dirext_cli {

struct SchemaKind;

// A parsed description record, released by its kind's free function.
struct DescriptionFree {
    const SchemaKind *kind;
    void operator()(void *record) const;
};
using Description = std::unique_ptr<void, DescriptionFree>;

struct SchemaKind {
    int kind;              // LDAP_SCHEMA_*
    const char *name;      // printed
    const char *aliases;   // also accepted, separated by blanks
    const char *key_field; // "OID", or "RULEID" for structure rules
    void *(*parse)(const char *text, int *code, const char **error_at);
    void (*release)(void *record);

    // The record the text describes, or null with *code and *error_at set.
    Description parse_description(const std::string &text, int *code, const char **error_at) const
    {
        return Description(parse(text.c_str(), code, error_at), DescriptionFree{this});
    }
};

std::span<const SchemaKind> schema_kinds();
const SchemaKind *find_schema_kind(std::string_view name);
// "attributeType, objectClass, ...": for messages.
std::string schema_kind_names();

}  // namespace dirext_cli
