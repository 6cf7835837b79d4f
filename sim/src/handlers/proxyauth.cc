// Proxied authorisation (RFC 4370) and "Who am I?" (RFC 4532).
//
// A request carrying the proxied-authorisation control runs as the identity
// it names: "dn:<DN>" of an existing entry, "u:<name>" for the entry whose
// uid (or else cn) is name, or "" for anonymous.  Any authenticated session
// may proxy (the simulator has no access control); an anonymous one may not.
// The control must be critical.  Refusals are authorizationDenied (123), as
// RFC 4370 asks, or protocolError for a control that is not critical.
#include <ldap.h>

#include "../core.h"

namespace dirsim::detail {
namespace {

constexpr const char kProxyAuth[] = "2.16.840.1.113730.3.4.18";
constexpr const char kWhoAmI[] = "1.3.6.1.4.1.4203.1.11.3";
constexpr int kAuthorizationDenied = 123;

std::string unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The stored DN of the identity, or nothing when it names no entry.
std::optional<std::string> resolve(Exchange &ex, const std::string &authz_id)
{
    if (authz_id.empty()) return std::string();
    if (authz_id.compare(0, 3, "dn:") == 0) {
        auto ndn = normalize_dn(authz_id.substr(3));
        if (!ndn) return std::nullopt;
        if (ndn->empty()) return std::string();
        return ex.tree().read([&](const EntryMap &entries) -> std::optional<std::string> {
            auto it = entries.find(*ndn);
            if (it == entries.end()) return std::nullopt;
            return it->second.dn;
        });
    }
    if (authz_id.compare(0, 2, "u:") == 0) {
        const std::string name = authz_id.substr(2);
        return ex.tree().read([&](const EntryMap &entries) -> std::optional<std::string> {
            for (const char *attr : {"uid", "cn"}) {
                for (const auto &[ndn, e] : entries) {
                    const Attribute *a = e.find(attr);
                    if (!a) continue;
                    for (const auto &v : a->values)
                        if (values_equal(v, name)) return e.dn;
                }
            }
            return std::nullopt;
        });
    }
    return std::nullopt;
}

void proxied(Exchange &ex, Operation &, const berval &, const std::function<void()> &next)
{
    const RequestControl *control = nullptr;
    for (const auto &c : ex.request().control_details)
        if (c.oid == kProxyAuth) control = &c;
    if (!control) return next();
    if (!control->critical) {
        ex.result(LDAP_PROTOCOL_ERROR, "", "proxied authorization criticality of FALSE not allowed");
        return;
    }
    Session &session = ex.session();
    if (session.bound_dn.empty()) {
        ex.result(kAuthorizationDenied, "", "not authorized to use proxied authorization");
        return;
    }
    auto identity = resolve(ex, unhex(control->value_hex));
    if (!identity) {
        ex.result(kAuthorizationDenied, "", "authzId does not name an entry");
        return;
    }
    // The one operation runs as that identity; the session keeps its own.
    std::string own = std::move(session.bound_dn);
    session.bound_dn = *identity;
    next();
    session.bound_dn = std::move(own);
}

void who_am_i(Exchange &ex, const std::optional<std::string> &value)
{
    if (value) {
        ex.result(LDAP_PROTOCOL_ERROR, "", "Who am I? takes no request value");
        return;
    }
    Reply reply;
    const std::string &dn = ex.session().bound_dn;
    reply.response_value = dn.empty() ? std::string() : "dn:" + dn;
    ex.respond(reply);
}

const Registrar registrar([] {
    register_control(kProxyAuth);
    register_hook(proxied);
    register_extended(kWhoAmI, who_am_i);
});

}  // namespace
}  // namespace dirsim::detail
