// Partition operations and their naming-context aliases.
#include "extops/runner.h"

namespace dirext::extops {
namespace {

// The bodies, shared by the partition names and their naming-context aliases
// (so that neither reaches the other through the exported symbol).

int split_partition(LDAP *ld, const char *dn, int flags)
{
    return call<Op::SplitPartition>(ld, nullptr, flags, dn);
}

int merge_partitions(LDAP *ld, const char *dn, int flags)
{
    return call<Op::MergePartitions>(ld, nullptr, flags, dn);
}

int partition_entry_count(LDAP *ld, const char *dn, int *count)
{
    if (!count) return LDAP_PARAM_ERROR;
    return call<Op::PartitionEntryCount>(
        ld, [count](BerElement *ber) { return scan<Op::PartitionEntryCount>(ber, count); }, dn);
}

int abort_partition_operation(LDAP *ld, const char *dn, int flags)
{
    return call<Op::AbortPartitionOperation>(ld, nullptr, flags, dn);
}

int request_partition_sync(LDAP *ld, const char *serverDN, const char *dn, int value)
{
    return call<Op::RequestPartitionSync>(ld, nullptr, serverDN, dn, value);
}

int split_orphan_partition(LDAP *ld, const char *serverDN, const char *dn)
{
    return call<Op::SplitOrphanPartition>(ld, nullptr, serverDN, dn);
}

int remove_orphan_partition(LDAP *ld, const char *serverDN, const char *dn)
{
    return call<Op::RemoveOrphanPartition>(ld, nullptr, serverDN, dn);
}

}  // namespace
}  // namespace dirext::extops

using namespace dirext::extops;

extern "C" {

int ldap_split_partition(LDAP *ld, const char *dn, int flags)
{
    return split_partition(ld, dn, flags);
}

int ldap_merge_partitions(LDAP *ld, const char *dn, int flags)
{
    return merge_partitions(ld, dn, flags);
}

int ldap_partition_entry_count(LDAP *ld, const char *dn, int *count)
{
    return partition_entry_count(ld, dn, count);
}

int ldap_abort_partition_operation(LDAP *ld, const char *dn, int flags)
{
    return abort_partition_operation(ld, dn, flags);
}

int ldap_request_partition_sync(LDAP *ld, const char *serverDN, const char *dn, int value)
{
    return request_partition_sync(ld, serverDN, dn, value);
}

int ldap_split_orphan_partition(LDAP *ld, const char *serverDN, const char *dn)
{
    return split_orphan_partition(ld, serverDN, dn);
}

int ldap_remove_orphan_partition(LDAP *ld, const char *serverDN, const char *dn)
{
    return remove_orphan_partition(ld, serverDN, dn);
}

int ldap_request_schema_sync(LDAP *ld, const char *serverDN, int value)
{
    return call<Op::RequestSchemaSync>(ld, nullptr, serverDN, value);
}

int ldap_create_naming_context(LDAP *ld, const char *dn, int flags)
{
    return split_partition(ld, dn, flags);
}

int ldap_merge_naming_contexts(LDAP *ld, const char *dn, int flags)
{
    return merge_partitions(ld, dn, flags);
}

int ldap_naming_context_entry_count(LDAP *ld, const char *dn, int *count)
{
    return partition_entry_count(ld, dn, count);
}

int ldap_abort_naming_context_operation(LDAP *ld, const char *dn, int flags)
{
    return abort_partition_operation(ld, dn, flags);
}

int ldap_request_naming_context_sync(LDAP *ld, const char *serverDN, const char *dn, int value)
{
    return request_partition_sync(ld, serverDN, dn, value);
}

int ldap_create_orphan_naming_context(LDAP *ld, const char *serverDN, const char *dn)
{
    return split_orphan_partition(ld, serverDN, dn);
}

int ldap_remove_orphan_naming_context(LDAP *ld, const char *serverDN, const char *dn)
{
    return remove_orphan_partition(ld, serverDN, dn);
}

}  // extern "C"
