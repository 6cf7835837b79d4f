// One dirext run as its command line gave it: the command, the connection
// options, the command's own options and the operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "connection.h"

namespace dirext_cli {

struct Invocation {
    std::string program;   // argv[0], for messages
    std::string command;   // the command word
    toolkit::ConnectionOptions conn;
    int prompt_count = 0;  // -W
    std::optional<std::string> password_file;  // -y

    // Options of some commands only (each command's row says which it takes).
    bool json = false;                    // --json
    std::optional<long> count;            // --count N
    std::optional<std::string> scope;     // --scope base|one|sub
    std::optional<std::string> filter;    // --filter
    std::optional<std::string> changes;   // --changes add,delete,modify,moddn
    std::optional<long> skip;             // --skip N
    std::optional<std::string> kind;      // --kind K
    std::optional<std::string> output;    // -o FILE
    std::optional<std::string> input;     // -i FILE

    std::vector<std::string> operands;
};

}  // namespace dirext_cli
