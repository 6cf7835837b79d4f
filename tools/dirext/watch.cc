// dirext watch: follows the changes under a base with a persistent search
// (changes only, each with its entry-change notification) and prints each
// one as it arrives, until stopped (SIGINT, SIGTERM, --count).
#include <dirext.h>

#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "event_stream.h"
#include "json_line.h"
#include "watch_options.h"

namespace dirext_cli {
namespace {

struct ControlFree {
    void operator()(LDAPControl *c) const { ldap_control_free(c); }
};
struct ControlsFree {
    void operator()(LDAPControl **c) const { ldap_controls_free(c); }
};

struct Change {
    const char *type = "unknown";  // no entry-change control, or a type of another kind
    std::string dn;
    toolkit::LdapString previous_dn;
    std::optional<int> number;
};

Change read_change(LDAP *ld, LDAPMessage *entry)
{
    Change c;
    toolkit::LdapString dn(ldap_get_dn(ld, entry));
    if (dn) c.dn = dn.get();
    LDAPControl **raw = nullptr;
    ldap_get_entry_controls(ld, entry, &raw);
    std::unique_ptr<LDAPControl *, ControlsFree> controls(raw);
    if (!controls) return c;
    int type = 0, numbered = 0, number = 0;
    char *previous = nullptr;
    int rc = ldap_parse_entrychange_control(ld, controls.get(), &type, &previous, &numbered, &number);
    c.previous_dn.reset(previous);
    if (rc != LDAP_SUCCESS) return c;
    if (const char *name = change_name(type)) c.type = name;
    if (numbered) c.number = number;
    return c;
}

void print_change(const Change &c, bool json)
{
    if (json) {
        JsonLine line;
        line.field("change", c.type).field("dn", c.dn).field("previous_dn", c.previous_dn.get());
        if (c.number) line.field("change_number", *c.number);
        else line.field_raw("change_number", "null");
        line.print();
        return;
    }
    std::string text = std::string(c.type) + " " + c.dn;
    if (c.previous_dn) text += std::string(" from ") + c.previous_dn.get();
    if (c.number) text += " (change " + std::to_string(*c.number) + ")";
    std::puts(text.c_str());
    std::fflush(stdout);
}

class PersistentSearch : public EventStream {
public:
    PersistentSearch(WatchOptions options, bool json) : o_(std::move(options)), json_(json) {}

    int send(LDAP *ld) override;
    Step take(LDAP *ld, toolkit::Message message) override;
    int end(LDAP *ld) override
    {
        ldap_abandon_ext(ld, msgid_, nullptr, nullptr);
        return 0;
    }
    void say_sent_again() const override
    {
        std::fprintf(stderr, "dirext: watch: following %s again\n", o_.base.c_str());
    }
    const char *name() const override { return "watch"; }

private:
    WatchOptions o_;
    bool json_;
};

int PersistentSearch::send(LDAP *ld)
{
    LDAPControl *raw = nullptr;
    int rc = ldap_create_persistentsearch_control(ld, o_.changes, 1, 1, 1, &raw);
    std::unique_ptr<LDAPControl, ControlFree> control(raw);
    if (rc != LDAP_SUCCESS) return rc;
    // The search never ends by itself: -l bounds the answers of other requests.
    int no_limit = 0;
    ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &no_limit);
    LDAPControl *controls[] = {control.get(), nullptr};
    char no_attributes[] = LDAP_NO_ATTRS;  // the DN is all a change line shows
    char *attributes[] = {no_attributes, nullptr};
    return ldap_search_ext(ld, o_.base.c_str(), o_.scope, o_.filter.c_str(), attributes, 0, controls, nullptr,
                           nullptr, 0, &msgid_);
}

Step PersistentSearch::take(LDAP *ld, toolkit::Message message)
{
    const int type = ldap_msgtype(message.get());
    if (type == LDAP_RES_SEARCH_ENTRY) {
        print_change(read_change(ld, message.get()), json_);
        return {Step::kGoOn, true};
    }
    if (type != LDAP_RES_SEARCH_RESULT) return {};  // references: nothing to print
    int code = LDAP_OTHER;
    int rc = ldap_parse_result(ld, message.get(), &code, nullptr, nullptr, nullptr, nullptr, 0);
    if (rc != LDAP_SUCCESS) code = rc;
    if (code == LDAP_SUCCESS) return {Step::kRestart, false, 0, "the server ended the search"};
    return {Step::kExit, false, report_failure(ld, "watch", code)};
}

}  // namespace

int run_watch(Session &session, const Invocation &inv)
{
    auto options = watch_options(inv);
    if (!options) return 1;
    if (int rc = session.connect()) return rc;
    PersistentSearch search(std::move(*options), inv.json);
    return follow(session, search, inv.count);
}

}  // namespace dirext_cli
