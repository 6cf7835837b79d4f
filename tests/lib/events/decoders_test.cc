// Body decoders over hand-built bytes: every kind decodes into its exact
// members, every truncated body fails cleanly, and every allocation failure
// is reported without a leak.
#include <gtest/gtest.h>

#include <algorithm>

#include "decode.h"
#include "dump.h"
#include "samples.h"

namespace events_test {
namespace {

using wire::integer;
using wire::octets;
using wire::seq;
using wire::tlv;

class EveryKind : public ::testing::TestWithParam<Sample> {};

TEST_P(EveryKind, DecodesIntoItsExactMembers)
{
    const Sample &s = GetParam();
    Handle handle;
    handle.set_result_code(LDAP_OTHER);
    Decoded d;
    decode(s.tag, s.contents(), d, handle.ld);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(DIREXT_EVENT_KIND(d.record), s.tag);
    EXPECT_EQ(dump(d.record), s.record);
    EXPECT_EQ(dump(d.address), s.address);
    EXPECT_EQ(wire::hex(d.rest), "");
    EXPECT_EQ(handle.result_code(), 0);
}

TEST_P(EveryKind, EveryTruncationFailsCleanlyOrEndsAtAnOptionalElement)
{
    const Sample &s = GetParam();
    const std::string contents = s.contents();
    const auto cuts = s.valid_cuts();
    const auto [address_begin, address_end] = s.address_span();
    for (std::size_t cut = 0; cut < contents.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Handle handle;
        Decoded d;
        decode(s.tag, contents.substr(0, cut), d, handle.ld);
        EXPECT_EQ(handle.result_code(), d.rc);
        if (std::find(cuts.begin(), cuts.end(), cut) != cuts.end()) {
            EXPECT_EQ(d.rc, 0);
            EXPECT_NE(d.record, nullptr);
            continue;
        }
        ASSERT_EQ(d.rc, LDAP_DECODING_ERROR);
        EXPECT_EQ(d.address, nullptr);
        if (d.record) {
            // Only a failed trailing address leaves the (complete) record.
            EXPECT_GT(cut, address_begin);
            EXPECT_LT(cut, address_end);
        }
    }
}

TEST_P(EveryKind, EveryAllocationFailureIsReportedAndReleasesAll)
{
    const Sample &s = GetParam();
    const std::string contents = s.contents();
    for (int n = 1;; ++n) {
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        Handle handle;
        Decoded d;
        fail_allocation(n);
        decode(s.tag, contents, d, handle.ld);
        const bool reached = allocations_seen() >= n;
        fail_allocation(0);
        if (!reached) {
            ASSERT_EQ(d.rc, 0);
            EXPECT_EQ(dump(d.record), s.record);
            break;
        }
        EXPECT_EQ(d.rc, LDAP_NO_MEMORY);
        EXPECT_EQ(handle.result_code(), LDAP_NO_MEMORY);
        EXPECT_EQ(d.address, nullptr);
        // The record survives only when the address was the failing block.
        if (d.record) {
            EXPECT_NE(s.address, "null");
        }
        ASSERT_LT(n, 100);
    }
}

INSTANTIATE_TEST_SUITE_P(Events, EveryKind, ::testing::ValuesIn(samples()),
                         [](const auto &info) { return info.param.name; });

// The edge cases, each a body and what it must give.
struct Edge {
    std::string name;
    int tag;
    std::string contents;
    int rc;
    std::string record;  // "" when rc != 0 (no record left)
    std::string address = "null";
};

void PrintTo(const Edge &e, std::ostream *os) { *os << e.name; }

class Edges : public ::testing::TestWithParam<Edge> {};

TEST_P(Edges, DecodeAsStated)
{
    const Edge &e = GetParam();
    Decoded d;
    decode(e.tag, e.contents, d);
    EXPECT_EQ(d.rc, e.rc);
    EXPECT_EQ(e.rc == 0 ? dump(d.record) : std::string(d.record ? "left a record" : ""), e.record);
    EXPECT_EQ(dump(d.address), e.address);
}

const std::string kStrings5 = octets("a") + octets("b") + octets("c") + octets("d") + octets("e");
const std::string kGeneralHead = integer(1) + integer(2) + integer(3) + integer(4) + octets("g", 0x85);
const std::string kDebugHead = integer(1) + integer(2) + octets("a") + octets("b") + integer(3);
const std::string kAddr = wire::address(1, "10.0.0.1");
const std::string kConn = wire::connection(1, 2, "c");

std::string ints(int n)
{
    std::string out;
    for (int i = 1; i <= n; ++i) out += integer(i);
    return out;
}

std::string strs(int n)
{
    std::string out;
    for (int i = 1; i <= n; ++i) out += octets(std::string(1, static_cast<char>('0' + i)));
    return out;
}

const Edge kEdges[] = {
    // An INTEGER behind a value event's triple is its integer1, not an address.
    {"value_integer_taken_as_integer1", 0x62, kStrings5 + wire::triple(1, 2, 3) + integer(1) + octets("10.0.0.1"), 0,
     "ValueEventData integer1=1 string1=\"a\" string2=\"b\" string3=\"c\" string4=\"d\" string5=\"e\" "
     "triple={1,2,3} dataLength=0 data=null"},
    {"value_empty_data_stepped_over", 0x62, kStrings5 + wire::triple(1, 2, 3) + octets("") + integer(5), 0,
     "ValueEventData integer1=5 string1=\"a\" string2=\"b\" string3=\"c\" string4=\"d\" string5=\"e\" "
     "triple={1,2,3} dataLength=0 data=null"},
    {"general_five_integers", 0x63, kGeneralHead + tlv(0x86, ints(5)), LDAP_DECODING_ERROR, ""},
    {"general_five_strings", 0x63, kGeneralHead + tlv(0xa7, strs(5)), LDAP_DECODING_ERROR, ""},
    {"general_four_and_four", 0x63, kGeneralHead + tlv(0x86, ints(4)) + tlv(0xa7, strs(4)), 0,
     "GeneralEventData integer1=1 integer2=2 integer4=4 integer3=3 string1=\"g\" intValues=[1,2,3,4] "
     "strValues=[\"1\",\"2\",\"3\",\"4\"]"},
    // The group ends with its element: the address behind it is not a value.
    {"general_group_does_not_swallow_address", 0x63, kGeneralHead + tlv(0x86, ints(2)) + kAddr, 0,
     "GeneralEventData integer1=1 integer2=2 integer4=4 integer3=3 string1=\"g\" intValues=[1,2,0,0] "
     "strValues=[null,null,null,null]",
     "NetAddrEventData type=1 length=8 address=\"10.0.0.1\""},
    {"general_string1_needs_its_tag", 0x63, ints(4) + octets("g"), LDAP_DECODING_ERROR, ""},
    {"module_state_empty_short_text", 0x67, octets("m") + integer(1) + octets("") + octets("") + octets("x"),
     LDAP_DECODING_ERROR, ""},
    {"module_state_short_text_32", 0x67,
     octets("m") + integer(1) + octets(std::string(32, 's')) + octets("") + octets("x"), LDAP_DECODING_ERROR, ""},
    {"module_state_long_text_128", 0x67,
     octets("m") + integer(1) + octets("s") + octets(std::string(128, 'l')) + octets("x"), LDAP_DECODING_ERROR, ""},
    {"module_state_text_wrong_tag", 0x67, octets("m") + integer(1) + octets("s", 0x80) + octets("") + octets("x"),
     LDAP_DECODING_ERROR, ""},
    {"config_tag_disagrees_with_type", 0x6d, integer(2) + octets("p") + integer(7, 0x81), LDAP_DECODING_ERROR, ""},
    {"config_type4_has_no_tag", 0x6d, integer(4) + octets("p") + octets("x", 0x84), LDAP_DECODING_ERROR, ""},
    {"config_value_missing", 0x6d, integer(3) + octets("p"), LDAP_DECODING_ERROR, ""},
    {"config_empty_octets", 0x6d, integer(1) + octets("p") + octets("", 0x83), 0,
     "ChangeConfigParamData paramType=1 paramName=\"p\" intValue=0 strValue=null dataLength=0 data=null"},
    {"debug_unknown_parameter_tag", 0x70, kDebugHead + integer(2) + seq({integer(1, 0x81), integer(1, 0x88)}),
     LDAP_DECODING_ERROR, ""},
    {"debug_count_zero_reads_no_list", 0x70, kDebugHead + integer(0) + seq({integer(1, 0x81)}), 0,
     "DebugEventData integer1=1 integer2=2 string1=\"a\" string2=\"b\" integer3=3 paramCount=0 params=null"},
    {"debug_negative_count_reads_no_list", 0x70, kDebugHead + integer(-3), 0,
     "DebugEventData integer1=1 integer2=2 string1=\"a\" string2=\"b\" integer3=3 paramCount=-3 params=null"},
    {"debug_fewer_parameters_than_count", 0x70, kDebugHead + integer(3) + seq({integer(1, 0x81)}),
     LDAP_DECODING_ERROR, ""},
    {"debug_count_beyond_the_bytes", 0x70, kDebugHead + integer(0x7fffffff) + seq({integer(1, 0x81)}),
     LDAP_DECODING_ERROR, ""},
    {"debug_type5_without_octets", 0x70, kDebugHead + integer(1) + seq({tlv(0x85, integer(1) + integer(2))}),
     LDAP_DECODING_ERROR, ""},
    {"debug_type7_short_of_triples", 0x70,
     kDebugHead + integer(1) + seq({tlv(0x87, integer(2) + seq({wire::triple(1, 2, 3)}))}), LDAP_DECODING_ERROR,
     ""},
    {"debug_type7_no_triples", 0x70, kDebugHead + integer(1) + seq({tlv(0x87, integer(0) + seq({}))}), 0,
     "DebugEventData integer1=1 integer2=2 string1=\"a\" string2=\"b\" integer3=3 paramCount=1 "
     "params=[{type=7 triples=[]}]"},
    {"sev_empty_referral_list", 0x66, octets("s") + integer(1) + octets("t") + seq({}), 0,
     "SEVEventData string1=\"s\" integer1=1 string2=\"t\" referralCount=0 referrals=null"},
    {"sev_referral_count_beyond_entries", 0x66,
     octets("s") + integer(1) + octets("t") + seq({integer(1000), seq({seq({integer(1), octets("x")})})}),
     LDAP_DECODING_ERROR, ""},
    {"sev_negative_referral_count", 0x66, octets("s") + integer(1) + octets("t") + seq({integer(-1), seq({})}),
     LDAP_DECODING_ERROR, ""},
    {"sev_referral_address_wrong_tag", 0x66,
     octets("s") + integer(1) + octets("t") + seq({integer(1), seq({seq({integer(1), octets("x", 0x80)})})}),
     LDAP_DECODING_ERROR, ""},
    {"string_with_other_tag", 0x72, integer(1) + integer(2) + octets("c", 0x80), LDAP_DECODING_ERROR, ""},
    {"empty_string_consumed_before_address", 0x72, integer(1) + integer(2) + octets("") + kAddr, 0,
     "ConnectionEventData integer1=1 integer2=2 string1=null",
     "NetAddrEventData type=1 length=8 address=\"10.0.0.1\""},
    {"empty_address", 0x7d, integer(1) + octets("x") + wire::address(4, ""), 0,
     "UnknownOpData integer1=1 string1=\"x\"", "NetAddrEventData type=4 length=0 address=\"\""},
    {"address_without_octets_keeps_record", 0x7d, integer(1) + octets("x") + integer(4) + integer(5),
     LDAP_DECODING_ERROR, "left a record"},
    {"auth_without_list_reads_address", 0x71,
     kConn + ints(2) + octets("u") + integer(3) + octets("v") + integer(4) + kAddr, 0,
     "AuthEventData connection={1,2,\"c\"} integer1=1 integer2=2 string1=\"u\" integer3=3 string2=\"v\" "
     "list1=null integer4=4",
     "NetAddrEventData type=1 length=8 address=\"10.0.0.1\""},
    {"auth_second_string_fails_event", 0x71, kConn + ints(2) + octets("u") + integer(3) + integer(9),
     LDAP_DECODING_ERROR, ""},
    {"response_0x80_is_not_its_list", 0x7b, kConn + ints(4) + octets("s") + wire::string_list({"x"}, 0x80), 0,
     "ResponseEventData connection={1,2,\"c\"} integer1=1 integer2=2 integer3=3 integer4=4 string1=\"s\" "
     "list1=null"},
    {"connection_block_missing_string", 0x78, seq({integer(1), integer(2)}) + ints(3) + octets("s") + integer(4),
     LDAP_DECODING_ERROR, ""},
    {"empty_connection_block_is_none", 0x78, seq({}) + ints(3) + octets("s") + integer(4), 0,
     "AbandonEventData connection=null integer1=1 integer2=2 integer3=3 string1=\"s\" integer4=4"},
    // A list member's wrapper is read within its own bounds.
    {"list_member_wrapper_empty", 0x74,
     kConn + ints(2) + octets("a") + octets("b") + integer(3) + seq({seq({}), seq({octets("x")})}),
     LDAP_DECODING_ERROR, ""},
    {"list_member_not_octets", 0x74, kConn + ints(2) + octets("a") + octets("b") + integer(3) + seq({seq({integer(1)})}),
     LDAP_DECODING_ERROR, ""},
    {"search_list_read_in_every_case", 0x73,
     kConn + ints(2) + octets("a") + octets("b") + integer(3) + octets("c") + integer(4) + kAddr, LDAP_DECODING_ERROR,
     ""},
    {"triple_with_two_integers", 0x61,
     octets("a") + octets("b") + octets("c") + seq({integer(1), integer(2)}) + integer(3) + integer(4),
     LDAP_DECODING_ERROR, ""},
    {"integer_too_wide", 0x72, integer(0x100000000LL) + integer(2) + octets("c"), LDAP_DECODING_ERROR, ""},
    {"change_server_address_data_needs_octets", 0x6c, ints(3) + octets("d", 0x80) + octets("a") + octets("b"),
     LDAP_DECODING_ERROR, ""},
};

INSTANTIATE_TEST_SUITE_P(Events, Edges, ::testing::ValuesIn(kEdges), [](const auto &info) { return info.param.name; });

TEST(Skulk, ReadsNothingAndGivesNoRecord)
{
    Handle handle;
    handle.set_result_code(LDAP_OTHER);
    Decoded d;
    decode(0x64, integer(1) + kAddr, d, handle.ld);
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.record, nullptr);
    EXPECT_EQ(d.address, nullptr);
    EXPECT_EQ(d.rest, integer(1) + kAddr);
    EXPECT_EQ(handle.result_code(), 0);
}

TEST(Decoders, NullArgumentsAreParameterErrors)
{
    void *out = reinterpret_cast<void *>(1);
    EXPECT_EQ(parseEntryEventData(nullptr, nullptr, &out, nullptr), LDAP_PARAM_ERROR);
    Ber ber = reader(integer(1) + octets("x"));
    EXPECT_EQ(parseUnknownOp(nullptr, ber.get(), nullptr, nullptr), LDAP_PARAM_ERROR);
}

TEST(Decoders, NoAddressSlotLeavesTheAddressUnread)
{
    Ber ber = reader(integer(1) + octets("x") + kAddr);
    void *out = nullptr;
    ASSERT_EQ(parseUnknownOp(nullptr, ber.get(), &out, nullptr), 0);
    EXPECT_EQ(dump(out), "UnknownOpData integer1=1 string1=\"x\"");
    ldap_event_free(out);
}

}  // namespace
}  // namespace events_test
