// SIGINT and SIGTERM as a request to stop: the long-running commands finish
// what they hold (ending a registration, a search) and exit 0.
#pragma once

namespace dirext_cli {

// Installs the handlers (without SA_RESTART, so a blocking wait returns).
void catch_stop_signals();
bool stop_requested();
// Sleeps up to ms milliseconds, returning early when a stop is requested.
void sleep_unless_stopped(int ms);

}  // namespace dirext_cli
