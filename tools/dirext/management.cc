#include "commands.h"

namespace dirext_cli {
int run_partitions(Session &, const Invocation &) { return 1; }
int run_replicas(Session &, const Invocation &) { return 1; }
int run_replica(Session &, const Invocation &) { return 1; }
int run_whoami(Session &, const Invocation &) { return 1; }
int run_privileges(Session &, const Invocation &) { return 1; }
int run_refresh(Session &, const Invocation &) { return 1; }
int run_trigger(Session &, const Invocation &) { return 1; }
}  // namespace dirext_cli
