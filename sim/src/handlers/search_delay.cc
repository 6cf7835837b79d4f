// Options::search_delay_ms: every realistic search waits that long before it
// is answered, so that a client's time-out can be tested against a search
// that does return entries in the end.  A server that stops cuts the wait
// short and answers nothing.
#include "../core.h"

namespace dirsim::detail {
namespace {

void delay_searches(Exchange &ex, Operation &, const berval &, const std::function<void()> &next)
{
    const int delay = ex.server().options.search_delay_ms;
    if (ex.request().op == "search" && delay > 0 && !ex.server().pause(delay)) {
        ex.close_connection();
        return;
    }
    next();
}

const Registrar registrar([] { register_hook(delay_searches); });

}  // namespace
}  // namespace dirsim::detail
