// Reading the dirext command line and its usage text.
#pragma once

#include <optional>

#include "commands.h"
#include "invocation.h"

namespace dirext_cli {

// The invocation, with a -w password masked in argv and a -W or -y password
// read; or nullopt after a usage message on standard error (*status is then
// the exit status: 1, or 0 for --help, whose text goes to standard output).
std::optional<Invocation> parse_command_line(int argc, char **argv, int *status);

// The whole usage text (every command), to the stream given.
void print_usage(std::FILE *to, const char *program);

}  // namespace dirext_cli
