// The command line of quorindex: the command word, the options and the operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "connection.h"

namespace quorindex {

enum class Command { list, add, del, resume, suspend };

struct Settings {
    Command command = Command::list;
    toolkit::ConnectionOptions conn;  // -D -w -h -p -l -e -Z
    std::optional<std::string> server_dn;
    bool ancestor = false;
    int prompt_count = 0;  // -W
    std::vector<std::string> operands;
};

// Reads argv; on any error writes the usage text and returns nullopt (the run
// then exits with status 1).  Overwrites a -w password in argv with '*'.
std::optional<Settings> parse_command_line(int argc, char **argv);

void print_usage(const char *program);

}  // namespace quorindex
