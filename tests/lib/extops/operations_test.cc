// Every management operation against scripted answers: the exact request
// value it sends, and what it makes of wrong, missing, empty, broken and
// failed answers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

#include "ber_bytes.h"
#include "extops_fixture.h"

using namespace extops_test;

namespace {

// OCTET STRING and INTEGER (short forms) in hex, written out by hand so that
// the expectations do not come from the encoder under test.
std::string s(const std::string &text) { return hex(wire::octets(text)); }
std::string i(int v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0201%02x", v & 0xff);
    return text;
}

char untouched_text[] = "untouched";
char *untouched_list[] = {untouched_text, nullptr};

// Every output a call may write, preset so that a test sees which it wrote.
struct Outputs {
    int count;
    ReplicaInfo info;
    char **names;
    char *text;
    int privileges[2];
    char *state;  // backup continuation state: starts absent
    char *data;
    char *chunks;
    int size;

    Outputs() { reset(); }
    void reset()
    {
        count = -99;
        std::memset(&info, 0x55, sizeof info);
        names = untouched_list;
        text = untouched_text;
        privileges[0] = privileges[1] = -99;
        state = nullptr;
        data = chunks = untouched_text;
        size = -99;
    }
    bool untouched() const
    {
        Outputs fresh;
        return count == -99 && std::memcmp(&info, &fresh.info, sizeof info) == 0 && names == untouched_list &&
               text == untouched_text && privileges[0] == -99 && privileges[1] == -99 && state == nullptr &&
               data == untouched_text && chunks == untouched_text && size == -99;
    }
    void release()
    {
        if (names != untouched_list) ldap_value_free(names);
        for (char *p : {text, data, chunks})
            if (p != untouched_text) ldapx_memfree(p);
        ldapx_memfree(state);
        reset();
    }
    ~Outputs() { release(); }
};

using Call = std::function<int(LDAP *, Outputs &)>;

struct Row {
    const char *function;
    int arc;  // of the request name; the response name is arc + 1
    Call call;
    std::optional<std::string> request;   // the request value, hex; none: no value is sent
    std::optional<std::string> response;  // a good response value (hex) for calls with outputs
    std::function<void(const Outputs &)> check;
    int undecodable = LDAP_ENCODING_ERROR;
    bool any_name = false;    // the reader accepts any response name
    bool name_first = false;  // a missing name wins over the server's error
};

const std::string kDn = s("o=x");
const std::string kSrv = s("cn=s");
const uint16_t kNative[] = {0x41, 0x42, 0};
char kCn[] = "cn", kSn[] = "sn";
char *kAttributes[] = {kCn, kSn, nullptr};

const std::string kInfoValue = i(1) + i(2) + i(3) + i(4) + i(5) + s("cn=s") + i(6) + i(7);
const std::string kBackupValue = i(3) + i(7) + i(3) + s("abc") + "300a" + i(1) + "3105" + "3003" + i(3);

void dn_is_cn_s(const Outputs &o) { EXPECT_STREQ(o.text, "cn=s"); }

std::vector<Row> rows()
{
    auto count = [](const Outputs &o) { EXPECT_EQ(o.count, 42); };
    auto info = [](const Outputs &o) {
        EXPECT_EQ(o.info.leadingValue1, 1);
        EXPECT_EQ(o.info.leadingValue5, 5);
        EXPECT_STREQ(o.info.dn, "cn=s");
        EXPECT_EQ(o.info.trailingValue1, 6);
        EXPECT_EQ(o.info.trailingValue2, 7);
    };
    auto names = [](const Outputs &o) {
        ASSERT_NE(o.names, nullptr);
        EXPECT_STREQ(o.names[0], "cn=s");
        EXPECT_EQ(o.names[1], nullptr);
    };
    auto backup = [](const Outputs &o) {
        EXPECT_EQ(o.size, 3);
        EXPECT_EQ(std::string(o.data, 3), "abc");
        EXPECT_STREQ(o.chunks, "1;3;");
        EXPECT_STREQ(o.state, "7+3");
    };
    const std::string flags_dn = i(5) + kDn;
    return {
        {"ldap_split_partition", 3, [](LDAP *ld, Outputs &) { return ldap_split_partition(ld, "o=x", 5); }, flags_dn},
        {"ldap_create_naming_context", 3, [](LDAP *ld, Outputs &) { return ldap_create_naming_context(ld, "o=x", 5); },
         flags_dn},
        {"ldap_merge_partitions", 5, [](LDAP *ld, Outputs &) { return ldap_merge_partitions(ld, "o=x", 5); }, flags_dn},
        {"ldap_merge_naming_contexts", 5, [](LDAP *ld, Outputs &) { return ldap_merge_naming_contexts(ld, "o=x", 5); },
         flags_dn},
        {"ldap_partition_entry_count", 13,
         [](LDAP *ld, Outputs &o) { return ldap_partition_entry_count(ld, "o=x", &o.count); }, kDn, "02012a", count},
        {"ldap_naming_context_entry_count", 13,
         [](LDAP *ld, Outputs &o) { return ldap_naming_context_entry_count(ld, "o=x", &o.count); }, kDn, "02012a",
         count},
        {"ldap_abort_partition_operation", 29,
         [](LDAP *ld, Outputs &) { return ldap_abort_partition_operation(ld, "o=x", 5); }, flags_dn},
        {"ldap_abort_naming_context_operation", 29,
         [](LDAP *ld, Outputs &) { return ldap_abort_naming_context_operation(ld, "o=x", 5); }, flags_dn},
        {"ldap_request_partition_sync", 25,
         [](LDAP *ld, Outputs &) { return ldap_request_partition_sync(ld, "cn=s", "o=x", 7); }, kSrv + kDn + i(7)},
        {"ldap_request_naming_context_sync", 25,
         [](LDAP *ld, Outputs &) { return ldap_request_naming_context_sync(ld, "cn=s", "o=x", 7); },
         kSrv + kDn + i(7)},
        {"ldap_request_schema_sync", 27, [](LDAP *ld, Outputs &) { return ldap_request_schema_sync(ld, "cn=s", 7); },
         kSrv + i(7)},
        {"ldap_split_orphan_partition", 39,
         [](LDAP *ld, Outputs &) { return ldap_split_orphan_partition(ld, "cn=s", "o=x"); }, kSrv + kDn},
        {"ldap_create_orphan_naming_context", 39,
         [](LDAP *ld, Outputs &) { return ldap_create_orphan_naming_context(ld, "cn=s", "o=x"); }, kSrv + kDn},
        {"ldap_remove_orphan_partition", 41,
         [](LDAP *ld, Outputs &) { return ldap_remove_orphan_partition(ld, "cn=s", "o=x"); }, kSrv + kDn},
        {"ldap_remove_orphan_naming_context", 41,
         [](LDAP *ld, Outputs &) { return ldap_remove_orphan_naming_context(ld, "cn=s", "o=x"); }, kSrv + kDn},
        {"ldap_add_replica", 7, [](LDAP *ld, Outputs &) { return ldap_add_replica(ld, "o=x", "cn=s", 2, 0); },
         i(0) + i(2) + kSrv + kDn},
        {"ldap_remove_replica", 11, [](LDAP *ld, Outputs &) { return ldap_remove_replica(ld, "o=x", "cn=s", 5); },
         i(5) + kSrv + kDn},
        {"ldap_change_replica_type", 15,
         [](LDAP *ld, Outputs &) { return ldap_change_replica_type(ld, "o=x", "cn=s", 2, 0); },
         i(0) + i(2) + kSrv + kDn},
        {"ldap_get_replica_info", 17,
         [](LDAP *ld, Outputs &o) { return ldap_get_replica_info(ld, "o=x", "cn=s", &o.info); }, kSrv + kDn,
         kInfoValue, info},
        {"ldap_list_replicas", 19, [](LDAP *ld, Outputs &o) { return ldap_list_replicas(ld, "o=x", &o.names); }, kDn,
         "3006" + s("cn=s"), names},
        {"ldap_receive_all_updates", 21,
         [](LDAP *ld, Outputs &) { return ldap_receive_all_updates(ld, "o=x", "cn=s", "r"); }, kDn + kSrv + s("r")},
        {"ldap_send_all_updates", 23, [](LDAP *ld, Outputs &) { return ldap_send_all_updates(ld, "o=x", "cn=s"); },
         kDn + kSrv},
        {"ldap_set_replication_filter", 35,
         [](LDAP *ld, Outputs &) { return ldap_set_replication_filter(ld, "cn=s", "person$cn$$$"); },
         kSrv + "30" + L(24) + "30" + L(18) + s("person") + "30" + L(4) + s("cn")},
        {"ldap_get_replication_filter", 37,
         [](LDAP *ld, Outputs &o) { return ldap_get_replication_filter(ld, "cn=s", &o.text); }, kSrv,
         "300c300a" + s("person") + "3000", [](const Outputs &o) { EXPECT_STREQ(o.text, "person$$$"); },
         LDAP_DECODING_ERROR, true},
        {"ldap_get_bind_dn", 31, [](LDAP *ld, Outputs &o) { return ldap_get_bind_dn(ld, &o.text); }, std::nullopt,
         s("cn=s"), dn_is_cn_s},
        {"ldap_get_context_identity_name", 31,
         [](LDAP *ld, Outputs &o) { return ldap_get_context_identity_name(ld, &o.text); }, std::nullopt, s("cn=s"),
         dn_is_cn_s},
        {"ldap_get_effective_privileges", 33,
         [](LDAP *ld, Outputs &o) { return ldap_get_effective_privileges(ld, "o=x", "cn=s", "cn", o.privileges); },
         kDn + kSrv + s("cn"), i(3), [](const Outputs &o) { EXPECT_EQ(o.privileges[0], 3); }},
        {"ldap_get_effective_privileges_list", 103,
         [](LDAP *ld, Outputs &o) {
             return ldap_get_effective_privileges_list(ld, "o=x", "cn=s", kAttributes, o.privileges);
         },
         kDn + kSrv + "30" + L(8) + s("cn") + s("sn"), "3011" "3003" + i(2) + "310a" "3003" + i(5) + "3003" + i(6),
         [](const Outputs &o) {
             EXPECT_EQ(o.privileges[0], 5);
             EXPECT_EQ(o.privileges[1], 6);
         }},
        {"ldap_quor_to_ldap", 1, [](LDAP *ld, Outputs &o) { return ldap_quor_to_ldap(ld, kNative, &o.text); },
         "0406" "004100420000", s("cn=s"), dn_is_cn_s},
        {"ldap_dns_to_x500_dn", 101,
         [](LDAP *ld, Outputs &o) { return ldap_dns_to_x500_dn(ld, "lab.com", &o.text); }, s("lab.com"), s("cn=s"),
         dn_is_cn_s},
        {"ldap_refresh_server", 9, [](LDAP *ld, Outputs &) { return ldap_refresh_server(ld); }, std::nullopt},
        {"wrapper_ldap_trigger_backlink", 43, [](LDAP *ld, Outputs &) { return wrapper_ldap_trigger_backlink(ld); },
         std::nullopt},
        {"wrapper_ldap_trigger_janitor", 47, [](LDAP *ld, Outputs &) { return wrapper_ldap_trigger_janitor(ld); },
         std::nullopt},
        {"wrapper_ldap_trigger_limber", 49,
         [](LDAP *ld, Outputs &) { return wrapper_ldap_trigger_limber(ld, "cn=s"); }, kSrv},
        {"wrapper_ldap_trigger_skulker", 51, [](LDAP *ld, Outputs &) { return wrapper_ldap_trigger_skulker(ld); },
         std::nullopt},
        {"wrapper_ldap_trigger_schema_sync", 53,
         [](LDAP *ld, Outputs &) { return wrapper_ldap_trigger_schema_sync(ld); }, std::nullopt},
        {"wrapper_ldap_trigger_partition_purge", 55,
         [](LDAP *ld, Outputs &) { return wrapper_ldap_trigger_partition_purge(ld); }, std::nullopt},
        {"ldap_backup_object", 96,
         [](LDAP *ld, Outputs &o) {
             return ldap_backup_object(ld, "o=x", nullptr, &o.state, &o.data, &o.chunks, &o.size);
         },
         kDn + i(0) + i(0) + "0400", kBackupValue, backup, LDAP_DECODING_ERROR, false, true},
        {"ldap_restore_object", 98,
         [](LDAP *ld, Outputs &) { return ldap_restore_object(ld, "o=x", nullptr, "abc", "1;3;", 3); },
         kDn + "0400" + i(3) + s("abc") + "30" + L(18) + i(1) + "31" + L(9) + "30" + L(3) + i(3), std::nullopt,
         nullptr, LDAP_DECODING_ERROR, false, true},
    };
}

dirsim::Reply reply(int code, std::optional<std::string> name, std::optional<std::string> value_hex)
{
    dirsim::Reply r;
    r.result_code = code;
    r.response_name = std::move(name);
    if (value_hex) r.response_value = unhex(*value_hex);
    return r;
}

class extopsTableTest : public ExtopsTest {};

TEST_F(extopsTableTest, EveryOperation)
{
    Session ld = open(false);
    ASSERT_TRUE(ld);
    Outputs out;
    for (const Row &row : rows()) {
        SCOPED_TRACE(row.function);
        const std::string name = oid(row.arc + 1);
        const bool outputs = row.response.has_value();
        // Calls without outputs never look at a value: send one that does not decode.
        const std::string good = outputs ? *row.response : "ff";

        // Request name and value, byte for byte; a good answer.
        answer(oid(row.arc), reply(0, name, good));
        clear();
        EXPECT_EQ(row.call(ld.get(), out), LDAP_SUCCESS);
        auto sent = extended();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].oid, oid(row.arc));
        EXPECT_EQ(sent[0].has_value, row.request.has_value());
        if (row.request) {
            EXPECT_EQ(sent[0].value_hex, hex(unhex(*row.request)));
        }
        if (row.check) row.check(out);
        out.release();

        // No response name, another operation's, the right one with a digit more.
        for (std::optional<std::string> other : {std::optional<std::string>(), std::optional(oid(row.arc + 3)),
                                                  std::optional(name + "0")}) {
            answer(oid(row.arc), reply(0, other, good));
            int expected = row.any_name && other ? LDAP_SUCCESS : LDAP_NOT_SUPPORTED;
            EXPECT_EQ(row.call(ld.get(), out), expected) << (other ? *other : "no name");
            if (expected != LDAP_SUCCESS) {
                EXPECT_TRUE(out.untouched());
            }
            out.release();
        }

        if (outputs) {
            // The right name and no value: nothing to decode.
            answer(oid(row.arc), reply(0, name, std::nullopt));
            EXPECT_EQ(row.call(ld.get(), out), LDAP_OPERATIONS_ERROR);
            EXPECT_TRUE(out.untouched());
            out.release();
            // An empty value and a cut one.
            for (const std::string &bad : {std::string(), good.substr(0, good.size() - 2)}) {
                answer(oid(row.arc), reply(0, name, bad));
                EXPECT_EQ(row.call(ld.get(), out), row.undecodable) << "value " << bad;
                out.release();
            }
        }

        // The server's error, with its response name and without.
        answer(oid(row.arc), reply(LDAP_UNWILLING_TO_PERFORM, name, std::nullopt));
        EXPECT_EQ(row.call(ld.get(), out), LDAP_UNWILLING_TO_PERFORM);
        EXPECT_TRUE(out.untouched());
        answer(oid(row.arc), reply(LDAP_UNWILLING_TO_PERFORM, std::nullopt, std::nullopt));
        EXPECT_EQ(row.call(ld.get(), out), row.name_first ? LDAP_NOT_SUPPORTED : LDAP_UNWILLING_TO_PERFORM);
        EXPECT_TRUE(out.untouched());
    }
}

}  // namespace
