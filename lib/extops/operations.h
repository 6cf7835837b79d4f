// The management extended operations, one row each: OIDs, the BER formats of
// their request fields and outputs, and where they depart from the common
// conventions.  The runner (runner.h) runs every row the same way.
#pragma once

#include "dirext/common.h"  // reads <ldap.h> the library's way; include it first
#include "dirext/extops.h"

namespace dirext::extops {

enum class Op : unsigned {
    SplitPartition,
    MergePartitions,
    PartitionEntryCount,
    AbortPartitionOperation,
    RequestPartitionSync,
    RequestSchemaSync,
    SplitOrphanPartition,
    RemoveOrphanPartition,
    AddReplica,
    RemoveReplica,
    ChangeReplicaType,
    GetReplicaInfo,
    ListReplicas,
    ReceiveAllUpdates,
    SendAllUpdates,
    SetReplicationFilter,
    GetReplicationFilter,
    GetBindDn,
    GetEffectivePrivileges,
    GetEffectivePrivilegesList,
    QuorToLdap,
    DnsToX500Dn,
    RefreshServer,
    TriggerBacklink,
    TriggerJanitor,
    TriggerLimber,
    TriggerSkulker,
    TriggerSchemaSync,
    TriggerPartitionPurge,
    BackupObject,
    RestoreObject,
};

enum Convention : unsigned {
    kCommon = 0,
    // A missing or foreign response name is reported (-12) even when the
    // operation itself failed.
    kNameBeforeResult = 1u << 0,
    // The result is also stored in the handle (LDAP_OPT_RESULT_CODE).
    kStoresResult = 1u << 1,
};

struct Operation {
    const char *function;         // the exported function
    const char *request_oid;
    const char *response_oid;     // nullptr: any response name is accepted
    const char *request_format;   // ber_printf format of the request fields (nullptr: none or own encoder)
    const char *response_format;  // format of the outputs (nullptr: none or own decoder)
    int undecodable;              // result for a response value that does not decode
    int no_decoder;               // result when the decoder cannot be created
    unsigned conventions;
};

#define DIREXT_OID(arc) "2.16.840.1.113719.1.27.100." #arc
#define DIREXT_ROW(fn, req, resp, reqfmt, respfmt) \
    {fn, DIREXT_OID(req), DIREXT_OID(resp), reqfmt, respfmt, LDAP_ENCODING_ERROR, LDAP_NO_MEMORY, kCommon}

// In the order of Op.  Integers often precede strings on the wire in the
// reverse of the argument order; the formats are the wire order.
inline constexpr Operation kOperations[] = {
    DIREXT_ROW("ldap_split_partition", 3, 4, "is", nullptr),
    DIREXT_ROW("ldap_merge_partitions", 5, 6, "is", nullptr),
    DIREXT_ROW("ldap_partition_entry_count", 13, 14, "s", "i"),
    DIREXT_ROW("ldap_abort_partition_operation", 29, 30, "is", nullptr),
    DIREXT_ROW("ldap_request_partition_sync", 25, 26, "ssi", nullptr),
    DIREXT_ROW("ldap_request_schema_sync", 27, 28, "si", nullptr),
    DIREXT_ROW("ldap_split_orphan_partition", 39, 40, "ss", nullptr),
    DIREXT_ROW("ldap_remove_orphan_partition", 41, 42, "ss", nullptr),
    DIREXT_ROW("ldap_add_replica", 7, 8, "iiss", nullptr),
    DIREXT_ROW("ldap_remove_replica", 11, 12, "iss", nullptr),
    DIREXT_ROW("ldap_change_replica_type", 15, 16, "iiss", nullptr),
    DIREXT_ROW("ldap_get_replica_info", 17, 18, "ss", "iiiiiaii"),
    DIREXT_ROW("ldap_list_replicas", 19, 20, "s", "v"),
    DIREXT_ROW("ldap_receive_all_updates", 21, 22, "sss", nullptr),
    DIREXT_ROW("ldap_send_all_updates", 23, 24, "ss", nullptr),
    DIREXT_ROW("ldap_set_replication_filter", 35, 36, nullptr, nullptr),
    {"ldap_get_replication_filter", DIREXT_OID(37), nullptr, "s", nullptr, LDAP_DECODING_ERROR, LDAP_NO_MEMORY,
     kCommon},
    DIREXT_ROW("ldap_get_bind_dn", 31, 32, nullptr, "O"),
    DIREXT_ROW("ldap_get_effective_privileges", 33, 34, "sss", "i"),
    DIREXT_ROW("ldap_get_effective_privileges_list", 103, 104, "ss{v}", "{{i}["),
    DIREXT_ROW("ldap_quor_to_ldap", 1, 2, nullptr, "O"),
    DIREXT_ROW("ldap_dns_to_x500_dn", 101, 102, "s", "O"),
    DIREXT_ROW("ldap_refresh_server", 9, 10, nullptr, nullptr),
    DIREXT_ROW("wrapper_ldap_trigger_backlink", 43, 44, nullptr, nullptr),
    DIREXT_ROW("wrapper_ldap_trigger_janitor", 47, 48, nullptr, nullptr),
    DIREXT_ROW("wrapper_ldap_trigger_limber", 49, 50, "s", nullptr),
    DIREXT_ROW("wrapper_ldap_trigger_skulker", 51, 52, nullptr, nullptr),
    DIREXT_ROW("wrapper_ldap_trigger_schema_sync", 53, 54, nullptr, nullptr),
    DIREXT_ROW("wrapper_ldap_trigger_partition_purge", 55, 56, nullptr, nullptr),
    {"ldap_backup_object", DIREXT_OID(96), DIREXT_OID(97), "siis", nullptr, LDAP_DECODING_ERROR, LDAP_NO_MEMORY,
     kNameBeforeResult | kStoresResult},
    {"ldap_restore_object", DIREXT_OID(98), DIREXT_OID(99), "ssi", nullptr, LDAP_DECODING_ERROR, LDAP_NO_MEMORY,
     kNameBeforeResult | kStoresResult},
};

#undef DIREXT_ROW
#undef DIREXT_OID

inline constexpr unsigned kOperationCount = sizeof kOperations / sizeof kOperations[0];
static_assert(kOperationCount == static_cast<unsigned>(Op::RestoreObject) + 1, "one row per Op, in order");

constexpr const Operation &operation(Op op) { return kOperations[static_cast<unsigned>(op)]; }

}  // namespace dirext::extops
