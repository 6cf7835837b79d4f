// The stored form of an index definition ('$'-separated fields of one
// indexDefinition value) and the listing block that shows it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorindex {

// Field positions, counted from 0: version, name, state, rule, type, state value,
// then the indexed attributes.
enum Field { kVersion = 0, kName, kState, kRule, kType, kStateValue, kFirstAttribute };

// Splits at '$' the way the listing reads a value: runs of '$' count as one
// separator and empty fields vanish.
std::vector<std::string> split_fields(std::string_view value);

// The index's name (second field), if the value has one.
std::optional<std::string> index_name(std::string_view value);

// The value with its state field replaced by `state`; nullopt when the value
// has no state field.
std::optional<std::string> with_state(std::string_view value, char state);

// Writes one listing block for a stored value.
void print_index(std::FILE *out, std::string_view value);

// Text between the first and the last character that is neither blank nor tab.
std::string trim(std::string_view text);

}  // namespace quorindex
