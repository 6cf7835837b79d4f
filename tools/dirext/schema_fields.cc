#include "schema_fields.h"

#include <strings.h>

#include <algorithm>

#include "ldap_handles.h"

namespace dirext_cli {
namespace {

// How the modify operands may give a field.
enum class Shape {
    One,        // FIELD=VALUE, once
    Many,       // FIELD=VALUE, repeated for several values
    Flag,       // FIELD alone sets it
    UsageName,  // an attribute type's usage, alone: USAGE=<it>
};

struct FieldShape {
    const char *name;
    Shape shape;
};

// The fields the library edits, per kind (LDAP_SCHEMA_* order).  Any
// other name must be an extension's ("X-..."), which takes values as Many.
constexpr FieldShape kAttributeType[] = {
    {"OID", Shape::One},          {"NAME", Shape::Many},          {"DESC", Shape::One},
    {"SUP", Shape::One},          {"EQUALITY", Shape::One},       {"ORDERING", Shape::One},
    {"SUBSTR", Shape::One},       {"SYNTAX", Shape::One},         {"OBSOLETE", Shape::Flag},
    {"SINGLE-VALUE", Shape::Flag}, {"COLLECTIVE", Shape::Flag},   {"NO-USER-MODIFICATION", Shape::Flag},
    {"USAGE", Shape::One},        {"userApplications", Shape::UsageName},
    {"directoryOperation", Shape::UsageName}, {"distributedOperation", Shape::UsageName},
    {"dSAOperation", Shape::UsageName},
};
constexpr FieldShape kObjectClass[] = {
    {"OID", Shape::One},       {"NAME", Shape::Many},     {"DESC", Shape::One},      {"SUP", Shape::Many},
    {"MUST", Shape::Many},     {"MAY", Shape::Many},      {"OBSOLETE", Shape::Flag}, {"ABSTRACT", Shape::Flag},
    {"STRUCTURAL", Shape::Flag}, {"AUXILIARY", Shape::Flag},
};
constexpr FieldShape kSyntax[] = {{"OID", Shape::One}, {"NAME", Shape::Many}, {"DESC", Shape::One}};
constexpr FieldShape kMatchingRule[] = {
    {"OID", Shape::One}, {"NAME", Shape::Many}, {"DESC", Shape::One}, {"SYNTAX", Shape::One}, {"OBSOLETE", Shape::Flag},
};
constexpr FieldShape kMatchingRuleUse[] = {
    {"OID", Shape::One}, {"NAME", Shape::Many}, {"DESC", Shape::One}, {"APPLIES", Shape::Many}, {"OBSOLETE", Shape::Flag},
};
constexpr FieldShape kNameForm[] = {
    {"OID", Shape::One},   {"NAME", Shape::Many}, {"DESC", Shape::One},     {"OC", Shape::One},
    {"MUST", Shape::Many}, {"MAY", Shape::Many},  {"OBSOLETE", Shape::Flag},
};
constexpr FieldShape kContentRule[] = {
    {"OID", Shape::One},  {"NAME", Shape::Many}, {"DESC", Shape::One}, {"AUX", Shape::Many},
    {"MUST", Shape::Many}, {"MAY", Shape::Many}, {"NOT", Shape::Many}, {"OBSOLETE", Shape::Flag},
};
constexpr FieldShape kStructureRule[] = {
    {"RULEID", Shape::One}, {"NAME", Shape::Many}, {"DESC", Shape::One},
    {"FORM", Shape::One},   {"SUP", Shape::Many},  {"OBSOLETE", Shape::Flag},
};

constexpr std::span<const FieldShape> kShapes[LDAP_SCHEMA_KIND_COUNT] = {
    kAttributeType, kObjectClass, kSyntax, kMatchingRule, kMatchingRuleUse, kNameForm, kContentRule, kStructureRule,
};

bool same_name(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

const FieldShape *shape_of(const SchemaKind &kind, const std::string &field)
{
    static constexpr FieldShape kExtension{"", Shape::Many};
    for (const auto &f : kShapes[kind.kind])
        if (same_name(field, f.name)) return &f;
    return strncasecmp(field.c_str(), "X-", 2) == 0 ? &kExtension : nullptr;
}

std::string field_list(const SchemaKind &kind)
{
    std::string out;
    for (const auto &f : kShapes[kind.kind])
        if (f.shape != Shape::UsageName) out += std::string(f.name) + " ";
    return out + "X-...";
}

// One field as the operands give it: each occurrence's value, none for a
// bare name.
struct Operand {
    std::string field;
    std::vector<std::optional<std::string>> values;
};

std::vector<Operand> group_operands(std::span<const std::string> operands)
{
    std::vector<Operand> out;
    for (const auto &text : operands) {
        size_t eq = text.find('=');
        std::string field = text.substr(0, eq);
        std::optional<std::string> value;
        if (eq != std::string::npos) value = text.substr(eq + 1);
        auto same = std::find_if(out.begin(), out.end(), [&](const Operand &o) { return same_name(o.field, field.c_str()); });
        if (same == out.end()) same = out.insert(out.end(), {field, {}});
        same->values.push_back(std::move(value));
    }
    return out;
}

// The change one field's operands ask for, or why they cannot.
std::optional<std::string> change_of(const SchemaKind &kind, LDAPSchemaElement *element, const Operand &o,
                                     std::vector<FieldChange> &out)
{
    if (o.field.empty()) return std::string("'=...' names no field");
    const FieldShape *shape = shape_of(kind, o.field);
    if (!shape)
        return o.field + ": not a field of " + kind.name + " (its fields: " + field_list(kind) + ")";
    const std::string name = *shape->name ? shape->name : o.field;
    bool bare = std::all_of(o.values.begin(), o.values.end(), [](const auto &v) { return !v; });
    bool removal = o.values.size() == 1 && o.values[0] && o.values[0]->empty();
    if (bare && shape->shape == Shape::Flag) {
        out.push_back({LDAP_MOD_ADD, name, {}});
    } else if (bare && shape->shape == Shape::UsageName) {
        out.push_back({LDAP_MOD_REPLACE, "USAGE", {name}});
    } else if (shape->shape == Shape::UsageName) {
        return name + ": give it alone, or as USAGE=" + name;
    } else if (bare) {
        return name + ": give a value, as " + name + "=VALUE (" + name + "= removes the field)";
    } else if (removal) {
        // Deleting a list's values one by one is what empties it.
        out.push_back({LDAP_MOD_DELETE, name, shape->shape == Shape::Many ? field_values(element, name.c_str())
                                                                          : std::vector<std::string>{}});
    } else if (shape->shape == Shape::Flag) {
        return name + ": a flag: " + name + " alone sets it, " + name + "= clears it";
    } else {
        FieldChange change{LDAP_MOD_REPLACE, name, {}};
        for (const auto &v : o.values) {
            if (!v || v->empty()) return name + ": either values or '" + name + "=' alone to remove the field";
            change.values.push_back(*v);
        }
        if (shape->shape != Shape::Many && change.values.size() > 1) return name + ": takes one value";
        out.push_back(std::move(change));
    }
    return std::nullopt;
}

}  // namespace

ModArray::ModArray(std::vector<FieldChange> &changes)
{
    values_.reserve(changes.size());
    mods_.reserve(changes.size());
    for (auto &c : changes) {
        auto &values = values_.emplace_back();
        for (auto &v : c.values) values.push_back(v.data());
        values.push_back(nullptr);
        LDAPMod mod{};
        mod.mod_op = c.op;
        mod.mod_type = c.field.data();
        mod.mod_values = values.data();
        mods_.push_back(mod);
    }
    for (auto &m : mods_) pointers_.push_back(&m);
    pointers_.push_back(nullptr);
}

std::vector<std::string> field_values(LDAPSchemaElement *element, const char *field)
{
    char **raw = nullptr;
    std::vector<std::string> out;
    if (ldap_schema_get_field_values(element, field, &raw) != LDAP_SUCCESS) return out;
    toolkit::Values values(raw);
    for (char **v = raw; v && *v; ++v) out.emplace_back(*v);
    return out;
}

std::vector<std::pair<std::string, std::vector<std::string>>> element_fields(LDAPSchemaElement *element)
{
    char **raw = nullptr;
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    if (ldap_schema_get_field_names(element, &raw) != LDAP_SUCCESS) return out;
    toolkit::Values names(raw);
    for (char **n = raw; n && *n; ++n) out.emplace_back(*n, field_values(element, *n));
    return out;
}

std::optional<std::string> changes_from_description(const SchemaKind &kind, const std::string &text,
                                                    std::vector<FieldChange> &out)
{
    int code = 0;
    const char *error_at = nullptr;
    Description record = kind.parse_description(text, &code, &error_at);
    if (!record) {
        std::string message = std::string("the description does not parse: ") + ldap_scherr2str(code);
        if (error_at) message += *error_at ? " at '" + std::string(error_at) + "'" : " at its end";
        return message;
    }
    LDAPSchemaElement element{kind.kind, record.get()};
    for (auto &[name, values] : element_fields(&element)) {
        const FieldShape *shape = shape_of(kind, name);
        if (shape && shape->shape == Shape::UsageName) {
            out.push_back({LDAP_MOD_ADD, "USAGE", {name}});
        } else if (shape && shape->shape == Shape::Flag) {
            out.push_back({LDAP_MOD_ADD, name, {}});  // read as [""], set without values
        } else if (kind.kind == LDAP_SCHEMA_ATTRIBUTE_TYPE && name == "SYNTAX" && values.size() == 2) {
            // Read as OID and length, written as the OID with its {length}.
            std::string syntax = values[0] + (values[1] == "0" ? "" : "{" + values[1] + "}");
            out.push_back({LDAP_MOD_ADD, name, {syntax}});
        } else {
            out.push_back({LDAP_MOD_ADD, name, std::move(values)});
        }
    }
    return std::nullopt;
}

std::optional<std::string> changes_from_operands(const SchemaKind &kind, LDAPSchemaElement *element,
                                                 std::span<const std::string> operands,
                                                 std::vector<FieldChange> &out)
{
    for (const auto &o : group_operands(operands))
        if (auto error = change_of(kind, element, o, out)) return error;
    return std::nullopt;
}

}  // namespace dirext_cli
