#include "commands.h"

namespace dirext_cli {
int run_events(Session &, const Invocation &) { return 1; }
}  // namespace dirext_cli
