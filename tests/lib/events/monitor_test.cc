// Monitor requests, the final response and event notifications, through
// libldap over an in-memory peer: exact request bytes, crafted responses and
// the handle's result code after every call.
#include <gtest/gtest.h>

#include <optional>

#include "decode.h"
#include "dump.h"
#include "peer.h"
#include "samples.h"

namespace events_test {
namespace {

using namespace wire;

const std::string kPlainOid = "2.16.840.1.113719.1.27.100.79";
const std::string kResponseOid = "2.16.840.1.113719.1.27.100.80";
const std::string kEventOid = "2.16.840.1.113719.1.27.100.81";

std::string extended_request(int msgid, const std::string &oid, const std::string &value)
{
    return seq({integer(msgid), tlv(0x77, tlv(0x80, oid) + tlv(0x81, value))});
}

// ---- requests ----

TEST(MonitorRequest, PlainRequestBytesAreExact)
{
    Peer peer;
    peer.set_result_code(LDAP_OTHER);
    EventSpecifier specs[] = {{1, 2}};
    int msgid = -1;
    ASSERT_EQ(ldap_monitor_events(peer.ld(), 1, specs, &msgid), LDAP_SUCCESS);
    EXPECT_EQ(peer.result_code(), LDAP_SUCCESS);
    const std::string value = "\x30\x0d\x02\x01\x01\x31\x08\x30\x06\x02\x01\x01\x0a\x01\x02";
    EXPECT_EQ(hex(peer.receive()), hex(extended_request(msgid, kPlainOid, value)));
}

TEST(MonitorRequest, BadArgumentsSendNothingAndLeaveTheHandle)
{
    Peer peer;
    EventSpecifier specs[] = {{1, 2}};
    FilteredEventSpecifier filtered[] = {{1, 2, "(a=b)"}, {1, 2, nullptr}};
    int msgid = -1;
    struct Case {
        const char *name;
        int rc;
    } cases[] = {
        {"count 0", ldap_monitor_events(peer.ld(), 0, specs, &msgid)},
        {"specs null", ldap_monitor_events(peer.ld(), 1, nullptr, &msgid)},
        {"msgid null", ldap_monitor_events(peer.ld(), 1, specs, nullptr)},
        {"ld null", ldap_monitor_events(nullptr, 1, specs, &msgid)},
        {"filtered count 0", ldap_monitor_events_filtered(peer.ld(), 0, filtered, &msgid)},
        {"filter null", ldap_monitor_events_filtered(peer.ld(), 2, filtered, &msgid)},
    };
    for (const auto &c : cases) EXPECT_EQ(c.rc, LDAP_PARAM_ERROR) << c.name;
    EXPECT_EQ(peer.result_code(), LDAP_SUCCESS);
    EXPECT_EQ(peer.receive(100), "");
}

TEST(MonitorRequest, SendFailureIsLibldapsCodeAndStored)
{
    Peer peer;
    peer.hang_up();
    EventSpecifier specs[] = {{1, 2}};
    int msgid = -1;
    int rc = ldap_monitor_events(peer.ld(), 1, specs, &msgid);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(peer.result_code(), rc);
}

// ---- the final response ----

struct Final {
    int rc = -1000;
    int result_code = -1;
    char *error = reinterpret_cast<char *>(1);
    int count = -1;
    EventSpecifier *list = reinterpret_cast<EventSpecifier *>(1);
    ~Final()
    {
        if (error != reinterpret_cast<char *>(1)) ldap_memfree(error);
        if (list != reinterpret_cast<EventSpecifier *>(1)) ldapx_memfree(list);
    }
    std::string pairs() const
    {
        std::string out;
        for (int i = 0; list && i < count; ++i)
            out += "(" + std::to_string(list[i].eventType) + "," + std::to_string(list[i].eventStatus) + ")";
        return out;
    }
};

void parse_final(Peer &peer, const std::string *name, const std::string *value, Final &f, int result = 0,
                 const std::string &diagnostic = "")
{
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, extended_response(msgid, result, name, value, diagnostic));
    ASSERT_NE(m, nullptr);
    f.rc = ldap_parse_monitor_events_response(peer.ld(), m.release(), &f.result_code, &f.error, &f.count,
                                              &f.list, 1);
}

std::string registrations(int count, std::initializer_list<std::pair<int, int>> pairs)
{
    std::string elements;
    for (auto [t, s] : pairs) elements += seq({integer(t), enumerated(s)});
    return seq({integer(count), tlv(0x31, elements)});
}

TEST(MonitorResponse, ServerResultAndMessageComeThrough)
{
    Peer peer;
    Final f;
    parse_final(peer, &kResponseOid, nullptr, f, LDAP_UNWILLING_TO_PERFORM, "not now");
    EXPECT_EQ(f.rc, LDAP_SUCCESS);
    EXPECT_EQ(f.result_code, LDAP_UNWILLING_TO_PERFORM);
    ASSERT_NE(f.error, nullptr);
    EXPECT_STREQ(f.error, "not now");
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.list, nullptr);
}

struct FinalCase {
    std::string name;
    std::optional<std::string> oid;
    std::optional<std::string> value;
    int rc;
    std::string pairs;
};

void PrintTo(const FinalCase &c, std::ostream *os) { *os << c.name; }

class FinalResponses : public ::testing::TestWithParam<FinalCase> {};

TEST_P(FinalResponses, ParseAsStated)
{
    const FinalCase &c = GetParam();
    Peer peer;
    peer.set_result_code(LDAP_OTHER);
    Final f;
    parse_final(peer, c.oid ? &*c.oid : nullptr, c.value ? &*c.value : nullptr, f);
    EXPECT_EQ(f.rc, c.rc);
    EXPECT_EQ(peer.result_code(), c.rc);
    EXPECT_EQ(f.pairs(), c.pairs);
    if (c.pairs.empty()) {
        EXPECT_EQ(f.list, nullptr);
        EXPECT_EQ(f.count, 0);
    }
}

const FinalCase kFinalCases[] = {
    {"no_value", kResponseOid, std::nullopt, 0, ""},
    {"no_name", std::nullopt, registrations(1, {{1, 2}}), 0, ""},
    {"longer_name", kResponseOid + "1", registrations(1, {{1, 2}}), LDAP_DECODING_ERROR, ""},
    {"other_name", kEventOid, registrations(1, {{1, 2}}), LDAP_DECODING_ERROR, ""},
    {"head_without_count", kResponseOid, seq({octets("x")}), 0, ""},
    {"count_without_set", kResponseOid, seq({integer(1), seq({seq({integer(1), enumerated(2)})})}), 0, ""},
    {"empty_value", kResponseOid, "", 0, ""},
    {"zero_registrations", kResponseOid, registrations(0, {}), 0, ""},
    {"negative_count", kResponseOid, registrations(-1, {{1, 2}}), LDAP_NO_MEMORY, ""},
    {"fewer_elements_than_count", kResponseOid, registrations(3, {{1, 2}, {3, 4}}), LDAP_DECODING_ERROR, ""},
    {"count_beyond_the_bytes", kResponseOid, registrations(0x7fffffff, {{1, 2}}), LDAP_DECODING_ERROR, ""},
    {"count_governs_extra_elements", kResponseOid, registrations(1, {{1, 2}, {3, 4}}), 0, "(1,2)"},
    {"element_without_status", kResponseOid, seq({integer(1), set({seq({integer(1)})})}), LDAP_DECODING_ERROR, ""},
    {"filtered_form_echoed", kResponseOid,
     seq({integer(1), set({seq({integer(1), enumerated(2), octets("(a=b)")})})}), 0, "(1,2)"},
};

INSTANTIATE_TEST_SUITE_P(Events, FinalResponses, ::testing::ValuesIn(kFinalCases),
                         [](const auto &info) { return info.param.name; });

TEST(MonitorResponse, OptionalOutputsMayBeNull)
{
    Peer peer;
    int msgid = peer.open_operation();
    const std::string value = registrations(1, {{1, 2}});
    Message m = peer.deliver(msgid, extended_response(msgid, 0, &kResponseOid, &value));
    int result = -1;
    EXPECT_EQ(ldap_parse_monitor_events_response(peer.ld(), m.get(), &result, nullptr, nullptr, nullptr, 0),
              LDAP_SUCCESS);
    int count = -1;
    EXPECT_EQ(ldap_parse_monitor_events_response(peer.ld(), m.get(), &result, nullptr, &count, nullptr, 0),
              LDAP_SUCCESS);
    EXPECT_EQ(count, 0);
}

TEST(MonitorResponse, MissingResultCodeIsParameterErrorAndStillConsumesTheMessage)
{
    Peer peer;
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, extended_response(msgid, 0, &kResponseOid, nullptr));
    EXPECT_EQ(ldap_parse_monitor_events_response(peer.ld(), m.release(), nullptr, nullptr, nullptr, nullptr, 1),
              LDAP_PARAM_ERROR);
    EXPECT_EQ(peer.result_code(), LDAP_PARAM_ERROR);
}

TEST(MonitorResponse, AnIntermediateResponseIsRefusedByLibldap)
{
    Peer peer;
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, notification(msgid, samples()[0].value()));
    int result = -1;
    Final f;
    EXPECT_EQ(ldap_parse_monitor_events_response(peer.ld(), m.release(), &result, &f.error, &f.count, &f.list, 1),
              LDAP_NO_RESULTS_RETURNED);
    EXPECT_EQ(peer.result_code(), LDAP_NO_RESULTS_RETURNED);
}

// ---- event notifications ----

struct Event {
    int rc = -1000;
    int type = -1;
    int result = -1;
    void *record = reinterpret_cast<void *>(1);
    NetAddrEventData *address = nullptr;
    ~Event()
    {
        if (record != reinterpret_cast<void *>(1)) ldap_event_free(record);
        ldap_event_free(address);
    }
};

class EveryKindThroughTheEntryPoint : public ::testing::TestWithParam<Sample> {};

INSTANTIATE_TEST_SUITE_P(Events, EveryKindThroughTheEntryPoint, ::testing::ValuesIn(samples()),
                         [](const auto &info) { return info.param.name; });

// The entry point reads the body in place in the message; every allocation
// it makes may fail, and then nothing is delivered and nothing leaks.
TEST_P(EveryKindThroughTheEntryPoint, EveryAllocationFailureIsReportedAndReleasesAll)
{
    const Sample &s = GetParam();
    Peer peer;
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, notification(msgid, s.value(1234, -5)));
    ASSERT_NE(m, nullptr);
    for (int n = 1;; ++n) {
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        peer.set_result_code(LDAP_OTHER);
        Event e;
        fail_allocation(n);
        e.rc = ldap_parse_ds_event_IP(peer.ld(), m.get(), &e.type, &e.result, &e.record, 0, &e.address);
        const bool reached = allocations_seen() >= n;
        fail_allocation(0);
        if (!reached) {
            ASSERT_EQ(e.rc, LDAP_SUCCESS);
            EXPECT_EQ(dump(e.record), s.record);
            EXPECT_EQ(dump(e.address), s.address);
            break;
        }
        EXPECT_EQ(e.rc, LDAP_NO_MEMORY);
        EXPECT_EQ(peer.result_code(), LDAP_NO_MEMORY);
        EXPECT_EQ(e.record, nullptr);
        EXPECT_EQ(e.address, nullptr);
        ASSERT_LT(n, 100);
    }
}

TEST(Notification, AddressBehindTheBodyElementIsReadToo)
{
    Peer peer;
    int msgid = peer.open_operation();
    const std::string body = tlv(0x7d, integer(9) + octets("op"));
    Message m = peer.deliver(msgid, notification(msgid, seq({integer(1), integer(0), body, address(2, "::1")})));
    Event e;
    e.rc = ldap_parse_ds_event_IP(peer.ld(), m.release(), &e.type, &e.result, &e.record, 1, &e.address);
    EXPECT_EQ(e.rc, LDAP_SUCCESS);
    EXPECT_EQ(dump(e.record), "UnknownOpData integer1=9 string1=\"op\"");
    EXPECT_EQ(dump(e.address), "NetAddrEventData type=2 length=3 address=\"::1\"");
}

struct NotificationCase {
    std::string name;
    std::string value;
    int rc;
    std::string record;  // dump, "null" for none
    std::string address = "null";
};

void PrintTo(const NotificationCase &c, std::ostream *os) { *os << c.name; }

class Notifications : public ::testing::TestWithParam<NotificationCase> {};

TEST_P(Notifications, ParseAsStated)
{
    const NotificationCase &c = GetParam();
    Peer peer;
    peer.set_result_code(LDAP_OTHER);
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, notification(msgid, c.value));
    ASSERT_NE(m, nullptr);
    Event e;
    e.rc = ldap_parse_ds_event_IP(peer.ld(), m.release(), &e.type, &e.result, &e.record, 1, &e.address);
    EXPECT_EQ(e.rc, c.rc);
    EXPECT_EQ(peer.result_code(), c.rc);
    EXPECT_EQ(dump(e.record), c.record);
    EXPECT_EQ(dump(e.address), c.address);
    if (c.rc == LDAP_SUCCESS) {
        EXPECT_EQ(e.type, 3);
        EXPECT_EQ(e.result, 4);
    }
}

std::string value_with(const std::string &body) { return seq({integer(3), integer(4), body}); }

const std::string kUnknownOp = integer(9) + octets("op");

const NotificationCase kNotifications[] = {
    {"tag_0x6a_has_no_decoder", value_with(tlv(0x6a, kUnknownOp)), 0, "null"},
    {"tag_0x6b_has_no_decoder", value_with(tlv(0x6b, kUnknownOp)), 0, "null"},
    {"tag_0x6e_has_no_decoder", value_with(tlv(0x6e, kUnknownOp)), 0, "null"},
    {"tag_0x60_out_of_range", value_with(tlv(0x60, kUnknownOp)), 0, "null"},
    {"tag_0x7e_out_of_range", value_with(tlv(0x7e, kUnknownOp)), 0, "null"},
    {"universal_sequence_body", value_with(seq({kUnknownOp})), 0, "null"},
    {"skulk_gives_no_record", value_with(tlv(0x64, kUnknownOp)), 0, "null"},
    {"no_body", seq({integer(3), integer(4)}), 0, "null"},
    {"net_address_body_and_trailing_address", value_with(tlv(0x68, address(1, "10.0.0.1") + address(2, "::1"))), 0,
     "NetAddrEventData type=1 length=8 address=\"10.0.0.1\"", "NetAddrEventData type=2 length=3 address=\"::1\""},
    {"net_address_body_empty", value_with(tlv(0x68, address(0, ""))), 0,
     "NetAddrEventData type=0 length=0 address=\"\""},
    {"net_address_body_without_octets", value_with(tlv(0x68, integer(1) + integer(2))), LDAP_DECODING_ERROR,
     "null"},
    {"net_address_body_bad_trailing_address", value_with(tlv(0x68, address(1, "a") + integer(2))),
     LDAP_DECODING_ERROR, "null"},
    {"decoder_failure_leaves_no_record", value_with(tlv(0x7d, integer(9) + integer(1))), LDAP_DECODING_ERROR,
     "null"},
    {"failed_trailing_address_leaves_no_record", value_with(tlv(0x7d, kUnknownOp + integer(1) + integer(2))),
     LDAP_DECODING_ERROR, "null"},
    {"head_without_result", seq({integer(3)}), LDAP_DECODING_ERROR, "null"},
    {"value_not_a_sequence", octets("junk"), LDAP_DECODING_ERROR, "null"},
    {"body_longer_than_value", seq({integer(3), integer(4), std::string("\x7d\x10\x02\x01\x09", 5)}),
     LDAP_DECODING_ERROR, "null"},
};

INSTANTIATE_TEST_SUITE_P(Events, Notifications, ::testing::ValuesIn(kNotifications),
                         [](const auto &info) { return info.param.name; });

TEST(Notification, WithoutEventDataOnlyTheHeadIsRead)
{
    Peer peer;
    Event e;
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, notification(msgid, value_with(tlv(0x61, integer(1)))));
    e.rc = ldap_parse_ds_event_IP(peer.ld(), m.release(), &e.type, &e.result, nullptr, 1, nullptr);
    EXPECT_EQ(e.rc, LDAP_SUCCESS);
    EXPECT_EQ(e.type, 3);
    EXPECT_EQ(e.result, 4);
    EXPECT_EQ(e.record, reinterpret_cast<void *>(1));  // not touched
}

TEST(Notification, NameMustBeTheEventNotification)
{
    const std::string value = samples()[0].value();
    const std::string longer = kEventOid + "0";
    struct Case {
        const char *name;
        const std::string *oid;
        const std::string *val;
    } cases[] = {{"no name", nullptr, &value},
                 {"final response name", &kResponseOid, &value},
                 {"longer name", &longer, &value},
                 {"no value", &kEventOid, nullptr}};
    for (const auto &c : cases) {
        Peer peer;
        int msgid = peer.open_operation();
        Message m = peer.deliver(msgid, intermediate(msgid, c.oid, c.val));
        ASSERT_NE(m, nullptr) << c.name;
        Event e;
        e.rc = ldap_parse_ds_event_IP(peer.ld(), m.release(), &e.type, &e.result, &e.record, 1, &e.address);
        EXPECT_EQ(e.rc, LDAP_DECODING_ERROR) << c.name;
        EXPECT_EQ(e.record, nullptr) << c.name;
        EXPECT_EQ(peer.result_code(), LDAP_DECODING_ERROR) << c.name;
    }
}

TEST(Notification, ArgumentErrorsAreStoredAndTheMessageIsStillConsumed)
{
    Peer peer;
    int msgid = peer.open_operation();
    const std::string value = samples()[0].value();
    int type = 0, result = 0;
    void *record = nullptr;
    struct Call {
        const char *name;
        int (*call)(LDAP *, LDAPMessage *, int *, int *, void **);
    };
    const Call calls[] = {
        {"eventType null", [](LDAP *ld, LDAPMessage *m, int *, int *r, void **d) {
             return ldap_parse_ds_event(ld, m, nullptr, r, d, 1);
         }},
        {"eventResult null", [](LDAP *ld, LDAPMessage *m, int *t, int *, void **d) {
             return ldap_parse_ds_event(ld, m, t, nullptr, d, 1);
         }},
        {"address null with eventData", [](LDAP *ld, LDAPMessage *m, int *t, int *r, void **d) {
             return ldap_parse_ds_event_IP(ld, m, t, r, d, 1, nullptr);
         }},
    };
    for (const auto &c : calls) {
        Message m = peer.deliver(msgid, notification(msgid, value));
        ASSERT_NE(m, nullptr);
        peer.set_result_code(LDAP_OTHER);
        EXPECT_EQ(c.call(peer.ld(), m.release(), &type, &result, &record), LDAP_PARAM_ERROR) << c.name;
        EXPECT_EQ(peer.result_code(), LDAP_PARAM_ERROR) << c.name;
    }
    EXPECT_EQ(ldap_parse_ds_event(nullptr, nullptr, &type, &result, &record, 1), LDAP_PARAM_ERROR);
}

TEST(Notification, AFinalResponseIsRefusedByLibldap)
{
    Peer peer;
    int msgid = peer.open_operation();
    Message m = peer.deliver(msgid, extended_response(msgid, 0, &kResponseOid, nullptr));
    Event e;
    e.rc = ldap_parse_ds_event_IP(peer.ld(), m.release(), &e.type, &e.result, &e.record, 1, &e.address);
    EXPECT_EQ(e.rc, LDAP_PARAM_ERROR);
    EXPECT_EQ(e.record, nullptr);
}

// ---- the intermediate-response envelope around the value ----

// Whole LDAP messages whose IntermediateResponse is unusual: each must give
// exactly what libldap's own unpacking (ldap_parse_intermediate) gives, with
// and without eventData, and the message goes with freeit on every path.
struct EnvelopeCase {
    std::string name;
    std::string message;  // behind the message id: the protocol op and anything after it
    int rc;
    int version = LDAP_VERSION3;
};

void PrintTo(const EnvelopeCase &c, std::ostream *os) { *os << c.name; }

class Envelopes : public ::testing::TestWithParam<EnvelopeCase> {};

const std::string kValue = seq({integer(3), integer(4), tlv(0x7d, integer(9) + octets("op"))});
const std::string kRecord = "UnknownOpData integer1=9 string1=\"op\"";

std::string op(const std::string &contents) { return tlv(0x79, contents); }

TEST_P(Envelopes, GiveWhatLibldapGives)
{
    const EnvelopeCase &c = GetParam();
    for (const bool wants_record : {true, false}) {
        for (const int freeit : {0, 1}) {
            SCOPED_TRACE(std::string(wants_record ? "record" : "head only") + (freeit ? ", freeit" : ""));
            Peer peer;
            int msgid = peer.open_operation();
            Message m = peer.deliver(msgid, tlv(0x30, integer(msgid) + c.message));
            ASSERT_NE(m, nullptr);
            int version = c.version;
            ldap_set_option(peer.ld(), LDAP_OPT_PROTOCOL_VERSION, &version);
            peer.set_result_code(LDAP_OTHER);
            Event e;
            LDAPMessage *message = freeit ? m.release() : m.get();
            e.rc = ldap_parse_ds_event_IP(peer.ld(), message, &e.type, &e.result,
                                          wants_record ? &e.record : nullptr, freeit,
                                          wants_record ? &e.address : nullptr);
            EXPECT_EQ(e.rc, c.rc);
            EXPECT_EQ(peer.result_code(), c.rc);
            if (wants_record) {
                EXPECT_EQ(dump(e.record), c.rc == LDAP_SUCCESS ? kRecord : "null");
            }
            if (c.rc == LDAP_SUCCESS) {
                EXPECT_EQ(e.type, 3);
                EXPECT_EQ(e.result, 4);
            }
        }
    }
}

const EnvelopeCase kEnvelopes[] = {
    {"plain", op(tlv(0x80, kEventOid) + tlv(0x81, kValue)), LDAP_SUCCESS},
    {"extended_response_tags", op(tlv(0x8a, kEventOid) + tlv(0x8b, kValue)), LDAP_SUCCESS},
    {"mixed_tags", op(tlv(0x80, kEventOid) + tlv(0x8b, kValue)), LDAP_SUCCESS},
    {"name_with_a_final_nul", op(tlv(0x80, kEventOid + std::string(1, '\0')) + tlv(0x81, kValue)), LDAP_SUCCESS},
    {"name_with_two_final_nuls", op(tlv(0x80, kEventOid + std::string(2, '\0')) + tlv(0x81, kValue)),
     LDAP_DECODING_ERROR},
    {"name_with_an_inner_nul", op(tlv(0x80, "2.16" + std::string(1, '\0') + kEventOid.substr(4)) + tlv(0x81, kValue)),
     LDAP_DECODING_ERROR},
    {"name_a_prefix", op(tlv(0x80, kEventOid.substr(0, kEventOid.size() - 1)) + tlv(0x81, kValue)),
     LDAP_DECODING_ERROR},
    // libldap's own check of an empty name is an assertion; it is refused here.
    {"empty_name", op(tlv(0x80, "") + tlv(0x81, kValue)), LDAP_DECODING_ERROR},
    {"nul_name", op(tlv(0x80, std::string(1, '\0')) + tlv(0x81, kValue)), LDAP_DECODING_ERROR},
    {"value_before_name", op(tlv(0x81, kValue) + tlv(0x80, kEventOid)), LDAP_DECODING_ERROR},
    {"name_twice", op(tlv(0x80, kEventOid) + tlv(0x80, kEventOid) + tlv(0x81, kValue)), LDAP_DECODING_ERROR},
    {"value_under_another_tag", op(tlv(0x80, kEventOid) + tlv(0x82, kValue)), LDAP_DECODING_ERROR},
    {"empty_value", op(tlv(0x80, kEventOid) + tlv(0x81, "")), LDAP_DECODING_ERROR},
    {"empty_op", op(""), LDAP_DECODING_ERROR},
    {"junk_behind_the_value", op(tlv(0x80, kEventOid) + tlv(0x81, kValue) + octets("junk")), LDAP_SUCCESS},
    {"controls_behind_the_op",
     op(tlv(0x80, kEventOid) + tlv(0x81, kValue)) + tlv(0xa0, seq({octets("1.3.6.1.4.1.32473.9")})), LDAP_SUCCESS},
    // libldap enters the op without confining what it reads next to it.
    {"name_and_value_behind_an_empty_op", op("") + tlv(0x80, kEventOid) + tlv(0x81, kValue), LDAP_SUCCESS},
    {"value_running_past_the_op", op(tlv(0x80, kEventOid) + std::string("\x81\x7f", 2)) + kValue,
     LDAP_DECODING_ERROR},
    {"name_length_beyond_the_message", op(std::string("\x80\x84\x7f\xff\xff\xff", 6)), LDAP_DECODING_ERROR},
    {"indefinite_value_length",
     op(tlv(0x80, kEventOid) + std::string("\x81\x80", 2) + kValue + std::string(2, '\0')), LDAP_DECODING_ERROR},
    {"long_form_lengths",
     op(std::string("\x80\x81", 2) + std::string(1, static_cast<char>(kEventOid.size())) + kEventOid +
        std::string("\x81\x82\x00", 3) + std::string(1, static_cast<char>(kValue.size())) + kValue),
     LDAP_SUCCESS},
    {"protocol_version_2", op(tlv(0x80, kEventOid) + tlv(0x81, kValue)), LDAP_NOT_SUPPORTED, LDAP_VERSION2},
    {"search_entry", tlv(0x64, octets("cn=x") + seq({})), LDAP_PARAM_ERROR},
    {"search_done", tlv(0x65, integer(0, 0x0a) + octets("") + octets("")), LDAP_PARAM_ERROR},
    {"search_done_under_version_2", tlv(0x65, integer(0, 0x0a) + octets("") + octets("")), LDAP_NOT_SUPPORTED,
     LDAP_VERSION2},
};

INSTANTIATE_TEST_SUITE_P(Events, Envelopes, ::testing::ValuesIn(kEnvelopes),
                         [](const auto &info) { return info.param.name; });

}  // namespace
}  // namespace events_test
