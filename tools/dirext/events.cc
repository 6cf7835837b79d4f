// dirext events: registers for the server's events and prints each one as
// it arrives, until stopped (SIGINT, SIGTERM, --count).
#include <dirext.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "event_fields.h"
#include "event_selection.h"
#include "event_stream.h"

namespace dirext_cli {
namespace {

struct EventFree {
    void operator()(void *record) const { ldap_event_free(record); }
};
using EventRecord = std::unique_ptr<void, EventFree>;
using AddressRecord = std::unique_ptr<NetAddrEventData, EventFree>;

// How long an ended registration may take to send its final response.
constexpr auto kFinalResponseWait = std::chrono::seconds(10);
constexpr int kStepMs = 200;

// The result code of the registration's final response (a client code when
// it cannot be read).
int final_result(LDAP *ld, LDAPMessage *message)
{
    int result = LDAP_OTHER;
    int rc = ldap_parse_monitor_events_response(ld, message, &result, nullptr, nullptr, nullptr, 0);
    return rc == LDAP_SUCCESS ? result : rc;
}

class Registration : public EventStream {
public:
    Registration(EventSelection selection, bool json) : selection_(std::move(selection)), json_(json) {}

    int send(LDAP *ld) override { return selection_.send(ld, &msgid_); }
    Step take(LDAP *ld, toolkit::Message message) override;
    int end(LDAP *ld) override;
    void say_sent_again() const override
    {
        std::fprintf(stderr, "dirext: events: registered again for %zu event types\n", selection_.size());
    }
    const char *name() const override { return "events"; }

private:
    bool print(LDAP *ld, LDAPMessage *message) const;

    EventSelection selection_;
    bool json_;
};

bool Registration::print(LDAP *ld, LDAPMessage *message) const
{
    int type = 0, result = 0;
    void *record = nullptr;
    NetAddrEventData *address = nullptr;
    int rc = ldap_parse_ds_event_IP(ld, message, &type, &result, &record, 0, &address);
    EventRecord owned_record(record);
    AddressRecord owned_address(address);
    if (rc != LDAP_SUCCESS) {
        std::fprintf(stderr, "dirext: events: an event could not be decoded: %s (%d)\n", ldap_err2string(rc), rc);
        return false;
    }
    print_event(event_fields(type, result, record, address), json_);
    return true;
}

Step Registration::take(LDAP *ld, toolkit::Message message)
{
    const int type = ldap_msgtype(message.get());
    if (type == LDAP_RES_INTERMEDIATE) return {Step::kGoOn, print(ld, message.get())};
    if (type != LDAP_RES_EXTENDED) return {};
    // The final response although nobody asked to end: refused, or ended by
    // the server (which may be on its way down).
    int code = final_result(ld, message.get());
    if (code == LDAP_SUCCESS) return {Step::kRestart, false, 0, "the server ended the registration"};
    return {Step::kExit, false, report_failure(ld, "events", code)};
}

// Cancels the registration (libldap would drop the final response of an
// abandoned one) and reads the final response; events arriving meanwhile
// are not printed.
int Registration::end(LDAP *ld)
{
    int cancel_id = -1;
    if (ldap_cancel(ld, msgid_, nullptr, nullptr, &cancel_id) != LDAP_SUCCESS) return 0;  // gone with the connection
    const auto deadline = std::chrono::steady_clock::now() + kFinalResponseWait;
    toolkit::Message message;
    for (;;) {
        auto type = next_message(ld, msgid_, kStepMs, &message);
        if (type && *type < 0) return 0;
        if (type && *type == LDAP_RES_EXTENDED) break;
        if (std::chrono::steady_clock::now() > deadline)
            return report_failure(ld, "events: no final response", LDAP_TIMEOUT);
    }
    const int code = final_result(ld, message.get());
    next_message(ld, cancel_id, kStepMs, &message);  // the Cancel's own answer, if it comes at once
    if (code == LDAP_SUCCESS || code == LDAP_CANCELLED) return 0;
    return report_failure(ld, "events: ending the registration", code);
}

}  // namespace

int run_events(Session &session, const Invocation &inv)
{
    auto selection = EventSelection::parse(inv.operands);
    if (!selection) return 1;
    if (int rc = session.connect()) return rc;
    Registration registration(std::move(*selection), inv.json);
    return follow(session, registration, inv.count);
}

}  // namespace dirext_cli
