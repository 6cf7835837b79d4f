// The session a command works on: connected and bound from the invocation's
// options, and connected again after the server drops it.
#pragma once

#include <ldap.h>

#include "connection.h"
#include "invocation.h"

namespace dirext_cli {

// What reconnect() returns when a stop was asked for while it waited.
inline constexpr int kStopped = -2;

class Session {
public:
    explicit Session(const Invocation &inv) : inv_(inv) {}

    // Opens, secures and binds: 0 or the run's exit status (message written).
    int connect();
    // After a lost connection: waits with capped exponential back-off
    // (0.25 s doubling to 30 s) and connects again until it works (0), a stop
    // is asked for (kStopped) or the server refuses the bind (its status).
    // Says what it does on standard error.
    int reconnect(const char *why);
    void close() { conn_.close(); }

    LDAP *ld() const { return conn_.handle(); }
    const Invocation &invocation() const { return inv_; }

private:
    const Invocation &inv_;
    toolkit::Connection conn_;
};

// True for the client codes that mean the connection is gone.
bool connection_lost(int rc);

// Writes "dirext: WHAT: <text> (<code>)" and the server's diagnostic, if
// any, to standard error; returns the exit status for rc (the LDAP result
// code; 1 for client-side codes such as a lost connection).
int report_failure(LDAP *ld, const char *what, int rc);

// The exit status for a result code, as report_failure returns it.
int exit_status(int rc);

}  // namespace dirext_cli
