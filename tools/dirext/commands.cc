#include "commands.h"

#include <strings.h>

namespace dirext_cli {
namespace {

constexpr CommandRow kCommands[] = {
    {"events", run_events, 0, -1, "--json --count", "[--json] [--count N] [TYPE[:STATUS][=FILTER-DN] ...]",
     "prints the server's events as they happen", true},
    {"watch", run_watch, 1, 1, "--json --count --scope --filter --changes",
     "[--json] [--count N] [--scope base|one|sub] [--filter F] [--changes add,delete,modify,moddn] BASE",
     "prints the changes under BASE as they happen", true},
    {"load", run_load, 1, 1, "--json --skip", "[--json] [--skip N] FILE|-", "bulk-loads an LDIF file", true},
    {"schema", run_schema, 1, -1, "--json --kind",
     "get KEY [--kind KIND] | list KIND | add KIND 'DESCRIPTION' | modify KIND KEY FIELD=VALUE ... | delete KIND KEY",
     "shows and edits the schema", true},
    {"backup", run_backup, 1, 1, "-o", "DN -o FILE", "backs up one object into FILE", true},
    {"restore", run_restore, 1, 1, "-i", "DN -i FILE", "restores one object from FILE", true},
    {"partitions", run_partitions, 0, 0, "--json", "[--json]", "lists the partitions"},
    {"replicas", run_replicas, 1, 1, "--json", "[--json] PARTITION", "lists a partition's replicas"},
    {"replica", run_replica, 3, 4, "",
     "add PARTITION SERVER TYPE | remove PARTITION SERVER | type PARTITION SERVER TYPE",
     "adds, removes or retypes a replica (TYPE: master, secondary, readonly, subordinate)", true},
    {"whoami", run_whoami, 0, 0, "--json", "[--json]", "prints the DN the session is bound as"},
    {"privileges", run_privileges, 1, 2, "--json", "[--json] DN [ATTRIBUTE]",
     "prints the bound identity's effective privileges on DN"},
    {"refresh", run_refresh, 0, 0, "", "", "asks the server to refresh itself"},
    {"trigger", run_trigger, 1, 2, "", "backlink|janitor|skulker|schema-sync|partition-purge | limber SERVER",
     "starts one of the server's background processes", true},
};

}  // namespace

std::span<const CommandRow> command_table() { return kCommands; }

const CommandRow *find_command(std::string_view name)
{
    for (const auto &row : kCommands)
        if (name.size() == std::char_traits<char>::length(row.name) &&
            strncasecmp(row.name, name.data(), name.size()) == 0)
            return &row;
    return nullptr;
}

}  // namespace dirext_cli
