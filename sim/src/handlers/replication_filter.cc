// The replication filter of a server object, stored on the object itself:
// one value of "replicationFilter" per object class, "<class>$<attr>$<attr>..."
// in the order given.  On the wire: the server's DN, then
// SEQUENCE OF SEQUENCE { class OCTET STRING, SEQUENCE OF attribute OCTET STRING }.
#include <ldap.h>

#include "management.h"

namespace dirsim::detail::management {
namespace {

constexpr char kFilterAttribute[] = "replicationFilter";

// One class entry of the wire form into its stored value.
bool read_class(const berval &contents, std::string &stored)
{
    Reader entry(contents);
    berval names;
    if (!entry.string(LBER_OCTETSTRING, stored) || !entry.element(LBER_SEQUENCE, names) || !entry.at_end())
        return false;
    if (stored.empty() || stored.find('$') != std::string::npos) return false;
    Reader attributes(names);
    while (!attributes.at_end()) {
        std::string name;
        if (!attributes.string(LBER_OCTETSTRING, name) || name.empty() || name.find('$') != std::string::npos)
            return false;
        stored += "$" + name;
    }
    return true;
}

Answer set(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string server_dn;
    berval filter;
    if (!f.string(server_dn) || !f.sequence(filter) || !f.end()) return malformed();
    std::vector<std::string> stored;
    Reader classes(filter);
    while (!classes.at_end()) {
        berval entry;
        stored.emplace_back();
        if (!classes.element(LBER_SEQUENCE, entry) || !read_class(entry, stored.back())) return malformed();
    }
    if (anonymous(ex)) return needs_bind();
    return ex.tree().write([&](EntryMap &entries, uint64_t &) {
        Located server = locate(entries, server_dn);
        if (server.failure) return *server.failure;
        Entry &e = entries.at(server.ndn);
        std::erase_if(e.attrs, [](const Attribute &a) { return same_name(a.name, kFilterAttribute); });
        if (!stored.empty()) e.attrs.push_back({kFilterAttribute, stored});
        return Answer{};
    });
}

Answer get(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string server_dn;
    if (!f.string(server_dn) || !f.end()) return malformed();
    return ex.tree().read([&](const EntryMap &entries) {
        Located server = locate(entries, server_dn);
        if (server.failure) return *server.failure;
        const Attribute *a = entries.at(server.ndn).find(kFilterAttribute);
        Writer w;
        w.put("{");
        for (const std::string &v : a ? a->values : std::vector<std::string>()) {
            size_t at = v.find('$');
            w.put("{s{", v.substr(0, at).c_str());
            while (at != std::string::npos) {
                size_t next = v.find('$', at + 1);
                w.put("s", v.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1).c_str());
                at = next;
            }
            w.put("}}");
        }
        Answer answer;
        answer.value = w.put("}").bytes();
        return answer;
    });
}

const Registrar registrar([] {
    serve(35, set);
    serve(37, get);
});

}  // namespace
}  // namespace dirsim::detail::management
