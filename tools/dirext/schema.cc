// dirext schema: shows and edits the server's schema.
//
//   schema get KEY [--kind KIND] [--json]   every element called KEY (a name or
//                                           an OID); without --kind in every
//                                           kind, each line saying its kind
//   schema list KIND [--json]               every element of the kind
//   schema add KIND 'DESCRIPTION'           a new element (RFC 4512 text)
//   schema modify KIND KEY FIELD=VALUE ...  FIELD=VALUE replaces the field;
//                                           repeated, it gives several values;
//                                           FIELD= removes it; a flag alone
//                                           (OBSOLETE, STRUCTURAL, ...) sets it
//   schema delete KIND KEY
//
// Each edit fetches the schema, applies the change and saves it at once.  A
// change the tool cannot make (unknown KEY, bad description or field) is
// refused before any modification is sent (exit 1); a refusal by the server
// is reported with its result code, and the server keeps its schema as it was.
#include <strings.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "schema_fields.h"
#include "schema_output.h"

namespace dirext_cli {
namespace {

struct SchemaFree {
    void operator()(LDAPSubschema *s) const { ldap_schema_free(s); }
};
using Schema = std::unique_ptr<LDAPSubschema, SchemaFree>;

using Operands = std::span<const std::string>;

// The tool's own refusal: exit status 1.
int refuse(const std::string &message)
{
    std::fprintf(stderr, "dirext: schema: %s\n", message.c_str());
    return 1;
}

std::string quoted(const std::string &s) { return "'" + s + "'"; }

// Connects only now, after every check that needs no server.
int fetch(Session &s, Schema &out)
{
    if (int rc = s.connect()) return rc;
    LDAPSubschema *schema = nullptr;
    int rc = ldap_schema_fetch(s.ld(), &schema, nullptr);
    if (rc != LDAP_SUCCESS) return report_failure(s.ld(), "schema: reading the schema", rc);
    out.reset(schema);
    return 0;
}

int save(Session &s, LDAPSubschema *schema)
{
    int rc = ldap_schema_save(s.ld(), schema, nullptr);
    return rc == LDAP_SUCCESS ? 0 : report_failure(s.ld(), "schema: saving the change", rc);
}

// Why the library refused an edit of KIND KEY (KEY empty for an add).
int refuse_edit(const SchemaKind &kind, const std::string &key, int rc)
{
    switch (rc) {
    case LDAP_NO_SUCH_OBJECT: return refuse("no " + std::string(kind.name) + " " + quoted(key));
    case LDAP_ALREADY_EXISTS:
        return refuse("another " + std::string(kind.name) + " already has that " + kind.key_field + " or NAME");
    case LDAP_PARAM_ERROR:
        return refuse("the " + std::string(kind.name) + " cannot be written with these fields and values");
    default: return refuse(std::string("the change cannot be made: ") + ldap_err2string(rc));
    }
}

const SchemaKind *kind_operand(const std::string &word)
{
    const SchemaKind *kind = find_schema_kind(word);
    if (!kind) refuse("unknown kind " + quoted(word) + " (kinds: " + schema_kind_names() + ")");
    return kind;
}

int get_element(Session &s, const Invocation &inv, Operands args)
{
    std::span<const SchemaKind> kinds = schema_kinds();
    if (inv.kind) {
        const SchemaKind *only = kind_operand(*inv.kind);
        if (!only) return 1;
        kinds = {only, 1};
    }
    Schema schema;
    if (int rc = fetch(s, schema)) return rc;
    int found = 0;
    for (const auto &kind : kinds) {
        LDAPSchemaElement *element = nullptr;
        if (ldap_schema_get_by_name(schema.get(), args[0].c_str(), kind.kind, &element) != LDAP_SUCCESS) continue;
        print_element(kind, element, inv.json);
        ++found;
    }
    if (found) return 0;
    return refuse("no " + std::string(inv.kind ? kinds[0].name : "schema element") + " " + quoted(args[0]));
}

int list_kind(Session &s, const Invocation &inv, Operands args)
{
    const SchemaKind *kind = kind_operand(args[0]);
    if (!kind) return 1;
    Schema schema;
    if (int rc = fetch(s, schema)) return rc;
    int count = ldap_schema_get_count(schema.get(), kind->kind);
    for (int i = 0; i < count; ++i) {
        LDAPSchemaElement *element = nullptr;
        if (ldap_schema_get_by_index(schema.get(), i, kind->kind, &element) == LDAP_SUCCESS)
            print_list_line(*kind, element, inv.json);
    }
    return 0;
}

int add_element(Session &s, const Invocation &, Operands args)
{
    const SchemaKind *kind = kind_operand(args[0]);
    if (!kind) return 1;
    std::vector<FieldChange> changes;
    if (auto error = changes_from_description(*kind, args[1], changes)) return refuse(*error);
    Schema schema;
    if (int rc = fetch(s, schema)) return rc;
    ModArray mods(changes);
    if (int rc = ldap_schema_add(schema.get(), kind->kind, mods.get())) return refuse_edit(*kind, "", rc);
    return save(s, schema.get());
}

// After a modify the library refused as a whole, the first change that it
// refuses alone (the model is thrown away afterwards, unsaved).
int refuse_modify(LDAPSubschema *schema, const SchemaKind &kind, const std::string &key,
                  std::vector<FieldChange> &changes, int rc)
{
    if (rc != LDAP_PARAM_ERROR) return refuse_edit(kind, key, rc);
    for (auto &change : changes) {
        std::vector<FieldChange> one{change};
        ModArray mod(one);
        if (ldap_schema_modify(schema, key.c_str(), kind.kind, mod.get()) != LDAP_PARAM_ERROR) continue;
        if (change.op == LDAP_MOD_DELETE) return refuse(change.field + ": cannot be removed");
        std::string values;
        for (const auto &v : change.values) values += (values.empty() ? "" : ", ") + quoted(v);
        return refuse(change.field + ": cannot take " + values);
    }
    return refuse_edit(kind, key, rc);
}

int modify_element(Session &s, const Invocation &, Operands args)
{
    const SchemaKind *kind = kind_operand(args[0]);
    if (!kind) return 1;
    const std::string &key = args[1];
    Schema schema;
    if (int rc = fetch(s, schema)) return rc;
    LDAPSchemaElement *element = nullptr;
    if (int rc = ldap_schema_get_by_name(schema.get(), key.c_str(), kind->kind, &element))
        return refuse_edit(*kind, key, rc);
    std::vector<FieldChange> changes;
    if (auto error = changes_from_operands(*kind, element, args.subspan(2), changes)) return refuse(*error);
    ModArray mods(changes);
    if (int rc = ldap_schema_modify(schema.get(), key.c_str(), kind->kind, mods.get()))
        return refuse_modify(schema.get(), *kind, key, changes, rc);
    return save(s, schema.get());
}

int delete_element(Session &s, const Invocation &, Operands args)
{
    const SchemaKind *kind = kind_operand(args[0]);
    if (!kind) return 1;
    Schema schema;
    if (int rc = fetch(s, schema)) return rc;
    if (int rc = ldap_schema_delete(schema.get(), kind->kind, args[1].c_str())) return refuse_edit(*kind, args[1], rc);
    return save(s, schema.get());
}

struct SchemaCommand {
    const char *name;
    int (*run)(Session &, const Invocation &, Operands);
    size_t min_args, max_args;  // after the command word
    bool prints;                // takes --json
    const char *synopsis;
};

constexpr size_t kAny = static_cast<size_t>(-1);

constexpr SchemaCommand kSchemaCommands[] = {
    {"get", get_element, 1, 1, true, "get KEY [--kind KIND] [--json]"},
    {"list", list_kind, 1, 1, true, "list KIND [--json]"},
    {"add", add_element, 2, 2, false, "add KIND 'DESCRIPTION'"},
    {"modify", modify_element, 3, kAny, false, "modify KIND KEY FIELD=VALUE ..."},
    {"delete", delete_element, 2, 2, false, "delete KIND KEY"},
};

int usage(const char *synopsis, const std::string &message)
{
    std::fprintf(stderr, "dirext: schema: %s\nUsage: dirext schema %s\n", message.c_str(), synopsis);
    return 1;
}

}  // namespace

int run_schema(Session &s, const Invocation &inv)
{
    const std::string &word = inv.operands[0];
    const SchemaCommand *command = nullptr;
    for (const auto &c : kSchemaCommands)
        if (strcasecmp(c.name, word.c_str()) == 0) command = &c;
    if (!command)
        return usage("get|list|add|modify|delete ...", "unknown schema command " + quoted(word));
    Operands args = Operands(inv.operands).subspan(1);
    if (args.size() < command->min_args || args.size() > command->max_args)
        return usage(command->synopsis, std::string(args.size() < command->min_args ? "too few" : "too many") +
                                            " operands for schema " + command->name);
    if (inv.kind && command->run != get_element) return usage(command->synopsis, "--kind goes with schema get");
    if (inv.json && !command->prints)
        return usage(command->synopsis, "--json goes with schema get and schema list");
    return command->run(s, inv, args);
}

}  // namespace dirext_cli
