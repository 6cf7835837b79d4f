// The partition and replica commands: partitions, replicas and replica
// add|remove|type.
#include <dirext/extops.h>

#include <strings.h>

#include "commands.h"
#include "json_line.h"
#include "ldap_handles.h"
#include "management_support.h"

namespace dirext_cli {
namespace {

struct BervalsFree {
    void operator()(struct berval **v) const { ldap_value_free_len(v); }
};
using Bervals = std::unique_ptr<struct berval *, BervalsFree>;

// The root DSE's naming contexts: the top-level partitions.
int naming_contexts(LDAP *ld, std::vector<std::string> &out)
{
    char name[] = "namingContexts";
    char *attributes[] = {name, nullptr};
    LDAPMessage *raw = nullptr;
    int rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr, nullptr,
                               0, &raw);
    toolkit::Message result(raw);
    if (rc != LDAP_SUCCESS) return rc;
    LDAPMessage *entry = ldap_first_entry(ld, result.get());
    Bervals values(entry ? ldap_get_values_len(ld, entry, name) : nullptr);
    for (struct berval **v = values.get(); v && *v; ++v) out.emplace_back((*v)->bv_val, (*v)->bv_len);
    return LDAP_SUCCESS;
}

int list_replicas(LDAP *ld, const std::string &partition, std::vector<std::string> &servers)
{
    char **raw = nullptr;
    int rc = ldap_list_replicas(ld, partition.c_str(), &raw);
    StringArray owned(raw);
    for (char **name = raw; rc == LDAP_SUCCESS && name && *name; ++name) servers.emplace_back(*name);
    return rc;
}

void print_replica(const std::string &server, const ReplicaInfo &info, bool json)
{
    if (json) {
        JsonLine()
            .field("server", server)
            .field("partition", info.dn)
            .field("type", replica_type_name(info.trailingValue1))
            .field("type_number", info.trailingValue1)
            .field("replica_number", info.trailingValue2)
            .field("state", info.leadingValue2)
            .field("partition_id", info.leadingValue1)
            .field("local_partition_id", info.leadingValue5)
            .field("modification_time", info.leadingValue3)
            .field("purge_time", info.leadingValue4)
            .print();
        return;
    }
    print_line(server + ": " + replica_type_text(info.trailingValue1) + ", replica " +
               std::to_string(info.trailingValue2) + ", state " + std::to_string(info.leadingValue2) +
               ", partition id " + std::to_string(info.leadingValue1) + " (local " +
               std::to_string(info.leadingValue5) + "), modified " + std::to_string(info.leadingValue3) +
               ", purged " + std::to_string(info.leadingValue4));
}

// One sub-command of `replica`: its operands after the word, the request and
// the verdict printed when the server agrees.
struct ReplicaAction {
    const char *name;
    size_t operands;
    bool typed;  // its last operand is a replica type
    int (*send)(LDAP *ld, const char *partition, const char *server, int type);
    std::string (*verdict)(const std::string &partition, const std::string &server, int type);
};

constexpr ReplicaAction kReplicaActions[] = {
    {"add", 3, true,
     [](LDAP *ld, const char *p, const char *s, int type) { return ldap_add_replica(ld, p, s, type, 0); },
     [](const std::string &p, const std::string &s, int type) {
         return p + ": " + replica_type_text(type) + " replica added on " + s;
     }},
    {"remove", 2, false, [](LDAP *ld, const char *p, const char *s, int) { return ldap_remove_replica(ld, p, s, 0); },
     [](const std::string &p, const std::string &s, int) { return p + ": replica removed from " + s; }},
    {"type", 3, true,
     [](LDAP *ld, const char *p, const char *s, int type) { return ldap_change_replica_type(ld, p, s, type, 0); },
     [](const std::string &p, const std::string &s, int type) {
         return p + ": replica on " + s + " is now " + replica_type_text(type);
     }},
};

const ReplicaAction *find_replica_action(const std::string &word)
{
    for (const ReplicaAction &a : kReplicaActions)
        if (strcasecmp(a.name, word.c_str()) == 0) return &a;
    return nullptr;
}

}  // namespace

int run_partitions(Session &s, const Invocation &inv)
{
    std::vector<std::string> partitions;
    if (int rc = naming_contexts(s.ld(), partitions)) return report_failure(s.ld(), "partitions: root DSE", rc);
    for (const std::string &partition : partitions) {
        int entries = 0;
        std::vector<std::string> servers;
        int rc = ldap_partition_entry_count(s.ld(), partition.c_str(), &entries);
        if (rc == LDAP_SUCCESS) rc = list_replicas(s.ld(), partition, servers);
        if (rc != LDAP_SUCCESS) return report_failure(s.ld(), ("partitions: " + partition).c_str(), rc);
        if (inv.json)
            JsonLine().field("partition", partition).field("entries", entries).field("replicas", servers).print();
        else
            print_line(partition + ": " + count_of(entries, "entry", "entries") + ", " +
                       count_of(static_cast<long>(servers.size()), "replica", "replicas"));
    }
    return 0;
}

int run_replicas(Session &s, const Invocation &inv)
{
    const std::string &partition = inv.operands[0];
    std::vector<std::string> servers;
    if (int rc = list_replicas(s.ld(), partition, servers)) return report_failure(s.ld(), "replicas", rc);
    if (servers.empty() && !inv.json) print_line(partition + ": no replicas");
    for (const std::string &server : servers) {
        ReplicaInfo info{};
        if (int rc = ldap_get_replica_info(s.ld(), partition.c_str(), server.c_str(), &info))
            return report_failure(s.ld(), ("replicas: " + server).c_str(), rc);
        print_replica(server, info, inv.json);
    }
    return 0;
}

// Its row lets it check the operands before it connects.
int run_replica(Session &s, const Invocation &inv)
{
    const std::vector<std::string> &operands = inv.operands;
    const ReplicaAction *action = find_replica_action(operands[0]);
    if (!action)
        return management_usage(inv, "unknown replica command '" + operands[0] + "'; one of add, remove, type");
    size_t given = operands.size() - 1;
    if (given != action->operands)
        return management_usage(inv, std::string(given < action->operands ? "too few" : "too many") +
                                         " operands for replica " + action->name);
    const std::string &partition = operands[1], &server = operands[2];
    std::optional<int> type = action->typed ? parse_replica_type(operands[3]) : 0;
    if (!type)
        return management_usage(inv, "unknown replica type '" + operands[3] + "'; one of " + replica_type_names() +
                                         ", or a number");
    if (int rc = s.connect()) return rc;
    if (int rc = action->send(s.ld(), partition.c_str(), server.c_str(), *type))
        return report_failure(s.ld(), ("replica " + std::string(action->name)).c_str(), rc);
    print_line(action->verdict(partition, server, *type));
    return 0;
}

}  // namespace dirext_cli
