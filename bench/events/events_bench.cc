// Decoded event notifications per second over a mixed stream of every record
// kind, through the caller's entry point (ldap_parse_ds_event on messages
// libldap made), against a bare ber_scanf walk over the same message bytes
// that copies nothing: the floor.
#include <benchmark/benchmark.h>

#include <dirext.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "peer.h"
#include "samples.h"

namespace {

struct Stream {
    events_test::Peer peer;
    std::vector<std::string> bytes;                 // each whole LDAP message
    std::vector<events_test::Message> messages;     // the same, as libldap delivered them

    Stream()
    {
        const int msgid = peer.open_operation();
        for (const auto &s : events_test::samples()) {
            bytes.push_back(wire::notification(msgid, s.value(s.tag, 0)));
            messages.push_back(peer.deliver(msgid, bytes.back()));
            if (!messages.back()) throw std::runtime_error("no message for " + s.name);
        }
    }
};

Stream &stream()
{
    static Stream s;
    return s;
}

void BM_ParseDsEvent(benchmark::State &state)
{
    Stream &s = stream();
    LDAP *ld = s.peer.ld();
    for (auto _ : state) {
        for (auto &m : s.messages) {
            int type = 0, result = 0;
            void *record = nullptr;
            if (ldap_parse_ds_event(ld, m.get(), &type, &result, &record, 0) != LDAP_SUCCESS)
                state.SkipWithError("an event did not decode");
            benchmark::DoNotOptimize(record);
            ldap_event_free(record);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.messages.size()));
}

// What libldap's own unpacking of each message costs: the same entry point
// asked for the event type and result only.
void BM_ParseDsEventHeadOnly(benchmark::State &state)
{
    Stream &s = stream();
    LDAP *ld = s.peer.ld();
    for (auto _ : state) {
        for (auto &m : s.messages) {
            int type = 0, result = 0;
            if (ldap_parse_ds_event(ld, m.get(), &type, &result, nullptr, 0) != LDAP_SUCCESS)
                state.SkipWithError("an event head did not decode");
            benchmark::DoNotOptimize(type);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.messages.size()));
}

// Visits every element with ber_scanf: "{" into constructed ones, "i" for
// INTEGERs, "m" (in place, no copy) for the rest; the notification value
// inside the message is walked the same way.
void walk(BerElement *ber, ber_len_t end_left)
{
    ber_len_t left = 0, len = 0;
    while (ber_get_option(ber, LBER_OPT_BER_REMAINING_BYTES, &left) == LBER_OPT_SUCCESS && left > end_left) {
        ber_tag_t tag = ber_peek_tag(ber, &len);
        if (tag == LBER_DEFAULT) return;
        if (tag & LBER_CONSTRUCTED) {
            ber_scanf(ber, "{");
            ber_get_option(ber, LBER_OPT_BER_REMAINING_BYTES, &left);
            walk(ber, left - len);
        } else if (tag == LBER_INTEGER) {
            ber_int_t i;
            ber_scanf(ber, "i", &i);
            benchmark::DoNotOptimize(i);
        } else {
            struct berval bv;
            ber_scanf(ber, "m", &bv);
            if (tag == LDAP_TAG_IM_RES_VALUE) {  // the event value: walk its contents too
                char inner[256];
                BerElement *value = reinterpret_cast<BerElement *>(inner);
                ber_init2(value, &bv, LBER_USE_DER);
                walk(value, 0);
            }
            benchmark::DoNotOptimize(bv.bv_val);
        }
    }
}

void BM_BareBerScanfWalk(benchmark::State &state)
{
    Stream &s = stream();
    for (auto _ : state) {
        for (auto &b : s.bytes) {
            struct berval bv;
            bv.bv_val = const_cast<char *>(b.data());
            bv.bv_len = b.size();
            alignas(16) char buffer[256];
            BerElement *ber = reinterpret_cast<BerElement *>(buffer);
            ber_init2(ber, &bv, LBER_USE_DER);
            walk(ber, 0);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.bytes.size()));
}

BENCHMARK(BM_BareBerScanfWalk);
BENCHMARK(BM_ParseDsEventHeadOnly);
BENCHMARK(BM_ParseDsEvent);

}  // namespace

BENCHMARK_MAIN();
