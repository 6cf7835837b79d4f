// The listing block that shows one stored index definition.
#pragma once

#include <cstdio>
#include <string_view>

namespace quorindex {

// Writes one listing block for a stored value.
void print_index(std::FILE *out, std::string_view value);

}  // namespace quorindex
