#include "index_listing.h"

#include <optional>
#include <string>
#include <vector>

#include "stored_definition.h"

namespace quorindex {
namespace {

// The unreachable returns after each switch only satisfy the compiler: the
// read_* functions admit no other codes.
const char *label(StateCode code)
{
    switch (code) {
    case StateCode::online: return "Online";
    case StateCode::offline: return "Offline";
    case StateCode::pending: return "Pending";
    case StateCode::resuming: return "Pending";
    }
    return "";
}

const char *label(RuleCode code)
{
    switch (code) {
    case RuleCode::value: return "Value";
    case RuleCode::presence: return "Presence";
    case RuleCode::substring: return "Substring";
    }
    return "";
}

const char *label(TypeCode code)
{
    switch (code) {
    case TypeCode::user_defined: return "User defined";
    case TypeCode::added_on_attribute_creation: return "Added on attribute creation";
    case TypeCode::required_for_operation: return "required for operation";
    case TypeCode::syntax: return "Syntax index";
    }
    return "";
}

const char *label(StateValueCode code)
{
    switch (code) {
    case StateValueCode::uninitialized: return "Uninitialized";
    case StateValueCode::added_from_server: return "Added from server";
    case StateValueCode::added_from_local_dib: return "Added from local DIB";
    case StateValueCode::deleted_from_local_dib: return "Deleted from local DIB";
    case StateValueCode::modified_from_local_dib: return "Modified from local DIB";
    }
    return "";
}

std::string field_or_missing(const std::vector<std::string> &fields, size_t index)
{
    return index < fields.size() ? fields[index] : "(missing)";
}

// Text for a code field.  Values the server may hold but the tool does not
// know are shown, not hidden: "Unknown (<field>)".
template <typename Code>
std::string code_text(const std::vector<std::string> &fields, size_t index,
                      std::optional<Code> (*read)(const std::string &))
{
    if (index >= fields.size()) return "(missing)";
    auto code = read(fields[index]);
    return code ? label(*code) : "Unknown (" + fields[index] + ")";
}

void print_attributes(std::FILE *out, const std::vector<std::string> &fields)
{
    std::fputs("\tQuor Attribute:", out);
    for (size_t i = kFirstAttribute; i < fields.size(); ++i)
        std::fprintf(out, "%s %s", i == kFirstAttribute ? "" : ",", fields[i].c_str());
}

}  // namespace

void print_index(std::FILE *out, std::string_view value)
{
    auto fields = split_fields(value);
    std::fprintf(out, "\tIndex Version: %s\n", field_or_missing(fields, kVersion).c_str());
    std::fprintf(out, "\tIndex Name: %s\n", field_or_missing(fields, kName).c_str());
    std::fprintf(out, "\tIndex State: %s\n", code_text(fields, kState, read_state).c_str());
    std::fprintf(out, "\tIndex Rule: %s\n", code_text(fields, kRule, read_rule).c_str());
    std::fprintf(out, "\tIndex Type: %s\n", code_text(fields, kType, read_type).c_str());
    std::fprintf(out, "\tIndex State Value: %s\n", code_text(fields, kStateValue, read_state_value).c_str());
    print_attributes(out, fields);
    std::fputs("\n\n", out);
}

}  // namespace quorindex
