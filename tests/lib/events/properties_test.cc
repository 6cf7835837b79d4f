// Round trips on random valid values: bodies of every record kind, the final
// response and both requests, written and read back apart from the library
// (model.h, wire.h, a hand reader) and compared member by member.
#include <gtest/gtest.h>

#include <algorithm>

#include "decode.h"
#include "model.h"
#include "peer.h"

namespace events_test {
namespace {

using model::Body;
using model::Shape;
using model::Value;

const std::string kPlainOid = "2.16.840.1.113719.1.27.100.79";
const std::string kFilteredOid = "2.16.840.1.113719.1.27.100.84";
const std::string kResponseOid = "2.16.840.1.113719.1.27.100.80";

// Where a failure came from, printed only on failure.
struct Trace {
    const generate::Random &rng;
    int run;
    const std::string &bytes;
};
std::ostream &operator<<(std::ostream &os, const Trace &t)
{
    return os << "seed " << t.rng.seed_used() << " run " << t.run << " bytes " << wire::hex(t.bytes);
}

void expect_record(const Shape &s, const Body &b, const void *record, const Value &address,
                   const NetAddrEventData *got_address, const Trace &trace)
{
    EXPECT_EQ(model::read_address(got_address), address) << trace;
    if (s.fields.empty()) {
        EXPECT_EQ(record, nullptr) << trace;
        return;
    }
    ASSERT_NE(record, nullptr) << trace;
    EXPECT_EQ(DIREXT_EVENT_KIND(record), s.tag) << trace;
    const std::vector<Value> got = model::read(s, record);
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], b.fields[i]) << trace << " element " << i + 1;
}

class EventBodyProperties : public ::testing::TestWithParam<Shape> {};

// Through the exported decoder over liblber, and as a whole notification
// through libldap and the inline reader (alternately with and without the
// address slot).
TEST_P(EventBodyProperties, DecodeWhatWasWritten)
{
    const Shape &s = GetParam();
    generate::Random rng;
    Peer peer;
    Handle handle;
    const int msgid = peer.open_operation();
    for (int i = 0, runs = generate::runs(); i < runs; ++i) {
        const Body b = model::random_body(s, rng);
        const Trace trace{rng, i, b.contents};
        if (decoder_for(s.tag)) {
            Decoded d;
            handle.set_result_code(LDAP_OTHER);
            decode(s.tag, b.contents, d, handle.ld);
            ASSERT_EQ(d.rc, LDAP_SUCCESS) << trace;
            EXPECT_EQ(handle.result_code(), LDAP_SUCCESS) << trace;
            expect_record(s, b, d.record, b.address, d.address, trace);
            EXPECT_EQ(d.rest.size(), s.fields.empty() ? b.contents.size() : 0) << trace;
        }
        const int32_t type = rng.int32(), result = rng.int32();
        const std::string value = wire::seq({wire::integer(type), wire::integer(result), wire::tlv(s.tag, b.contents)});
        Message m = peer.deliver(msgid, wire::notification(msgid, value));
        ASSERT_NE(m, nullptr) << trace;
        int got_type = 0, got_result = 0;
        void *record = nullptr;
        NetAddrEventData *address = nullptr;
        const bool with_address = i % 2 == 0;
        peer.set_result_code(LDAP_OTHER);
        const int rc = with_address
                           ? ldap_parse_ds_event_IP(peer.ld(), m.release(), &got_type, &got_result, &record, 1, &address)
                           : ldap_parse_ds_event(peer.ld(), m.release(), &got_type, &got_result, &record, 1);
        EXPECT_EQ(rc, LDAP_SUCCESS) << trace;
        EXPECT_EQ(peer.result_code(), LDAP_SUCCESS) << trace;
        EXPECT_EQ(got_type, type) << trace;
        EXPECT_EQ(got_result, result) << trace;
        expect_record(s, b, record, with_address ? b.address : Value{false}, address, trace);
        ldap_event_free(record);
        ldap_event_free(address);
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, EventBodyProperties, ::testing::ValuesIn(model::shapes()), [](const auto &info) {
    return "tag_" + wire::hex(std::string(1, static_cast<char>(info.param.tag)));
});

TEST(EventProperties, FinalResponseListsTheRegistrationsSent)
{
    generate::Random rng;
    Peer peer;
    for (int i = 0, runs = generate::runs(); i < runs; ++i) {
        const auto pairs = rng.list<EventSpecifier>([&] { return EventSpecifier{rng.int32(), rng.int32()}; });
        std::string elements;
        for (const auto &p : pairs) elements += wire::seq({wire::integer(p.eventType), wire::enumerated(p.eventStatus)});
        const std::string value = wire::seq({wire::integer(static_cast<int64_t>(pairs.size())), wire::tlv(0x31, elements)});
        const int32_t result = rng.int32();
        const std::string diagnostic = rng.text(60);
        const int msgid = peer.open_operation();
        Message m = peer.deliver(msgid, wire::extended_response(msgid, result, &kResponseOid, &value, diagnostic));
        const Trace trace{rng, i, value};
        ASSERT_NE(m, nullptr) << trace;
        int code = -1, count = -1;
        char *error = nullptr;
        EventSpecifier *list = nullptr;
        EXPECT_EQ(ldap_parse_monitor_events_response(peer.ld(), m.release(), &code, &error, &count, &list, 1),
                  LDAP_SUCCESS) << trace;
        EXPECT_EQ(code, result) << trace;
        EXPECT_EQ(error ? std::string(error) : "", diagnostic) << trace;
        EXPECT_EQ(count, static_cast<int>(pairs.size())) << trace;
        EXPECT_EQ(list == nullptr, pairs.empty()) << trace;
        for (int k = 0; list && k < count && k < static_cast<int>(pairs.size()); ++k) {
            EXPECT_EQ(list[k].eventType, pairs[k].eventType) << trace << " registration " << k;
            EXPECT_EQ(list[k].eventStatus, pairs[k].eventStatus) << trace << " registration " << k;
        }
        ldap_memfree(error);
        ldapx_memfree(list);
    }
}

// Elements of a request, read by hand; `ok` turns false at the first element
// that is not there with the tag expected.
struct Elements {
    std::string in;
    std::size_t at = 0;
    bool ok = true;

    std::string take(uint8_t tag)
    {
        ok = ok && at + 2 <= in.size() && static_cast<uint8_t>(in[at]) == tag;
        if (!ok) return "";
        std::size_t n = static_cast<uint8_t>(in[at + 1]), head = 2;
        if (n & 0x80) {
            const std::size_t octets = n & 0x7f;
            ok = octets && octets <= 4 && at + 2 + octets <= in.size();
            for (n = 0; ok && head < 2 + octets; ++head) n = n << 8 | static_cast<uint8_t>(in[at + head]);
        }
        ok = ok && n <= in.size() - at - head;
        if (!ok) return "";
        at += head + n;
        return in.substr(at - n, n);
    }
    int64_t number(uint8_t tag)
    {
        const std::string c = take(tag);
        ok = ok && !c.empty() && c.size() <= 4;
        int64_t v = c.empty() ? 0 : static_cast<int8_t>(c[0]);
        for (std::size_t i = 1; i < c.size(); ++i) v = v * 256 + static_cast<uint8_t>(c[i]);
        return v;
    }
    bool done() const { return ok && at == in.size(); }
};

TEST(EventProperties, RequestsCarryTheSpecifiersGiven)
{
    generate::Random rng;
    Peer peer;
    for (int i = 0, runs = generate::runs(); i < runs; ++i) {
        const bool filtered = i % 2 == 1;
        std::vector<std::string> filters = rng.list<std::string>([&] { return rng.text(); });
        if (filters.empty()) filters.push_back(rng.text());
        std::vector<FilteredEventSpecifier> specs;
        std::vector<EventSpecifier> plain;
        for (const auto &f : filters) {
            specs.push_back({rng.int32(), rng.int32(), f.c_str()});
            plain.push_back({specs.back().eventType, specs.back().eventStatus});
        }
        // A negative count sends no specifier.
        const int count = rng.below(8) ? static_cast<int>(specs.size()) : std::min(rng.int32(), -1);
        int msgid = -1;
        ASSERT_EQ(filtered ? ldap_monitor_events_filtered(peer.ld(), count, specs.data(), &msgid)
                           : ldap_monitor_events(peer.ld(), count, plain.data(), &msgid),
                  LDAP_SUCCESS);
        Elements message{peer.receive()};
        const Trace trace{rng, i, message.in};
        Elements op{message.take(0x30)};
        EXPECT_EQ(op.number(0x02), msgid) << trace;
        Elements request{op.take(0x77)};
        EXPECT_EQ(request.take(0x80), filtered ? kFilteredOid : kPlainOid) << trace;
        Elements value{request.take(0x81)};
        Elements head{value.take(0x30)};
        EXPECT_EQ(head.number(0x02), count) << trace;
        Elements set{head.take(0x31)};
        for (int k = 0; k < count; ++k) {
            Elements element{set.take(0x30)};
            EXPECT_EQ(element.number(0x02), specs[k].eventType) << trace << " specifier " << k;
            EXPECT_EQ(element.number(0x0a), specs[k].eventStatus) << trace << " specifier " << k;
            if (filtered) {
                EXPECT_EQ(element.take(0x04), filters[k]) << trace << " specifier " << k;
            }
            EXPECT_TRUE(element.done()) << trace << " specifier " << k;
        }
        for (const Elements *e : {&message, &op, &request, &value, &head, &set}) EXPECT_TRUE(e->done()) << trace;
    }
}

}  // namespace
}  // namespace events_test
