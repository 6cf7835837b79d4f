// The operations' own edge cases against scripted answers, and what they do
// with null arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ber_bytes.h"
#include "extops_fixture.h"

using namespace extops_test;

namespace {

class extopsEdgeTest : public ExtopsTest {
protected:
    void SetUp() override
    {
        ExtopsTest::SetUp();
        ld_ = open(false);
        ASSERT_TRUE(ld_);
    }

    // Answers requests `arc` with success, response name arc + 1 and `value`.
    void succeed(int arc, std::optional<std::string> value = std::nullopt)
    {
        dirsim::Reply r;
        r.response_name = oid(arc + 1);
        r.response_value = std::move(value);
        answer(oid(arc), r);
    }

    // The value of the one extended request sent since the last clear.
    std::string sent_value()
    {
        auto sent = extended();
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? "" : sent[0].value_hex;
    }

    int stored_result()
    {
        int rc = 0;
        ldap_get_option(ld_.get(), LDAP_OPT_RESULT_CODE, &rc);
        return rc;
    }
    void store_result(int rc) { ldap_set_option(ld_.get(), LDAP_OPT_RESULT_CODE, &rc); }

    Session ld_;
};

std::string octets(const std::string &s) { return ber("o", s.data(), static_cast<ber_len_t>(s.size())); }

TEST_F(extopsEdgeTest, BindDnOf771BytesIsWholeAnd772IsCutTo770)
{
    for (std::size_t length : {771u, 772u}) {
        succeed(31, octets(std::string(length, 'b')));
        char *dn = nullptr;
        ASSERT_EQ(ldap_get_bind_dn(ld_.get(), &dn), 0);
        EXPECT_EQ(std::strlen(dn), length == 771 ? 771u : 770u);
        ldapx_memfree(dn);
    }
}

TEST_F(extopsEdgeTest, ReplicaInfoDnOf800BytesKeeps771)
{
    succeed(17, ber("iiiiioii", 1, 2, 3, 4, 5, std::string(800, 'r').data(), ber_len_t(800), 6, 7));
    ReplicaInfo info;
    ASSERT_EQ(ldap_get_replica_info(ld_.get(), "o=x", "cn=s", &info), 0);
    EXPECT_EQ(std::string(info.dn), std::string(771, 'r'));
    EXPECT_EQ(info.trailingValue2, 7);
}

TEST_F(extopsEdgeTest, OptionalStringsHaveTheirDefaults)
{
    succeed(21);
    clear();
    ASSERT_EQ(ldap_receive_all_updates(ld_.get(), "o=x", "cn=s", nullptr), 0);
    EXPECT_EQ(sent_value(), hex(octets("o=x") + octets("cn=s") + octets("unusedParam")));

    succeed(23);
    clear();
    ASSERT_EQ(ldap_send_all_updates(ld_.get(), "o=x", nullptr), 0);
    EXPECT_EQ(sent_value(), hex(octets("o=x")) + "0400");
}

TEST_F(extopsEdgeTest, NativeNameOfNoUnitsIsTwoZeroBytes)
{
    succeed(1, octets("cn=x"));
    clear();
    const uint16_t empty[] = {0};
    char *dn = nullptr;
    ASSERT_EQ(ldap_quor_to_ldap(ld_.get(), empty, &dn), 0);
    EXPECT_EQ(sent_value(), "04020000");
    EXPECT_STREQ(dn, "cn=x");
    ldapx_memfree(dn);
}

TEST_F(extopsEdgeTest, PrivilegeListOfNoEntriesWritesNoSlot)
{
    succeed(103, unhex("30 0a 30 03 02 01 00 31 03 30 01 00"));
    char cn[] = "cn";
    char *names[] = {cn, nullptr};
    int slot = -5;
    EXPECT_EQ(ldap_get_effective_privileges_list(ld_.get(), "o=x", "cn=s", names, &slot), 0);
    EXPECT_EQ(slot, -5);
}

TEST_F(extopsEdgeTest, ReplicationFilterTexts)
{
    const std::string srv = hex(octets("cn=s"));
    succeed(35);
    clear();
    ASSERT_EQ(ldap_set_replication_filter(ld_.get(), "cn=s", "$"), 0);
    EXPECT_EQ(sent_value(), srv + "30" + L(0));

    clear();
    ASSERT_EQ(ldap_set_replication_filter(ld_.get(), "cn=s", "person$$$"), 0);
    EXPECT_EQ(sent_value(), srv + "30" + L(20) + "30" + L(14) + hex(octets("person")) + "30" + L(0));

    clear();
    EXPECT_EQ(ldap_set_replication_filter(ld_.get(), "cn=s", "person$cn$$"), LDAP_PARAM_ERROR);
    EXPECT_TRUE(extended().empty());
}

TEST_F(extopsEdgeTest, ReplicationFilterReaderTakesAnyResponseNameButNeedsOne)
{
    dirsim::Reply r;
    r.response_name = oid(40);
    r.response_value = unhex("30 14 30 12 04 06 70 65 72 73 6f 6e 30 08 04 02 63 6e 04 02 73 6e");
    answer(oid(37), r);
    char *text = nullptr;
    ASSERT_EQ(ldap_get_replication_filter(ld_.get(), "cn=s", &text), 0);
    EXPECT_STREQ(text, "person$cn$sn$$$");
    ldapx_memfree(text);

    r.response_value = unhex("30 00");
    answer(oid(37), r);
    ASSERT_EQ(ldap_get_replication_filter(ld_.get(), "cn=s", &text), 0);
    EXPECT_STREQ(text, "");
    ldapx_memfree(text);
}

TEST_F(extopsEdgeTest, FirstBackupSendsZeroStateAndKeepsTheNewOne)
{
    succeed(96, ber("iiio{i[{i}]}", 2, 7, 3, "xy", ber_len_t(2), 1, 2));
    clear();
    store_result(-77);
    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = 0;
    ASSERT_EQ(ldap_backup_object(ld_.get(), "o=x", nullptr, &state, &data, &chunks, &size), 0);
    EXPECT_EQ(sent_value(), hex(octets("o=x")) + "020100" "020100" "0400");
    EXPECT_STREQ(state, "7+3");
    EXPECT_STREQ(chunks, "1;2;");
    EXPECT_EQ(std::string(data, 2), "xy");
    EXPECT_EQ(stored_result(), 0);
    ldapx_memfree(data);
    ldapx_memfree(chunks);

    // The next one continues from it and replaces it.
    succeed(96, ber("iiio{i[]}", 1, 8, 4, "z", ber_len_t(1), 0));
    clear();
    ASSERT_EQ(ldap_backup_object(ld_.get(), "o=x", "more", &state, &data, &chunks, &size), 0);
    EXPECT_EQ(sent_value(), hex(octets("o=x")) + "020107" "020103" + hex(octets("more")));
    EXPECT_STREQ(state, "8+4");
    EXPECT_STREQ(chunks, "0;");
    ldapx_memfree(data);
    ldapx_memfree(chunks);
    ldapx_memfree(state);
}

TEST_F(extopsEdgeTest, BackupStateWithAZeroIsRefusedBeforeSending)
{
    for (const char *text : {"0+5", "5+0"}) {
        char *state = strdup(text);
        char *data = nullptr, *chunks = nullptr;
        int size = -1;
        store_result(-77);
        clear();
        EXPECT_EQ(ldap_backup_object(ld_.get(), "o=x", nullptr, &state, &data, &chunks, &size), LDAP_ENCODING_ERROR);
        EXPECT_TRUE(extended().empty());
        EXPECT_EQ(stored_result(), -77);
        EXPECT_STREQ(state, text);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, -1);
        free(state);
    }
}

TEST_F(extopsEdgeTest, BackupOfSizeZeroIsADecodingErrorAndStored)
{
    succeed(96, ber("iiio{i[]}", 0, 7, 3, "xy", ber_len_t(2), 0));
    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = -1;
    EXPECT_EQ(ldap_backup_object(ld_.get(), "o=x", nullptr, &state, &data, &chunks, &size), LDAP_DECODING_ERROR);
    EXPECT_EQ(stored_result(), LDAP_DECODING_ERROR);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, -1);
}

TEST_F(extopsEdgeTest, RestoreSendsTheChunkListAfterTheData)
{
    succeed(98);
    clear();
    store_result(-77);
    ASSERT_EQ(ldap_restore_object(ld_.get(), "o=x", nullptr, "0123456789", "2;10;20;", 10), 0);
    EXPECT_EQ(sent_value(), hex(octets("o=x")) + "0400" + "02010a" + hex(octets("0123456789")) + "30" + L(27) +
                                "020102" + "31" + L(18) + "30" + L(3) + "02010a" + "30" + L(3) + "020114");
    EXPECT_EQ(stored_result(), 0);

    clear();
    EXPECT_EQ(ldap_restore_object(ld_.get(), "o=x", nullptr, "x", ";", 1), LDAP_PARAM_ERROR);
    EXPECT_TRUE(extended().empty());
    EXPECT_EQ(stored_result(), 0);
}

TEST_F(extopsEdgeTest, ErrorWithoutResponseNameIsNotSupportedForBackupAndRestore)
{
    dirsim::Reply r;
    r.result_code = LDAP_NO_SUCH_OBJECT;
    answer(oid(96), r);
    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = 0;
    EXPECT_EQ(ldap_backup_object(ld_.get(), "o=x", nullptr, &state, &data, &chunks, &size), LDAP_NOT_SUPPORTED);
    EXPECT_EQ(stored_result(), LDAP_NOT_SUPPORTED);
    answer(oid(98), r);
    store_result(0);
    EXPECT_EQ(ldap_restore_object(ld_.get(), "o=x", nullptr, "x", "1;1;", 1), LDAP_NOT_SUPPORTED);
    EXPECT_EQ(stored_result(), LDAP_NOT_SUPPORTED);
}

TEST_F(extopsEdgeTest, TriggerDispatcher)
{
    for (unsigned process : {0u, 7u, 0xffffffffu}) {
        clear();
        EXPECT_EQ(ldap_trigger_back_process(ld_.get(), process, "cn=s"), LDAP_PARAM_ERROR);
        EXPECT_TRUE(extended().empty());
    }
    const int arcs[] = {43, 47, 49, 51, 53, 55};
    for (unsigned process = 1; process <= 6; ++process) {
        succeed(arcs[process - 1]);
        clear();
        EXPECT_EQ(ldap_trigger_back_process(ld_.get(), process, "cn=s"), 0);
        auto sent = extended();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].oid, oid(arcs[process - 1]));
        EXPECT_EQ(sent[0].has_value, process == 3);  // only the limber trigger takes the DN
    }
    succeed(49);
    clear();
    EXPECT_EQ(ldap_trigger_back_process(ld_.get(), 3, nullptr), 0);
    ASSERT_EQ(extended().size(), 1u);
    EXPECT_FALSE(extended()[0].has_value);

    dirsim::Reply r;
    r.response_name = oid(44);  // the backlink trigger's
    answer(oid(9), r);
    EXPECT_EQ(ldap_refresh_server(ld_.get()), LDAP_NOT_SUPPORTED);
}

TEST_F(extopsEdgeTest, ResponseNamesOfOtherOperationsAreRefused)
{
    dirsim::Reply r;
    r.response_name = oid(40);
    answer(oid(3), r);
    EXPECT_EQ(ldap_split_partition(ld_.get(), "o=x", 0), LDAP_NOT_SUPPORTED);
    answer(oid(41), r);
    EXPECT_EQ(ldap_remove_orphan_partition(ld_.get(), "cn=s", "o=x"), LDAP_NOT_SUPPORTED);
}

TEST_F(extopsEdgeTest, RequiredArgumentsAreCheckedBeforeAnythingIsSent)
{
    char *text = nullptr;
    int n = 0;
    char cn[] = "cn";
    char *names[] = {cn, nullptr};
    struct Case {
        const char *what;
        int rc;
    } cases[] = {
        {"receive_all dn", ldap_receive_all_updates(ld_.get(), nullptr, "cn=s", nullptr)},
        {"receive_all serverDN", ldap_receive_all_updates(ld_.get(), "o=x", nullptr, nullptr)},
        {"set filter serverDN", ldap_set_replication_filter(ld_.get(), nullptr, "$")},
        {"set filter text", ldap_set_replication_filter(ld_.get(), "cn=s", nullptr)},
        {"get filter serverDN", ldap_get_replication_filter(ld_.get(), nullptr, &text)},
        {"get filter output", ldap_get_replication_filter(ld_.get(), "cn=s", nullptr)},
        {"privileges list firstDN", ldap_get_effective_privileges_list(ld_.get(), nullptr, "b", names, &n)},
        {"privileges list secondDN", ldap_get_effective_privileges_list(ld_.get(), "a", nullptr, names, &n)},
        {"privileges list names", ldap_get_effective_privileges_list(ld_.get(), "a", "b", nullptr, &n)},
        {"privileges list slots", ldap_get_effective_privileges_list(ld_.get(), "a", "b", names, nullptr)},
        {"backup dn", ldap_backup_object(ld_.get(), nullptr, nullptr, &text, &text, &text, &n)},
        {"restore dn", ldap_restore_object(ld_.get(), nullptr, nullptr, "x", "1;1;", 1)},
        {"restore data", ldap_restore_object(ld_.get(), "o=x", nullptr, nullptr, "1;1;", 1)},
        // Beyond what callers were promised, checked because the call cannot go on without them:
        {"null handle", ldap_refresh_server(nullptr)},
        {"entry count output", ldap_partition_entry_count(ld_.get(), "o=x", nullptr)},
        {"replica info output", ldap_get_replica_info(ld_.get(), "o=x", "cn=s", nullptr)},
        {"replica list output", ldap_list_replicas(ld_.get(), "o=x", nullptr)},
        {"bind dn output", ldap_get_bind_dn(ld_.get(), nullptr)},
        {"privileges output", ldap_get_effective_privileges(ld_.get(), "a", "b", "cn", nullptr)},
        {"conversion output", ldap_quor_to_ldap(ld_.get(), nullptr, nullptr)},
        {"dns output", ldap_dns_to_x500_dn(ld_.get(), "a.b", nullptr)},
        {"backup state", ldap_backup_object(ld_.get(), "o=x", nullptr, nullptr, &text, &text, &n)},
        {"backup size", ldap_backup_object(ld_.get(), "o=x", nullptr, &text, &text, &text, nullptr)},
        {"restore chunk list", ldap_restore_object(ld_.get(), "o=x", nullptr, "x", nullptr, 1)},
        {"restore negative size", ldap_restore_object(ld_.get(), "o=x", nullptr, "x", "1;1;", -1)},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, LDAP_PARAM_ERROR) << c.what;
    EXPECT_TRUE(extended().empty());
}

TEST_F(extopsEdgeTest, UncheckedNullStringsAreEncodingErrorsNotCrashes)
{
    int n = 0;
    char *text = nullptr;
    ReplicaInfo info;
    char **list = nullptr;
    struct Case {
        const char *what;
        int rc;
    } cases[] = {
        {"split", ldap_split_partition(ld_.get(), nullptr, 0)},
        {"merge", ldap_merge_partitions(ld_.get(), nullptr, 0)},
        {"entry count", ldap_partition_entry_count(ld_.get(), nullptr, &n)},
        {"abort", ldap_abort_partition_operation(ld_.get(), nullptr, 0)},
        {"partition sync", ldap_request_partition_sync(ld_.get(), "cn=s", nullptr, 0)},
        {"schema sync", ldap_request_schema_sync(ld_.get(), nullptr, 0)},
        {"split orphan", ldap_split_orphan_partition(ld_.get(), nullptr, "o=x")},
        {"remove orphan", ldap_remove_orphan_partition(ld_.get(), "cn=s", nullptr)},
        {"add replica", ldap_add_replica(ld_.get(), "o=x", nullptr, 0, 0)},
        {"remove replica", ldap_remove_replica(ld_.get(), nullptr, "cn=s", 0)},
        {"change type", ldap_change_replica_type(ld_.get(), nullptr, nullptr, 0, 0)},
        {"replica info", ldap_get_replica_info(ld_.get(), "o=x", nullptr, &info)},
        {"list", ldap_list_replicas(ld_.get(), nullptr, &list)},
        {"send all", ldap_send_all_updates(ld_.get(), nullptr, "cn=s")},
        {"privileges", ldap_get_effective_privileges(ld_.get(), "a", "b", nullptr, &n)},
        {"conversion", ldap_quor_to_ldap(ld_.get(), nullptr, &text)},
        {"dns", ldap_dns_to_x500_dn(ld_.get(), nullptr, &text)},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, LDAP_ENCODING_ERROR) << c.what;
    EXPECT_TRUE(extended().empty());
}

TEST_F(extopsEdgeTest, EmptyEntryCountValueDoesNotDecode)
{
    succeed(13, std::string());
    int count = 9;
    EXPECT_EQ(ldap_partition_entry_count(ld_.get(), "o=x", &count), LDAP_ENCODING_ERROR);
    EXPECT_EQ(count, 9);
}

TEST(extopsMemfree, NullIsNothing)
{
    ldapx_memfree(nullptr);
}

}  // namespace
