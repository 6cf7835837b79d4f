// The command line of quorindex: the command word, the options and the operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorindex {

enum class Command { list, add, del, resume, suspend };

struct Settings {
    Command command = Command::list;
    std::optional<std::string> bind_dn, server_dn, host, key_file, password;
    int port = 0;          // 0: libldap's default
    int time_limit = -1;   // seconds; -1: none
    bool ancestor = false;
    int prompt_count = 0;  // -W
    int tls_count = 0;     // -Z
    std::vector<std::string> operands;

    bool uses_tls() const { return key_file.has_value() || tls_count > 0; }
};

// Reads argv; on any error writes the usage text and returns nullopt (the run
// then exits with status 1).  Overwrites a -w password in argv with '*'.
std::optional<Settings> parse_command_line(int argc, char **argv);

void print_usage(const char *program);

}  // namespace quorindex
