#include "stop_signal.h"

#include <signal.h>
#include <time.h>

#include <csignal>

namespace dirext_cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_stop(int) { g_stop = 1; }

}  // namespace

void catch_stop_signals()
{
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool stop_requested() { return g_stop != 0; }

void sleep_unless_stopped(int ms)
{
    for (int left = ms; left > 0 && !stop_requested(); left -= 50) {
        struct timespec step = {0, (left < 50 ? left : 50) * 1000000L};
        nanosleep(&step, nullptr);
    }
}

}  // namespace dirext_cli
