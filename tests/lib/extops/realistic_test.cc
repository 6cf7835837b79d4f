// The operations against the simulator's realistic answers: round trips
// through its tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "extops_fixture.h"

using namespace extops_test;

namespace {

class extopsRealisticTest : public ExtopsTest {
protected:
    void SetUp() override
    {
        ExtopsTest::SetUp();
        ld_ = open();
        ASSERT_TRUE(ld_);
    }

    std::vector<std::string> replicas(const char *dn)
    {
        char **names = nullptr;
        EXPECT_EQ(ldap_list_replicas(ld_.get(), dn, &names), 0);
        std::vector<std::string> out;
        for (char **n = names; n && *n; ++n) out.push_back(*n);
        ldap_value_free(names);
        return out;
    }

    int count(const char *dn)
    {
        int n = -1;
        EXPECT_EQ(ldap_partition_entry_count(ld_.get(), dn, &n), 0) << dn;
        return n;
    }

    Session ld_;
};

const char kAlice[] = "cn=Alice,ou=people,o=lab";

TEST_F(extopsRealisticTest, BackupThenRestoreRecreatesTheEntry)
{
    const auto description = server_->values(kAlice, "description");
    ASSERT_EQ(description.size(), 1u);

    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = 0;
    ASSERT_EQ(ldap_backup_object(ld_.get(), kAlice, nullptr, &state, &data, &chunks, &size), 0);
    std::string backup(data, static_cast<std::size_t>(size));
    EXPECT_EQ(backup.rfind("dn: cn=Alice,ou=people,o=lab\n", 0), 0u) << backup;
    EXPECT_EQ(std::string(chunks), "1;" + std::to_string(size) + ";");
    EXPECT_NE(state, nullptr);

    ASSERT_EQ(ldap_delete_ext_s(ld_.get(), kAlice, nullptr, nullptr), 0);
    ASSERT_FALSE(server_->exists(kAlice));

    EXPECT_EQ(ldap_restore_object(ld_.get(), kAlice, nullptr, data, chunks, size), 0);
    EXPECT_TRUE(server_->exists(kAlice));
    EXPECT_EQ(server_->values(kAlice, "description"), description);  // non-ASCII, trailing space
    EXPECT_EQ(server_->values(kAlice, "sn"), std::vector<std::string>{"Smith"});
    ldapx_memfree(data);
    ldapx_memfree(chunks);
    ldapx_memfree(state);
}

TEST_F(extopsRealisticTest, RestoreUnderAMissingParentFails)
{
    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = 0;
    ASSERT_EQ(ldap_backup_object(ld_.get(), kAlice, nullptr, &state, &data, &chunks, &size), 0);
    ASSERT_EQ(ldap_delete_ext_s(ld_.get(), kAlice, nullptr, nullptr), 0);
    ASSERT_EQ(ldap_delete_ext_s(ld_.get(), "ou=people,o=lab", nullptr, nullptr), 0);
    EXPECT_EQ(ldap_restore_object(ld_.get(), kAlice, nullptr, data, chunks, size), LDAP_NO_SUCH_OBJECT);
    int stored = 0;
    ldap_get_option(ld_.get(), LDAP_OPT_RESULT_CODE, &stored);
    EXPECT_EQ(stored, LDAP_NO_SUCH_OBJECT);
    ldapx_memfree(data);
    ldapx_memfree(chunks);
    ldapx_memfree(state);
}

TEST_F(extopsRealisticTest, ReplicationFilterSetThenGet)
{
    for (const char *text : {"person$cn$sn$$organization$$$", "group$member$$$"}) {
        ASSERT_EQ(ldap_set_replication_filter(ld_.get(), kServer1, text), 0);
        char *read = nullptr;
        ASSERT_EQ(ldap_get_replication_filter(ld_.get(), kServer1, &read), 0);
        EXPECT_STREQ(read, text);
        ldapx_memfree(read);
    }
    // The empty filter reads back as the empty text.
    ASSERT_EQ(ldap_set_replication_filter(ld_.get(), kServer1, "$"), 0);
    char *read = nullptr;
    ASSERT_EQ(ldap_get_replication_filter(ld_.get(), kServer1, &read), 0);
    EXPECT_STREQ(read, "");
    ldapx_memfree(read);
    EXPECT_EQ(ldap_get_replication_filter(ld_.get(), "cn=nobody,o=lab", &read), LDAP_NO_SUCH_OBJECT);
}

TEST_F(extopsRealisticTest, ReplicaTableChanges)
{
    EXPECT_EQ(replicas("o=lab"), std::vector<std::string>{kServer1});
    ASSERT_EQ(ldap_add_replica(ld_.get(), "o=lab", kServer2, 1, 0), 0);
    EXPECT_EQ(replicas("o=lab"), (std::vector<std::string>{kServer1, kServer2}));
    EXPECT_EQ(ldap_add_replica(ld_.get(), "o=lab", kServer2, 2, 0), LDAP_ALREADY_EXISTS);

    ReplicaInfo info;
    ASSERT_EQ(ldap_get_replica_info(ld_.get(), "o=lab", kServer2, &info), 0);
    EXPECT_STREQ(info.dn, "o=lab");
    EXPECT_EQ(info.trailingValue1, 1);  // type
    EXPECT_EQ(info.trailingValue2, 2);  // replica number

    // Promoting server2 demotes server1; the master cannot be removed.
    ASSERT_EQ(ldap_change_replica_type(ld_.get(), "o=lab", kServer2, 0, 0), 0);
    ASSERT_EQ(ldap_get_replica_info(ld_.get(), "o=lab", kServer1, &info), 0);
    EXPECT_EQ(info.trailingValue1, 1);
    EXPECT_EQ(ldap_remove_replica(ld_.get(), "o=lab", kServer2, 0), LDAP_UNWILLING_TO_PERFORM);
    ASSERT_EQ(ldap_remove_replica(ld_.get(), "o=lab", kServer1, 0), 0);
    EXPECT_EQ(replicas("o=lab"), std::vector<std::string>{kServer2});
    EXPECT_EQ(ldap_get_replica_info(ld_.get(), "o=lab", kServer1, &info), LDAP_NO_SUCH_ATTRIBUTE);

    EXPECT_EQ(ldap_receive_all_updates(ld_.get(), "o=lab", kServer2, nullptr), 0);
    EXPECT_EQ(ldap_send_all_updates(ld_.get(), "o=lab", nullptr), 0);
}

TEST_F(extopsRealisticTest, EntryCountsFollowSplitAndMerge)
{
    EXPECT_EQ(count("o=lab"), 7);
    ASSERT_EQ(ldap_split_partition(ld_.get(), "ou=people,o=lab", 0), 0);
    EXPECT_EQ(count("o=lab"), 5);
    EXPECT_EQ(count("ou=people,o=lab"), 2);
    EXPECT_EQ(replicas("ou=people,o=lab"), std::vector<std::string>{kServer1});  // the parent's ring
    EXPECT_EQ(ldap_split_partition(ld_.get(), "ou=people,o=lab", 0), LDAP_ALREADY_EXISTS);
    ASSERT_EQ(ldap_merge_partitions(ld_.get(), "ou=people,o=lab", 0), 0);
    EXPECT_EQ(count("o=lab"), 7);
    int n = -1;
    EXPECT_EQ(ldap_partition_entry_count(ld_.get(), "ou=people,o=lab", &n), LDAP_UNWILLING_TO_PERFORM);
    EXPECT_EQ(ldap_partition_entry_count(ld_.get(), "o=nowhere", &n), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(n, -1);
}

TEST_F(extopsRealisticTest, IdentityAndNames)
{
    char *dn = nullptr;
    ASSERT_EQ(ldap_get_bind_dn(ld_.get(), &dn), 0);
    EXPECT_STREQ(dn, kAdmin);
    ldapx_memfree(dn);

    Session anonymous = open(false);
    ASSERT_EQ(ldap_get_context_identity_name(anonymous.get(), &dn), 0);
    EXPECT_STREQ(dn, "");
    ldapx_memfree(dn);

    ASSERT_EQ(ldap_dns_to_x500_dn(ld_.get(), "lab.example.com", &dn), 0);
    EXPECT_STREQ(dn, "dc=lab,dc=example,dc=com");
    ldapx_memfree(dn);

    std::vector<uint16_t> native;
    for (char c : std::string("CN=admin.O=lab")) native.push_back(static_cast<uint16_t>(c));
    native.push_back(0);
    ASSERT_EQ(ldap_quor_to_ldap(ld_.get(), native.data(), &dn), 0);
    EXPECT_STREQ(dn, "CN=admin,O=lab");
    ldapx_memfree(dn);

    int rights = 0;
    ASSERT_EQ(ldap_get_effective_privileges(ld_.get(), kAlice, kAdmin, "cn", &rights), 0);
    EXPECT_EQ(rights, 0x3f);
    char cn[] = "cn", sn[] = "sn";
    char *names[] = {cn, sn, nullptr};
    int slots[2] = {0, 0};
    ASSERT_EQ(ldap_get_effective_privileges_list(ld_.get(), kAlice, kAlice, names, slots), 0);
    EXPECT_EQ(slots[0], 0x07);
    EXPECT_EQ(slots[1], 0x07);
}

TEST_F(extopsRealisticTest, TriggersAndSynchronisationAnswerWithTheirNames)
{
    EXPECT_EQ(ldap_refresh_server(ld_.get()), 0);
    for (unsigned process = 1; process <= 6; ++process)
        EXPECT_EQ(ldap_trigger_back_process(ld_.get(), process, kServer1), 0) << process;
    EXPECT_EQ(ldap_request_partition_sync(ld_.get(), kServer1, "o=lab", 0), 0);
    EXPECT_EQ(ldap_request_schema_sync(ld_.get(), kServer1, 0), 0);
    EXPECT_EQ(ldap_abort_partition_operation(ld_.get(), "o=lab", 0), 0);
    EXPECT_EQ(ldap_request_schema_sync(ld_.get(), "cn=nobody,o=lab", 0), LDAP_NO_SUCH_OBJECT);
}

TEST_F(extopsRealisticTest, ChangesNeedABoundIdentity)
{
    Session anonymous = open(false);
    EXPECT_EQ(ldap_add_replica(anonymous.get(), "o=lab", kServer2, 1, 0), LDAP_INSUFFICIENT_ACCESS);
    EXPECT_EQ(ldap_set_replication_filter(anonymous.get(), kServer1, "$"), LDAP_INSUFFICIENT_ACCESS);
    EXPECT_EQ(ldap_split_partition(anonymous.get(), "ou=people,o=lab", 0), LDAP_INSUFFICIENT_ACCESS);
}

}  // namespace
