#include "event_stream.h"

#include "stop_signal.h"

namespace dirext_cli {
namespace {

// Short enough that a stop is seen at once, long enough not to spin.
constexpr int kStepMs = 200;

// Sends the request, after connecting again when why says the connection
// was lost; a connection lost on the way means another round.  0, kStopped,
// or the exit status (message written).
int send(Session &session, EventStream &stream, const char *why)
{
    for (;;) {
        if (why)
            if (int rc = session.reconnect(why)) return rc;
        // Without it libldap ends a wait that a signal interrupts as if the
        // connection had failed.
        ldap_set_option(session.ld(), LDAP_OPT_RESTART, LDAP_OPT_ON);
        int rc = stream.send(session.ld());
        if (rc == LDAP_SUCCESS) {
            if (why) stream.say_sent_again();
            return 0;
        }
        if (!connection_lost(rc)) return report_failure(session.ld(), stream.name(), rc);
        why = ldap_err2string(rc);
    }
}

// ldap_result failed: a lost connection asks for another round, anything
// else ends the run.
Step failed_wait(LDAP *ld, const char *name)
{
    int code = LDAP_OTHER;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
    if (stop_requested()) return {};  // the loop ends the request
    if (code == LDAP_SUCCESS) code = LDAP_OTHER;
    if (connection_lost(code)) return {Step::kRestart, false, 0, ldap_err2string(code)};
    return {Step::kExit, false, report_failure(ld, name, code)};
}

}  // namespace

std::optional<int> next_message(LDAP *ld, int msgid, int timeout_ms, toolkit::Message *message)
{
    timeval wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    LDAPMessage *raw = nullptr;
    int type = ldap_result(ld, msgid, LDAP_MSG_ONE, &wait, &raw);
    message->reset(raw);
    if (type == 0) return std::nullopt;
    return type;
}

int follow(Session &session, EventStream &stream, std::optional<long> count)
{
    catch_stop_signals();
    int rc = send(session, stream, nullptr);
    long printed = 0;
    while (rc == 0) {
        if (stop_requested() || (count && printed >= *count)) return stream.end(session.ld());
        toolkit::Message message;
        auto type = next_message(session.ld(), stream.msgid(), kStepMs, &message);
        if (!type) continue;
        Step step = *type < 0 ? failed_wait(session.ld(), stream.name())
                              : stream.take(session.ld(), std::move(message));
        printed += step.printed ? 1 : 0;
        if (step.kind == Step::kExit) return step.status;
        if (step.kind == Step::kRestart) rc = send(session, stream, step.why);
    }
    return rc == kStopped ? 0 : rc;
}

}  // namespace dirext_cli
