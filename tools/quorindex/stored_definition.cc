#include "stored_definition.h"

#include <cstdlib>

namespace quorindex {
namespace {

// New values carry the only version the tool knows.
constexpr const char kWrittenVersion[] = "0";

template <typename Code>
std::string code_field(Code code)
{
    return std::to_string(static_cast<int>(code));
}

std::string join_fields(const std::vector<std::string> &fields)
{
    std::string value;
    for (size_t i = 0; i < fields.size(); ++i) value += (i ? "$" : "") + fields[i];
    return value;
}

// A field that is wholly a decimal number, as strtol reads it.
std::optional<long> decimal(const std::string &field)
{
    char *end = nullptr;
    long number = std::strtol(field.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return number;
}

template <typename Code>
std::optional<Code> read_code(const std::string &field, Code last)
{
    auto number = decimal(field);
    if (!number || *number < 0 || *number > static_cast<long>(last)) return std::nullopt;
    return static_cast<Code>(*number);
}

}  // namespace

std::string new_definition(std::string_view name, RuleCode rule, std::string_view attributes)
{
    std::vector<std::string> fields(kFirstAttribute + 1);
    fields[kVersion] = kWrittenVersion;
    fields[kName] = name;
    fields[kState] = code_field(StateCode::pending);
    fields[kRule] = code_field(rule);
    fields[kType] = code_field(TypeCode::user_defined);
    fields[kStateValue] = code_field(StateValueCode::added_from_server);
    fields[kFirstAttribute] = attributes;
    return join_fields(fields);
}

std::vector<std::string> split_fields(std::string_view value)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < value.size()) {
        size_t end = value.find('$', pos);
        if (end == std::string_view::npos) end = value.size();
        if (end > pos) fields.emplace_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

std::optional<std::string> index_name(std::string_view value)
{
    auto fields = split_fields(value);
    if (fields.size() <= kName) return std::nullopt;
    return fields[kName];
}

std::optional<std::string> with_state(std::string_view value, StateCode state)
{
    // Find the state field in place, counting non-empty fields as the listing
    // does, so that everything around it, empty fields included, stays byte
    // for byte as stored.
    size_t pos = 0;
    size_t seen = 0;
    while (pos < value.size()) {
        size_t end = value.find('$', pos);
        if (end == std::string_view::npos) end = value.size();
        if (end > pos && seen++ == kState) {
            std::string changed(value.substr(0, pos));
            changed += code_field(state);
            changed += value.substr(end);
            return changed;
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::optional<StateCode> read_state(const std::string &field) { return read_code(field, StateCode::resuming); }

std::optional<RuleCode> read_rule(const std::string &field) { return read_code(field, RuleCode::substring); }

std::optional<TypeCode> read_type(const std::string &field) { return read_code(field, TypeCode::syntax); }

std::optional<StateValueCode> read_state_value(const std::string &field)
{
    return read_code(field, StateValueCode::modified_from_local_dib);
}

}  // namespace quorindex
