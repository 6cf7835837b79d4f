// What bulk update buys.  Loads of 100,000 entries into the simulator on
// loopback: LBURP in batches of maxOperations, against the baseline of one
// ldap_add_ext_s per entry.  And the operation encoder's rate in memory,
// against the baseline of liblber writing the same bytes in one ber_printf.
//
// Read the figures as ratios within one run: BM_Load_AddPerEntry /
// BM_Load_Lburp (and / BM_Load_LburpOneAhead, one request kept in flight),
// and BM_Encode_LBURPEncodeAdd against BM_Encode_BerPrintfBaseline.
#include <dirext.h>

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "dirsim/server.h"

namespace {

constexpr int kEntries = 100000;

// CPU time of the whole process (client and simulator threads), in ms.
double process_cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

const char kTree[] = "dn: o=lab\nobjectClass: organization\no: lab\n\n"
                     "dn: cn=admin,o=lab\nobjectClass: person\ncn: admin\nsn: Admin\nuserPassword: secret\n\n"
                     "dn: ou=bulk,o=lab\nobjectClass: organizationalUnit\nou: bulk\n";

// Entry i: cn=user<i>,ou=bulk,o=lab with objectClass, cn, sn, mail.
struct Entries {
    std::vector<std::string> dns, names, mails;
    char oc_type[12] = "objectClass", cn_type[3] = "cn", sn_type[3] = "sn", mail_type[5] = "mail";
    char person[14] = "inetOrgPerson";
    char *oc_values[2] = {person, nullptr};
    std::vector<std::array<char *, 2>> name_values, mail_values;
    std::vector<std::array<LDAPMod, 4>> mods;
    std::vector<std::array<LDAPMod *, 5>> lists;
    std::vector<LBURPOperation> ops;

    explicit Entries(int n)
        : dns(n), names(n), mails(n), name_values(n), mail_values(n), mods(n), lists(n), ops(n)
    {
        for (int i = 0; i < n; ++i) {
            names[i] = "user" + std::to_string(i);
            dns[i] = "cn=" + names[i] + ",ou=bulk,o=lab";
            mails[i] = names[i] + "@lab.example";
            name_values[i] = {names[i].data(), nullptr};
            mail_values[i] = {mails[i].data(), nullptr};
            mods[i] = {LDAPMod{LDAP_MOD_ADD, oc_type, {oc_values}},
                       LDAPMod{LDAP_MOD_ADD, cn_type, {name_values[i].data()}},
                       LDAPMod{LDAP_MOD_ADD, sn_type, {name_values[i].data()}},
                       LDAPMod{LDAP_MOD_ADD, mail_type, {mail_values[i].data()}}};
            lists[i] = {&mods[i][0], &mods[i][1], &mods[i][2], &mods[i][3], nullptr};
            ops[i] = LBURPOperation{LBURP_OP_ADD, dns[i].c_str(), lists[i].data(), nullptr, nullptr, 0};
        }
    }
};

const Entries &entries()
{
    static const Entries e(kEntries);
    return e;
}

struct Unbind {
    void operator()(LDAP *ld) const { ldap_unbind_ext(ld, nullptr, nullptr); }
};

std::unique_ptr<LDAP, Unbind> open(const std::string &url)
{
    LDAP *ld = nullptr;
    ldap_initialize(&ld, url.c_str());
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval cred{6, const_cast<char *>("secret")};
    ldap_sasl_bind_s(ld, "cn=admin,o=lab", LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    return std::unique_ptr<LDAP, Unbind>(ld);
}

LDAPMessage *wait(LDAP *ld, int msgid)
{
    LDAPMessage *res = nullptr;
    ldap_result(ld, msgid, LDAP_MSG_ALL, nullptr, &res);
    return res;
}

// A fresh simulator for each load, so that every load starts from the same tree.
struct Load {
    std::unique_ptr<dirsim::Server> server;
    std::unique_ptr<LDAP, Unbind> ld;
    explicit Load(benchmark::State &state)
    {
        dirsim::Options options;
        options.ldif_text = kTree;
        server = std::make_unique<dirsim::Server>(options);
        if (!server->start()) state.SkipWithError("simulator did not start");
        ld = open(server->url());
    }
};

void BM_Load_AddPerEntry(benchmark::State &state)
{
    const Entries &e = entries();
    for (auto _ : state) {
        state.PauseTiming();
        Load load(state);
        const double cpu = process_cpu_ms();
        state.ResumeTiming();
        for (int i = 0; i < kEntries; ++i) {
            if (ldap_add_ext_s(load.ld.get(), e.dns[i].c_str(), const_cast<LDAPMod **>(e.lists[i].data()), nullptr,
                               nullptr) != LDAP_SUCCESS) {
                state.SkipWithError("add failed");
                break;
            }
        }
        state.PauseTiming();
        state.counters["process_cpu_ms"] = process_cpu_ms() - cpu;
        if (!load.server->exists(e.dns.back())) state.SkipWithError("entries missing");
        load.ld.reset();
        load.server.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

// Update requests of maxOperations each.  With `ahead` 0 each request is
// answered before the next is sent; with 1 the next one is already encoded
// and on its way while the server works on the current one (the requests are
// asynchronous and numbered, so a loader may keep one in flight ahead).
void load_lburp(benchmark::State &state, int ahead)
{
    const Entries &e = entries();
    std::vector<LBURPOperation *> all;
    for (const LBURPOperation &op : e.ops) all.push_back(const_cast<LBURPOperation *>(&op));
    for (auto _ : state) {
        state.PauseTiming();
        Load load(state);
        LDAP *ld = load.ld.get();
        const double cpu = process_cpu_ms();
        state.ResumeTiming();
        int msgid = -1, max = 0, errcode = -1;
        ldap_lburp_start_request(ld, &msgid);
        if (ldap_parse_lburp_start_response(ld, wait(ld, msgid), &errcode, nullptr, &max, 1) != LDAP_SUCCESS ||
            max <= 0) {
            state.SkipWithError("start failed");
            break;
        }
        int sequence = 0;
        std::vector<int> in_flight;  // message ids, oldest first
        std::vector<LBURPOperation *> batch;
        bool ok = true;
        auto answered = [&] {
            int count = 0;
            LBURPFailedOperation *failed = nullptr;
            const int id = in_flight.front();
            in_flight.erase(in_flight.begin());
            return ldap_parse_lburp_operation_response(ld, wait(ld, id), &errcode, nullptr, &count, &failed, 1) ==
                       LDAP_SUCCESS &&
                   count == 0;
        };
        for (size_t at = 0; ok && at < all.size(); at += size_t(max)) {
            batch.assign(all.begin() + at, all.begin() + std::min(all.size(), at + size_t(max)));
            batch.push_back(nullptr);
            ok = ldap_lburp_operation_request(ld, ++sequence, batch.data(), &msgid) == LDAP_SUCCESS;
            if (ok) in_flight.push_back(msgid);
            if (ok && int(in_flight.size()) > ahead) ok = answered();
        }
        while (ok && !in_flight.empty()) ok = answered();
        if (!ok) {
            state.SkipWithError("update failed");
            break;
        }
        ldap_lburp_end_request(ld, sequence + 1, &msgid);
        ldap_parse_lburp_end_response(ld, wait(ld, msgid), &errcode, nullptr, 1);
        state.PauseTiming();
        state.counters["process_cpu_ms"] = process_cpu_ms() - cpu;
        if (!load.server->exists(e.dns.back())) state.SkipWithError("entries missing");
        load.ld.reset();
        load.server.reset();
        state.ResumeTiming();
        state.counters["maxOperations"] = max;
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_Load_Lburp(benchmark::State &state) { load_lburp(state, 0); }
void BM_Load_LburpOneAhead(benchmark::State &state) { load_lburp(state, 1); }

// Encoding in memory, 1,000 operations to an element as an update request holds them.
constexpr int kBatch = 1000;

// Encodes kBatch operations per iteration into one update request value,
// entry i by encode(i, ber), which says whether it worked.
template <typename Encode>
void encode_batches(benchmark::State &state, Encode encode)
{
    int i = 0;
    for (auto _ : state) {
        BerElement *ber = ber_alloc();
        ber_printf(ber, "{i", 1);
        for (int n = 0; n < kBatch; ++n, i = (i + 1) % kEntries) {
            if (!encode(i, ber)) {  // the element is gone
                state.SkipWithError("encode failed");
                return;
            }
        }
        ber_printf(ber, "}");
        berval *flat = nullptr;
        ber_flatten(ber, &flat);
        benchmark::DoNotOptimize(flat->bv_val);
        ber_bvfree(flat);
        ber_free(ber, 1);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Encode_LBURPEncodeAdd(benchmark::State &state)
{
    const Entries &e = entries();
    encode_batches(state, [&e](int i, BerElement *ber) {
        return LBURPEncodeAdd(nullptr, e.dns[i].c_str(), const_cast<LDAPMod **>(e.lists[i].data()), nullptr, ber) ==
               LDAP_SUCCESS;
    });
}

// The same bytes written by one ber_printf call per operation: the floor
// that liblber sets.
void BM_Encode_BerPrintfBaseline(benchmark::State &state)
{
    const Entries &e = entries();
    encode_batches(state, [&e](int i, BerElement *ber) {
        const auto &m = e.mods[i];
        if (ber_printf(ber, "{t{s{{s[v]}{s[v]}{s[v]}{s[v]}}}}", ber_tag_t(LDAP_REQ_ADD), e.dns[i].c_str(),
                       m[0].mod_type, m[0].mod_values, m[1].mod_type, m[1].mod_values, m[2].mod_type, m[2].mod_values,
                       m[3].mod_type, m[3].mod_values) != -1)
            return true;
        ber_free(ber, 1);
        return false;
    });
}

BENCHMARK(BM_Load_AddPerEntry)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Load_Lburp)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Load_LburpOneAhead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Encode_LBURPEncodeAdd)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode_BerPrintfBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
