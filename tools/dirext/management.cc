// The identity and server-process commands: whoami, privileges, refresh and
// trigger.
#include <dirext/extops.h>

#include <strings.h>

#include "commands.h"
#include "json_line.h"
#include "management_support.h"

namespace dirext_cli {
namespace {

// The DN the session is bound as ("" when anonymous) into dn; 0 or the
// failure's code.
int fetch_bind_dn(LDAP *ld, std::string &dn)
{
    char *raw = nullptr;
    int rc = ldap_get_bind_dn(ld, &raw);
    LdapxString owned(raw);
    if (rc == LDAP_SUCCESS) dn = owned ? owned.get() : "";
    return rc;
}

struct Trigger {
    const char *name;
    unsigned process;
    bool needs_server;  // the limber process runs on the server named
};

constexpr Trigger kTriggers[] = {
    {"backlink", LDAPX_TRIGGER_BACKLINK, false},       {"janitor", LDAPX_TRIGGER_JANITOR, false},
    {"limber", LDAPX_TRIGGER_LIMBER, true},            {"skulker", LDAPX_TRIGGER_SKULKER, false},
    {"schema-sync", LDAPX_TRIGGER_SCHEMA_SYNC, false}, {"partition-purge", LDAPX_TRIGGER_PARTITION_PURGE, false},
};

const Trigger *find_trigger(const std::string &name)
{
    for (const Trigger &t : kTriggers)
        if (strcasecmp(t.name, name.c_str()) == 0) return &t;
    return nullptr;
}

std::string trigger_names()
{
    std::string names;
    for (const Trigger &t : kTriggers) names += (names.empty() ? "" : ", ") + std::string(t.name);
    return names;
}

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const auto &name : names) text += (text.empty() ? "" : ",") + name;
    return text.empty() ? "none" : text;
}

}  // namespace

int run_whoami(Session &s, const Invocation &inv)
{
    std::string dn;
    if (int rc = fetch_bind_dn(s.ld(), dn)) return report_failure(s.ld(), "whoami", rc);
    if (inv.json)
        JsonLine().field("bind_dn", dn).print();
    else
        print_line(dn.empty() ? "anonymous" : dn);
    return 0;
}

// The bound identity's rights over DN's ATTRIBUTE; without one the empty
// attribute name is sent, which asks about the entry as a whole.
int run_privileges(Session &s, const Invocation &inv)
{
    const std::string &dn = inv.operands[0];
    const char *attribute = inv.operands.size() > 1 ? inv.operands[1].c_str() : nullptr;
    std::string subject;
    if (int rc = fetch_bind_dn(s.ld(), subject)) return report_failure(s.ld(), "privileges: bind DN", rc);
    int privileges = 0;
    // The server takes the entry first and the identity second.
    int rc = ldap_get_effective_privileges(s.ld(), dn.c_str(), subject.c_str(), attribute ? attribute : "",
                                           &privileges);
    if (rc != LDAP_SUCCESS) return report_failure(s.ld(), "privileges", rc);
    std::vector<std::string> names = privilege_names(privileges);
    if (inv.json)
        JsonLine()
            .field("dn", dn)
            .field("attribute", attribute)
            .field("subject", subject)
            .field("privileges", privileges)
            .field("names", names)
            .print();
    else
        print_line(std::to_string(privileges) + " " + joined(names));
    return 0;
}

int run_refresh(Session &s, const Invocation &)
{
    if (int rc = ldap_refresh_server(s.ld())) return report_failure(s.ld(), "refresh", rc);
    print_line("server refresh requested");
    return 0;
}

// Its row lets it check the operands before it connects.
int run_trigger(Session &s, const Invocation &inv)
{
    const Trigger *t = find_trigger(inv.operands[0]);
    if (!t) return management_usage(inv, "unknown process '" + inv.operands[0] + "'; one of " + trigger_names());
    bool server_given = inv.operands.size() > 1;
    if (t->needs_server != server_given)
        return management_usage(inv, std::string(t->name) +
                                         (t->needs_server ? " needs SERVER, the server's DN" : " takes no SERVER"));
    if (int rc = s.connect()) return rc;
    int rc = ldap_trigger_back_process(s.ld(), t->process, server_given ? inv.operands[1].c_str() : nullptr);
    if (rc != LDAP_SUCCESS) return report_failure(s.ld(), ("trigger " + std::string(t->name)).c_str(), rc);
    print_line(std::string(t->name) + " triggered");
    return 0;
}

}  // namespace dirext_cli
