// Management extended operations: request encoders, request values, response
// decoders and the copies handed to the caller.  The simulator answers each
// request with a scripted success.  Operations that send no value and read
// none allocate nothing themselves (see the exclusions).
#include "alloc_failures.h"
#include "ber_bytes.h"
#include "sweep.h"

namespace allocsweep {
namespace {

using extops_test::ber;

const char kDn[] = "o=lab";

// An operation without outputs, answered by the scripted success.
template <int Arc, int (*Call)(LDAP *)>
int plain(Env &env)
{
    env.answer(Arc);
    return Call(env.ld());
}

int split(LDAP *ld) { return ldap_split_partition(ld, kDn, 1); }
int merge(LDAP *ld) { return ldap_merge_partitions(ld, kDn, 1); }
int abort_partition(LDAP *ld) { return ldap_abort_partition_operation(ld, kDn, 1); }
int partition_sync(LDAP *ld) { return ldap_request_partition_sync(ld, kServer1, kDn, 1); }
int schema_sync(LDAP *ld) { return ldap_request_schema_sync(ld, kServer1, 1); }
int split_orphan(LDAP *ld) { return ldap_split_orphan_partition(ld, kServer1, kDn); }
int remove_orphan(LDAP *ld) { return ldap_remove_orphan_partition(ld, kServer1, kDn); }
int create_context(LDAP *ld) { return ldap_create_naming_context(ld, kDn, 1); }
int merge_contexts(LDAP *ld) { return ldap_merge_naming_contexts(ld, kDn, 1); }
int abort_context(LDAP *ld) { return ldap_abort_naming_context_operation(ld, kDn, 1); }
int context_sync(LDAP *ld) { return ldap_request_naming_context_sync(ld, kServer1, kDn, 1); }
int create_orphan_context(LDAP *ld) { return ldap_create_orphan_naming_context(ld, kServer1, kDn); }
int remove_orphan_context(LDAP *ld) { return ldap_remove_orphan_naming_context(ld, kServer1, kDn); }
int add_replica(LDAP *ld) { return ldap_add_replica(ld, kDn, kServer1, 1, 0); }
int remove_replica(LDAP *ld) { return ldap_remove_replica(ld, kDn, kServer1, 0); }
int change_replica(LDAP *ld) { return ldap_change_replica_type(ld, kDn, kServer1, 2, 0); }
int receive_updates(LDAP *ld) { return ldap_receive_all_updates(ld, kDn, kServer1, nullptr); }
int send_updates(LDAP *ld) { return ldap_send_all_updates(ld, kDn, kServer1); }
int set_filter(LDAP *ld) { return ldap_set_replication_filter(ld, kServer1, "person$cn$sn$$device$$$"); }
int limber(LDAP *ld) { return wrapper_ldap_trigger_limber(ld, kServer1); }
int back_process(LDAP *ld) { return ldap_trigger_back_process(ld, LDAPX_TRIGGER_LIMBER, kServer1); }

template <typename Count>
int entry_count(Env &env, Count count_entries)
{
    env.answer(13, ber("i", 42));
    int count = -1;
    const int rc = count_entries(env.ld(), kDn, &count);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(count, -1);
    }
    return rc;
}
int partition_count(Env &env) { return entry_count(env, ldap_partition_entry_count); }
int context_count(Env &env) { return entry_count(env, ldap_naming_context_entry_count); }

int replica_info(Env &env)
{
    env.answer(17, ber("iiiiisii", 1, 2, 3, 4, 5, "cn=replica,o=lab", 6, 7));
    ReplicaInfo info{};
    return ldap_get_replica_info(env.ld(), kDn, kServer1, &info);
}

int list_replicas(Env &env)
{
    char a[] = "cn=a", b[] = "cn=b";
    char *names[] = {a, b, nullptr};
    env.answer(19, ber("{v}", names));
    char **list = nullptr;
    const int rc = ldap_list_replicas(env.ld(), kDn, &list);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(list, nullptr);
    }
    ldap_value_free(list);
    return rc;
}

int get_filter(Env &env)
{
    env.answer(37, ber("{{s{ss}}{s{}}}", "person", "cn", "sn", "device"));
    char *text = nullptr;
    const int rc = ldap_get_replication_filter(env.ld(), kServer1, &text);
    if (rc == LDAP_SUCCESS) {
        EXPECT_STREQ(text, "person$cn$sn$$device$$$");
    } else {
        EXPECT_EQ(text, nullptr);
    }
    ldapx_memfree(text);
    return rc;
}

// A string answered by the server and copied for the caller.
template <int Arc, typename Call>
int returned_string(Env &env, Call call)
{
    env.answer(Arc, ber("s", "cn=admin,o=lab"));
    char *dn = nullptr;
    const int rc = call(env.ld(), &dn);
    if (rc == LDAP_SUCCESS) {
        EXPECT_STREQ(dn, "cn=admin,o=lab");
    } else {
        EXPECT_EQ(dn, nullptr);
    }
    ldapx_memfree(dn);
    return rc;
}
int bind_dn(Env &env) { return returned_string<31>(env, ldap_get_bind_dn); }
int identity_name(Env &env) { return returned_string<31>(env, ldap_get_context_identity_name); }
int quor_to_ldap(Env &env)
{
    return returned_string<1>(env, [](LDAP *ld, char **dn) {
        const uint16_t name[] = {'a', 'd', 'm', 'i', 'n', 0};
        return ldap_quor_to_ldap(ld, name, dn);
    });
}
int dns_to_x500(Env &env)
{
    return returned_string<101>(env, [](LDAP *ld, char **dn) { return ldap_dns_to_x500_dn(ld, "admin.lab", dn); });
}

int privileges(Env &env)
{
    env.answer(33, ber("i", 7));
    int value = 0;
    return ldap_get_effective_privileges(env.ld(), kAdminDn, kDn, "cn", &value);
}

int privileges_list(Env &env)
{
    env.answer(103, ber("{{i}[{i}{i}]}", 2, 3, 4));
    char cn[] = "cn", sn[] = "sn";
    char *names[] = {cn, sn, nullptr};
    int values[2] = {};
    return ldap_get_effective_privileges_list(env.ld(), kAdminDn, kDn, names, values);
}

// Backup and restore store their result in the handle, except an early
// LDAP_NO_MEMORY: the request encoder's, the call's first allocation.
int backup(Env &env)
{
    env.answer(96, ber("iiio{i[{i}{i}]}", 3, 7, 3, "abc", ber_len_t(3), 2, 1, 2));
    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = -1;
    const int rc = stored_unless_early(env.ld(), ldap_backup_object(env.ld(), kDn, nullptr, &state, &data, &chunks, &size));
    if (rc == LDAP_SUCCESS) {
        EXPECT_STREQ(state, "7+3");
        EXPECT_STREQ(chunks, "2;1;2;");
    } else {  // the outputs are left as they were
        EXPECT_EQ(state, nullptr);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(chunks, nullptr);
        EXPECT_EQ(size, -1);
    }
    for (char *p : {state, data, chunks}) ldapx_memfree(p);
    return rc;
}

int restore(Env &env)
{
    env.answer(98);
    return stored_unless_early(env.ld(), ldap_restore_object(env.ld(), "cn=x,o=lab", "x", "abc", "2;1;2;", 3));
}

int returned_buffer(Env &)
{
    Ber element = reader(ber("s", "abc"));
    char *buffer = nullptr;
    const ber_tag_t tag = get_returnedBuffer(element.get(), &buffer);
    if (tag == LBER_ERROR) {
        EXPECT_EQ(buffer, nullptr);
    } else {
        EXPECT_STREQ(buffer, "abc");
    }
    ber_memfree(buffer);
    return tag == LBER_ERROR ? kNull : LDAP_SUCCESS;
}

}  // namespace

const std::vector<Row> &extops_rows()
{
    static const std::vector<Row> rows = {
        {"ldap_split_partition", LDAP_NO_MEMORY, plain<3, split>},
        {"ldap_merge_partitions", LDAP_NO_MEMORY, plain<5, merge>},
        {"ldap_partition_entry_count", LDAP_NO_MEMORY, partition_count},
        {"ldap_abort_partition_operation", LDAP_NO_MEMORY, plain<29, abort_partition>},
        {"ldap_request_partition_sync", LDAP_NO_MEMORY, plain<25, partition_sync>},
        {"ldap_request_schema_sync", LDAP_NO_MEMORY, plain<27, schema_sync>},
        {"ldap_split_orphan_partition", LDAP_NO_MEMORY, plain<39, split_orphan>},
        {"ldap_remove_orphan_partition", LDAP_NO_MEMORY, plain<41, remove_orphan>},
        {"ldap_create_naming_context", LDAP_NO_MEMORY, plain<3, create_context>},
        {"ldap_merge_naming_contexts", LDAP_NO_MEMORY, plain<5, merge_contexts>},
        {"ldap_naming_context_entry_count", LDAP_NO_MEMORY, context_count},
        {"ldap_abort_naming_context_operation", LDAP_NO_MEMORY, plain<29, abort_context>},
        {"ldap_request_naming_context_sync", LDAP_NO_MEMORY, plain<25, context_sync>},
        {"ldap_create_orphan_naming_context", LDAP_NO_MEMORY, plain<39, create_orphan_context>},
        {"ldap_remove_orphan_naming_context", LDAP_NO_MEMORY, plain<41, remove_orphan_context>},
        {"ldap_add_replica", LDAP_NO_MEMORY, plain<7, add_replica>},
        {"ldap_remove_replica", LDAP_NO_MEMORY, plain<11, remove_replica>},
        {"ldap_change_replica_type", LDAP_NO_MEMORY, plain<15, change_replica>},
        {"ldap_get_replica_info", LDAP_NO_MEMORY, replica_info},
        {"ldap_list_replicas", LDAP_NO_MEMORY, list_replicas},
        {"ldap_receive_all_updates", LDAP_NO_MEMORY, plain<21, receive_updates>},
        {"ldap_send_all_updates", LDAP_NO_MEMORY, plain<23, send_updates>},
        {"ldap_set_replication_filter", LDAP_NO_MEMORY, plain<35, set_filter>},
        {"ldap_get_replication_filter", LDAP_NO_MEMORY, get_filter},
        {"ldap_get_bind_dn", LDAP_NO_MEMORY, bind_dn},
        {"ldap_get_context_identity_name", LDAP_NO_MEMORY, identity_name},
        {"ldap_get_effective_privileges", LDAP_NO_MEMORY, privileges},
        {"ldap_get_effective_privileges_list", LDAP_NO_MEMORY, privileges_list},
        {"ldap_quor_to_ldap", LDAP_NO_MEMORY, quor_to_ldap},
        {"ldap_dns_to_x500_dn", LDAP_NO_MEMORY, dns_to_x500},
        {"wrapper_ldap_trigger_limber", LDAP_NO_MEMORY, plain<49, limber>},
        {"ldap_trigger_back_process", LDAP_NO_MEMORY, plain<49, back_process>},
        {"ldap_backup_object", LDAP_NO_MEMORY, backup},
        {"ldap_restore_object", LDAP_NO_MEMORY, restore},
        // LBER_ERROR with a null buffer.
        {"get_returnedBuffer", kNull, returned_buffer},
    };
    return rows;
}

}  // namespace allocsweep
