#include "session.h"

#include <cstdio>

#include "stop_signal.h"

namespace dirext_cli {

int Session::connect()
{
    conn_.close();
    int rc = conn_.establish(inv_.conn);
    // A server that cannot be reached is a connection error (1), not a
    // refused bind (255).
    int code = LDAP_SUCCESS;
    if (rc != 0 && conn_.handle()) ldap_get_option(conn_.handle(), LDAP_OPT_RESULT_CODE, &code);
    return rc != 0 && connection_lost(code) ? 1 : rc;
}

int Session::reconnect(const char *why)
{
    int delay_ms = 250;
    std::fprintf(stderr, "dirext: connection lost (%s); reconnecting\n", why);
    conn_.set_quiet(true);  // each failed try is said once, below
    for (;;) {
        sleep_unless_stopped(delay_ms);
        if (stop_requested()) return kStopped;
        int rc = connect();
        if (rc == 0) {
            conn_.set_quiet(false);
            std::fputs("dirext: reconnected\n", stderr);
            return 0;
        }
        int code = LDAP_SERVER_DOWN;
        if (LDAP *ld = conn_.handle()) ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
        // A refused bind will not get better by waiting; a server that is not
        // there yet may.
        if (!connection_lost(code)) {
            std::fprintf(stderr, "dirext: reconnecting: %s (%d)\n", ldap_err2string(code), code);
            return rc;
        }
        delay_ms = delay_ms >= 15000 ? 30000 : delay_ms * 2;
        std::fprintf(stderr, "dirext: still no connection (%s); next try in %.2g s\n", ldap_err2string(code),
                     delay_ms / 1000.0);
    }
}

bool connection_lost(int rc)
{
    return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR || rc == LDAP_TIMEOUT ||
           rc == LDAP_UNAVAILABLE || rc == LDAP_BUSY;
}

int exit_status(int rc)
{
    if (rc == LDAP_SUCCESS) return 0;
    return rc > 0 && rc < 256 ? rc : 1;
}

int report_failure(LDAP *ld, const char *what, int rc)
{
    std::fprintf(stderr, "dirext: %s: %s (%d)\n", what, ldap_err2string(rc), rc);
    char *diagnostic = nullptr;
    if (ld && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS && diagnostic) {
        if (*diagnostic) std::fprintf(stderr, "\tadditional info: %s\n", diagnostic);
        ldap_memfree(diagnostic);
    }
    return exit_status(rc);
}

}  // namespace dirext_cli
