// A request whose answers keep coming until the client ends it: the event
// registration of `dirext events` and the persistent search of `dirext
// watch`.  follow() runs one on the session: it waits for its messages in
// short steps (so that a stop signal is seen promptly), hands each to the
// stream, connects again and repeats the request when the connection is
// lost, and ends the request on SIGINT, SIGTERM or after --count records.
#pragma once

#include <optional>

#include "ldap_handles.h"
#include "session.h"

namespace dirext_cli {

// What one message of the request means for the run.
struct Step {
    enum Kind { kGoOn, kRestart, kExit } kind = kGoOn;
    bool printed = false;    // a record was printed (it counts for --count)
    int status = 0;          // kExit: the exit status (message written)
    const char *why = "";    // kRestart: why the request has to be made again
};

class EventStream {
public:
    virtual ~EventStream() = default;
    // Sends the request on ld and keeps its message id; an LDAP result code.
    virtual int send(LDAP *ld) = 0;
    virtual Step take(LDAP *ld, toolkit::Message message) = 0;
    // Ends the request in order; the exit status.
    virtual int end(LDAP *ld) = 0;
    // Says on standard error that the request is in place again.
    virtual void say_sent_again() const = 0;
    // "events" or "watch", for messages.
    virtual const char *name() const = 0;

    int msgid() const { return msgid_; }

protected:
    int msgid_ = -1;
};

int follow(Session &session, EventStream &stream, std::optional<long> count);

// Waits up to timeout_ms for the next message of msgid on ld.  nullopt
// while nothing came; otherwise its type (-1: the connection failed), with
// the message in *message.
std::optional<int> next_message(LDAP *ld, int msgid, int timeout_ms, toolkit::Message *message);

}  // namespace dirext_cli
