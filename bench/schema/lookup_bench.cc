// Lookups by name and by OID in a large schema (10,200 elements of all eight
// kinds, built in memory as a fetch builds it).  Goal: at least 1,000,000
// lookups a second.  Baseline: std::map with a case-insensitive ordering over
// the same keys (what a caller might build by hand).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>

#include "corpus.h"
#include "schema/subschema.h"

namespace {

using namespace dirext::schema_util;

struct Key {
    int kind;
    std::string key;
};

struct Fixture {
    LDAPSubschema *schema = nullptr;
    std::vector<Key> names, oids;

    Fixture()
    {
        schema = new_schema();
        static const char *const attributes[] = {"attributeTypes",  "objectClasses",   "ldapSyntaxes",
                                                 "matchingRules",   "matchingRuleUse", "nameForms",
                                                 "dITContentRules", "dITStructureRules"};
        auto all = schemabench::generate();
        for (int kind = 0; kind < 8; ++kind) {
            std::vector<berval> values;
            for (const auto &d : all)
                if (d.kind == kind) values.push_back({d.text.size(), const_cast<char *>(d.text.c_str())});
            std::vector<const berval *> pointers;
            for (auto &v : values) pointers.push_back(&v);
            pointers.push_back(nullptr);
            load_attribute(schema, attributes[kind], pointers.data());
        }
        finish_load(schema);
        for (const auto &d : all) {
            oids.push_back({d.kind, d.oid});
            if (!d.name.empty()) {
                std::string mixed = d.name;  // lookups ignore case
                std::transform(mixed.begin(), mixed.begin() + 3, mixed.begin(), ::toupper);
                names.push_back({d.kind, mixed});
            }
        }
        std::mt19937 random(42);
        std::shuffle(names.begin(), names.end(), random);
        std::shuffle(oids.begin(), oids.end(), random);
    }
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

void Lookup(benchmark::State &state, bool by_name)
{
    Fixture &f = fixture();
    const auto &keys = by_name ? f.names : f.oids;
    size_t i = 0;
    for (auto _ : state) {
        const Key &k = keys[i++ % keys.size()];
        LDAPSchemaElement *e = nullptr;
        if (ldap_schema_get_by_name(f.schema, k.key.c_str(), k.kind, &e) != LDAP_SUCCESS) {
            state.SkipWithError(("not found: " + k.key).c_str());
            return;
        }
        benchmark::DoNotOptimize(e);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const { return compare_ignoring_case(a.c_str(), b.c_str()) < 0; }
};

void MapLookup(benchmark::State &state, bool by_name)
{
    Fixture &f = fixture();
    const auto &keys = by_name ? f.names : f.oids;
    std::map<std::string, int, CaseLess> maps[8];
    for (const auto &k : keys) maps[k.kind][k.key] = 1;
    size_t i = 0;
    for (auto _ : state) {
        const Key &k = keys[i++ % keys.size()];
        auto it = maps[k.kind].find(k.key.c_str());
        benchmark::DoNotOptimize(it);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

BENCHMARK_CAPTURE(MapLookup, by_name_baseline, true);
BENCHMARK_CAPTURE(Lookup, by_name, true);
BENCHMARK_CAPTURE(MapLookup, by_oid_baseline, false);
BENCHMARK_CAPTURE(Lookup, by_oid, false);

}  // namespace

BENCHMARK_MAIN();
