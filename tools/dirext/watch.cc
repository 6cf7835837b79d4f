#include "commands.h"

namespace dirext_cli {
int run_watch(Session &, const Invocation &) { return 1; }
}  // namespace dirext_cli
