#include "schema_output.h"

#include <cstdio>

#include "json_line.h"
#include "ldap_handles.h"
#include "schema_fields.h"

namespace dirext_cli {
namespace {

std::string key_of(const SchemaKind &kind, LDAPSchemaElement *element)
{
    auto values = field_values(element, kind.key_field);
    return values.empty() ? std::string() : values[0];
}

std::string description_of(LDAPSchemaElement *element)
{
    char *text = nullptr;
    // Printing fails only without memory: the line then shows no description.
    if (ldap_schema_element_to_string(element, &text, nullptr) != LDAP_SUCCESS) return {};
    toolkit::LdapString owned(text);
    return text ? text : "";
}

void print_json(const SchemaKind &kind, LDAPSchemaElement *element)
{
    JsonLine fields;
    for (const auto &[name, values] : element_fields(element)) fields.field(name, values);
    std::string object = fields.str();
    object.pop_back();  // its line break
    JsonLine()
        .field("kind", kind.name)
        .field("key", key_of(kind, element))
        .field("names", field_values(element, "NAME"))
        .field("description", description_of(element))
        .field_raw("fields", object)
        .print();
}

}  // namespace

void print_element(const SchemaKind &kind, LDAPSchemaElement *element, bool json)
{
    if (json) return print_json(kind, element);
    std::printf("%s %s\n", kind.name, description_of(element).c_str());
    std::fflush(stdout);
}

void print_list_line(const SchemaKind &kind, LDAPSchemaElement *element, bool json)
{
    if (json) return print_json(kind, element);
    std::string line = key_of(kind, element);
    for (const auto &name : field_values(element, "NAME")) line += " " + name;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace dirext_cli
