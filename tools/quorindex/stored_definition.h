// The stored form of an index definition: one value of the server object's
// indexDefinition attribute, its fields separated by '$'.  Writing a new value,
// changing its state and reading its fields all go through here, so that the
// field order and the codes are spelled once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorindex {

// Field positions, counted from 0; every field from kFirstAttribute on names
// one indexed attribute.
enum Field : size_t { kVersion = 0, kName, kState, kRule, kType, kStateValue, kFirstAttribute };

// A new index is stored as pending, a suspended one as offline, a resumed one
// as resuming until the server brings it back online.
enum class StateCode { online = 0, offline = 1, pending = 2, resuming = 3 };
enum class RuleCode { value = 0, presence = 1, substring = 2 };
enum class TypeCode { user_defined = 0, added_on_attribute_creation = 1, required_for_operation = 2, syntax = 3 };
enum class StateValueCode {
    uninitialized = 0,
    added_from_server = 1,
    added_from_local_dib = 2,
    deleted_from_local_dib = 3,
    modified_from_local_dib = 4,
};

// The value stored for a newly added index; `attributes` is already
// '$'-separated.
std::string new_definition(std::string_view name, RuleCode rule, std::string_view attributes);

// Splits at '$' the way the listing reads a value: runs of '$' count as one
// separator and empty fields vanish.
std::vector<std::string> split_fields(std::string_view value);

// The index's name, if the value has one.
std::optional<std::string> index_name(std::string_view value);

// The value with its state field replaced by `state`; nullopt when the value
// has no state field.
std::optional<std::string> with_state(std::string_view value, StateCode state);

// The code a field holds; nullopt unless the whole field is a code of its table.
std::optional<StateCode> read_state(const std::string &field);
std::optional<RuleCode> read_rule(const std::string &field);
std::optional<TypeCode> read_type(const std::string &field);
std::optional<StateValueCode> read_state_value(const std::string &field);

}  // namespace quorindex
