// The dirext commands: one row each, and the functions that run them.
#pragma once

#include <span>
#include <string_view>

#include "invocation.h"
#include "session.h"

namespace dirext_cli {

// Each command gets the session (bound, unless its row says it connects
// itself) and the invocation and returns the run's exit status (0, 1 for the tool's own refusals, or the LDAP result
// code of what failed), its messages written.
using CommandFunction = int (*)(Session &, const Invocation &);

struct CommandRow {
    const char *name;
    CommandFunction run;
    int min_operands, max_operands;  // max -1: any number
    const char *options;             // the command options it takes, as "--json --count"
    const char *synopsis;            // what follows the command word in the usage text
    const char *summary;
    // The command checks its input (a file, a description) first and calls
    // Session::connect itself, so that bad input costs no connection at all.
    bool connects_itself = false;
};

std::span<const CommandRow> command_table();
const CommandRow *find_command(std::string_view name);

int run_events(Session &s, const Invocation &inv);
int run_watch(Session &s, const Invocation &inv);
int run_load(Session &s, const Invocation &inv);
int run_schema(Session &s, const Invocation &inv);
int run_backup(Session &s, const Invocation &inv);
int run_restore(Session &s, const Invocation &inv);
int run_partitions(Session &s, const Invocation &inv);
int run_replicas(Session &s, const Invocation &inv);
int run_replica(Session &s, const Invocation &inv);
int run_whoami(Session &s, const Invocation &inv);
int run_privileges(Session &s, const Invocation &inv);
int run_refresh(Session &s, const Invocation &inv);
int run_trigger(Session &s, const Invocation &inv);

}  // namespace dirext_cli
