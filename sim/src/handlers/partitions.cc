// Partition operations: split, merge, entry count, abort, partition and
// schema synchronisation, orphan partitions.  See management.h for how
// partitions and replicas live in the tree.
#include <ldap.h>

#include "management.h"

namespace dirsim::detail::management {
namespace {

// flags, dn
bool flags_and_dn(const std::optional<std::string> &value, std::string &dn)
{
    Fields f(value);
    int flags = 0;
    return f.integer(flags) && f.string(dn) && f.end();
}

// Split: dn becomes the root of a new partition held by the same replicas as
// the partition it was part of.
Answer split(Exchange &ex, const std::optional<std::string> &value)
{
    std::string dn;
    if (!flags_and_dn(value, dn)) return malformed();
    if (anonymous(ex)) return needs_bind();
    return ex.tree().write([&](EntryMap &entries, uint64_t &) {
        Located at = locate(entries, dn);
        if (at.failure) return *at.failure;
        if (is_partition_root(entries, at.ndn)) return error(LDAP_ALREADY_EXISTS, "already a partition root");
        std::vector<Replica> ring = replicas(entries.at(partition_of(entries, at.ndn)));
        if (ring.empty()) return error(LDAP_UNWILLING_TO_PERFORM, "the parent partition has no replicas");
        set_replicas(entries.at(at.ndn), ring);
        return Answer{};
    });
}

// Merge: the partition rooted at dn joins its parent partition.
Answer merge(Exchange &ex, const std::optional<std::string> &value)
{
    std::string dn;
    if (!flags_and_dn(value, dn)) return malformed();
    if (anonymous(ex)) return needs_bind();
    return ex.tree().write([&](EntryMap &entries, uint64_t &) {
        Located at = locate(entries, dn);
        if (at.failure) return *at.failure;
        if (!is_partition_root(entries, at.ndn)) return error(LDAP_UNWILLING_TO_PERFORM, "not a partition root");
        if (parent_dn(at.ndn).empty()) return error(LDAP_UNWILLING_TO_PERFORM, "a naming context has no parent");
        set_replicas(entries.at(at.ndn), {});
        return Answer{};
    });
}

// Entries of the partition: the subtree of its root without the subtrees of
// the partitions below it.
Answer entry_count(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string dn;
    if (!f.string(dn) || !f.end()) return malformed();
    return ex.tree().read([&](const EntryMap &entries) {
        Located at = locate(entries, dn);
        if (at.failure) return *at.failure;
        if (!is_partition_root(entries, at.ndn)) return error(LDAP_UNWILLING_TO_PERFORM, "not a partition root");
        int count = 0;
        for (const auto &[ndn, entry] : entries)
            if (in_scope(ndn, at.ndn, LDAP_SCOPE_SUBTREE) && partition_of(entries, ndn) == at.ndn) ++count;
        Answer a;
        a.value = Writer().put("i", count).bytes();
        return a;
    });
}

// Nothing runs in the background here, so there is never anything to abort;
// the partition must exist all the same.
Answer abort_operation(Exchange &ex, const std::optional<std::string> &value)
{
    std::string dn;
    if (!flags_and_dn(value, dn)) return malformed();
    if (anonymous(ex)) return needs_bind();
    return ex.tree().read([&](const EntryMap &entries) {
        Located at = locate(entries, dn);
        if (at.failure) return *at.failure;
        if (!is_partition_root(entries, at.ndn)) return error(LDAP_UNWILLING_TO_PERFORM, "not a partition root");
        return Answer{};
    });
}

// Requests that name a server object and, optionally, a partition: they
// succeed when both exist (synchronisation happens at once here).
Answer server_and_partition(Exchange &ex, const std::string &server_dn, const std::string *dn)
{
    if (anonymous(ex)) return needs_bind();
    return ex.tree().read([&](const EntryMap &entries) {
        Located server = locate(entries, server_dn);
        if (server.failure) return *server.failure;
        if (!dn) return Answer{};
        Located at = locate(entries, *dn);
        if (at.failure) return *at.failure;
        if (!is_partition_root(entries, at.ndn)) return error(LDAP_UNWILLING_TO_PERFORM, "not a partition root");
        return Answer{};
    });
}

Answer partition_sync(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string server_dn, dn;
    int delay = 0;
    if (!f.string(server_dn) || !f.string(dn) || !f.integer(delay) || !f.end()) return malformed();
    return server_and_partition(ex, server_dn, &dn);
}

Answer schema_sync(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string server_dn;
    int delay = 0;
    if (!f.string(server_dn) || !f.integer(delay) || !f.end()) return malformed();
    return server_and_partition(ex, server_dn, nullptr);
}

// Orphan partitions: serverDN, dn.
Answer orphan(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string server_dn, dn;
    if (!f.string(server_dn) || !f.string(dn) || !f.end()) return malformed();
    return server_and_partition(ex, server_dn, &dn);
}

const Registrar registrar([] {
    serve(3, split);
    serve(5, merge);
    serve(13, entry_count);
    serve(29, abort_operation);
    serve(25, partition_sync);
    serve(27, schema_sync);
    serve(39, orphan);
    serve(41, orphan);
});

}  // namespace
}  // namespace dirsim::detail::management
