// Replica operations on the replica table of a partition root (management.h):
// add, remove, change type, information, list, receive and send all updates.
#include <ldap.h>

#include "management.h"

namespace dirsim::detail::management {
namespace {

constexpr int kMaster = 0;
constexpr int kLargestType = 3;

// The partition root at dn, or why not.
std::optional<Answer> partition_root(const EntryMap &entries, const std::string &dn, std::string &ndn)
{
    Located at = locate(entries, dn);
    if (at.failure) return at.failure;
    if (!is_partition_root(entries, at.ndn)) return error(LDAP_UNWILLING_TO_PERFORM, "not a partition root");
    ndn = at.ndn;
    return std::nullopt;
}

Answer no_replica() { return error(LDAP_NO_SUCH_ATTRIBUTE, "the server holds no replica of the partition"); }

struct ReplicaRequest {
    int flags = 0;
    int type = 0;
    std::string server_dn, dn;
};

// flags, [type,] serverDN, dn
bool read_request(const std::optional<std::string> &value, bool with_type, ReplicaRequest &r)
{
    Fields f(value);
    return f.integer(r.flags) && (!with_type || f.integer(r.type)) && f.string(r.server_dn) && f.string(r.dn) &&
           f.end();
}

// Runs `change` on the replica table of the partition rooted at dn and
// stores the table when it answers success.
template <class Change>
Answer change_table(Exchange &ex, const std::string &dn, Change change)
{
    if (anonymous(ex)) return needs_bind();
    return ex.tree().write([&](EntryMap &entries, uint64_t &) {
        std::string root;
        if (auto failure = partition_root(entries, dn, root)) return *failure;
        std::vector<Replica> list = replicas(entries.at(root));
        Answer a = change(entries, list);
        if (a.code == LDAP_SUCCESS) set_replicas(entries.at(root), list);
        return a;
    });
}

bool known_type(int type) { return type >= kMaster && type <= kLargestType; }

Answer add(Exchange &ex, const std::optional<std::string> &value)
{
    ReplicaRequest r;
    if (!read_request(value, true, r)) return malformed();
    return change_table(ex, r.dn, [&](const EntryMap &entries, std::vector<Replica> &list) {
        Located server = locate(entries, r.server_dn);
        if (server.failure) return *server.failure;
        if (!known_type(r.type)) return error(LDAP_UNWILLING_TO_PERFORM, "unknown replica type");
        if (find_replica(list, r.server_dn) >= 0) return error(LDAP_ALREADY_EXISTS, "the server holds a replica already");
        if (r.type == kMaster && !list.empty()) return error(LDAP_UNWILLING_TO_PERFORM, "the partition has a master");
        list.push_back({r.server_dn, r.type});
        return Answer{};
    });
}

Answer remove(Exchange &ex, const std::optional<std::string> &value)
{
    ReplicaRequest r;
    if (!read_request(value, false, r)) return malformed();
    return change_table(ex, r.dn, [&](const EntryMap &, std::vector<Replica> &list) {
        int at = find_replica(list, r.server_dn);
        if (at < 0) return no_replica();
        if (list[at].type == kMaster) return error(LDAP_UNWILLING_TO_PERFORM, "the master replica cannot be removed");
        list.erase(list.begin() + at);
        return Answer{};
    });
}

// Making a replica the master demotes the old master to a secondary; a
// master cannot be demoted by itself.
Answer change_type(Exchange &ex, const std::optional<std::string> &value)
{
    ReplicaRequest r;
    if (!read_request(value, true, r)) return malformed();
    return change_table(ex, r.dn, [&](const EntryMap &, std::vector<Replica> &list) {
        if (!known_type(r.type)) return error(LDAP_UNWILLING_TO_PERFORM, "unknown replica type");
        int at = find_replica(list, r.server_dn);
        if (at < 0) return no_replica();
        if (list[at].type == kMaster && r.type != kMaster)
            return error(LDAP_UNWILLING_TO_PERFORM, "make another replica the master instead");
        if (r.type == kMaster)
            for (Replica &other : list)
                if (other.type == kMaster) other.type = 1;
        list[at].type = r.type;
        return Answer{};
    });
}

// serverDN, dn -> partition ID, state (0: on), modification time, purge
// time, local partition ID, the partition's DN, replica type, replica number.
Answer information(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string server_dn, dn;
    if (!f.string(server_dn) || !f.string(dn) || !f.end()) return malformed();
    return ex.tree().read([&](const EntryMap &entries) {
        std::string root;
        if (auto failure = partition_root(entries, dn, root)) return *failure;
        const Entry &entry = entries.at(root);
        std::vector<Replica> list = replicas(entry);
        int at = find_replica(list, server_dn);
        if (at < 0) return no_replica();
        int id = int(entry.seq);
        Answer a;
        a.value = Writer().put("iiiiisii", id, 0, 0, 0, id, entry.dn.c_str(), list[at].type, at + 1).bytes();
        return a;
    });
}

// dn -> the DNs of the servers that hold its replicas.
Answer list(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string dn;
    if (!f.string(dn) || !f.end()) return malformed();
    return ex.tree().read([&](const EntryMap &entries) {
        std::string root;
        if (auto failure = partition_root(entries, dn, root)) return *failure;
        Writer w;
        w.put("{");
        for (const Replica &r : replicas(entries.at(root))) w.put("s", r.server_dn.c_str());
        Answer a;
        a.value = w.put("}").bytes();
        return a;
    });
}

// The replica on serverDN must exist; its updates then arrive at once here.
Answer replica_exists(Exchange &ex, const std::string &dn, const std::string &server_dn)
{
    if (anonymous(ex)) return needs_bind();
    return ex.tree().read([&](const EntryMap &entries) {
        std::string root;
        if (auto failure = partition_root(entries, dn, root)) return *failure;
        if (!server_dn.empty() && find_replica(replicas(entries.at(root)), server_dn) < 0) return no_replica();
        return Answer{};
    });
}

// dn, serverDN, reserved
Answer receive_all(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string dn, server_dn, reserved;
    if (!f.string(dn) || !f.string(server_dn) || !f.string(reserved) || !f.end()) return malformed();
    if (server_dn.empty()) return error(LDAP_UNWILLING_TO_PERFORM, "which server?");
    return replica_exists(ex, dn, server_dn);
}

// dn, serverDN ("" : the master sends)
Answer send_all(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string dn, server_dn;
    if (!f.string(dn) || !f.string(server_dn) || !f.end()) return malformed();
    return replica_exists(ex, dn, server_dn);
}

const Registrar registrar([] {
    serve(7, add);
    serve(11, remove);
    serve(15, change_type);
    serve(17, information);
    serve(19, list);
    serve(21, receive_all);
    serve(23, send_all);
});

}  // namespace
}  // namespace dirsim::detail::management
