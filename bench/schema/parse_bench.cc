// Parsing a large subschema (10,200 descriptions of all eight kinds, generated
// in memory, no server) with the library's parsers against libldap's own
// parsers on the same texts.  Baseline: libldap.  Each iteration parses and
// frees every description.
#include <benchmark/benchmark.h>
#include <dirext.h>
#include <dlfcn.h>

#include "corpus.h"

namespace {

using Parse = void *(const char *, int *, const char **, unsigned);
using Release = void(void *);

struct Functions {
    Parse *parse[8];
    Release *release[8];
};

Functions library()
{
    return {{reinterpret_cast<Parse *>(&ldap_str2attributetype), reinterpret_cast<Parse *>(&ldap_str2objectclass),
             reinterpret_cast<Parse *>(&ldap_str2syntax), reinterpret_cast<Parse *>(&ldap_str2matchingrule),
             reinterpret_cast<Parse *>(&ldap_str2matchingruleuse), reinterpret_cast<Parse *>(&ldap_str2nameform),
             reinterpret_cast<Parse *>(&ldap_str2ditcontentrule), reinterpret_cast<Parse *>(&ldap_str2ditstructurerule)},
            {reinterpret_cast<Release *>(&ldap_attributetype_free), reinterpret_cast<Release *>(&ldap_objectclass_free),
             reinterpret_cast<Release *>(&ldap_syntax_free), reinterpret_cast<Release *>(&ldap_matchingrule_free),
             reinterpret_cast<Release *>(&ldap_matchingruleuse_free), reinterpret_cast<Release *>(&ldap_nameform_free),
             reinterpret_cast<Release *>(&ldap_ditcontentrule_free),
             reinterpret_cast<Release *>(&ldap_ditstructurerule_free)}};
}

// libldap's functions, found in libldap itself (the program's bindings of the
// shared names are the library's); its content and structure rule parsers
// stand in for the two DIT rule kinds.
Functions libldap()
{
    void *handle = dlopen(DIREXT_LIBLDAP_PATH, RTLD_LAZY | RTLD_NOLOAD);
    const char *parsers[] = {"ldap_str2attributetype", "ldap_str2objectclass",   "ldap_str2syntax",
                             "ldap_str2matchingrule",  "ldap_str2matchingruleuse", "ldap_str2nameform",
                             "ldap_str2contentrule",   "ldap_str2structurerule"};
    const char *frees[] = {"ldap_attributetype_free", "ldap_objectclass_free",   "ldap_syntax_free",
                           "ldap_matchingrule_free",  "ldap_matchingruleuse_free", "ldap_nameform_free",
                           "ldap_contentrule_free",   "ldap_structurerule_free"};
    Functions f{};
    for (int k = 0; k < 8; ++k) {
        f.parse[k] = handle ? reinterpret_cast<Parse *>(dlsym(handle, parsers[k])) : nullptr;
        f.release[k] = handle ? reinterpret_cast<Release *>(dlsym(handle, frees[k])) : nullptr;
    }
    return f;
}

const std::vector<schemabench::Description> &corpus()
{
    static const std::vector<schemabench::Description> descriptions = schemabench::generate();
    return descriptions;
}

void ParseSubschema(benchmark::State &state, Functions f)
{
    for (int k = 0; k < 8; ++k) {
        if (!f.parse[k] || !f.release[k]) {
            state.SkipWithError("parser not found");
            return;
        }
    }
    const unsigned flags = unsigned(state.range(0));
    for (auto _ : state) {
        for (const auto &d : corpus()) {
            int code = 0;
            const char *errp = nullptr;
            void *record = f.parse[d.kind](d.text.c_str(), &code, &errp, flags);
            if (!record) {
                state.SkipWithError(("does not parse: " + d.text).c_str());
                return;
            }
            f.release[d.kind](record);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(corpus().size()));
}

BENCHMARK_CAPTURE(ParseSubschema, libldap_baseline, libldap())->Arg(0)->Arg(15)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParseSubschema, library, library())->Arg(0)->Arg(15)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
