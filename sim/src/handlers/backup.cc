// Object backup and restore.  The backup data of an entry is its LDIF record
// ("dn: ..." and one line per value, base64 where LDIF needs it), described
// by a chunk list of pieces of at most 4096 bytes; the continuation state
// returned is the entry's creation number and 1, and the whole entry always
// comes in one answer.  A restore creates the entry from such data, or
// replaces the one that is there.
#include <ldap.h>

#include <cstdio>  // before <ldif.h>, which uses FILE
#include <cstring>

#include <ldif.h>
#include <memory>

#include "management.h"

namespace dirsim::detail::management {
namespace {

constexpr int kChunk = 4096;

std::string ldif_line(const char *name, const std::string &value)
{
    char *line = ldif_put_wrap(LDIF_PUT_VALUE, name, value.data(), value.size(), LDIF_LINE_WIDTH_MAX);
    std::string out = line ? line : "";
    ber_memfree(line);
    return out;
}

std::string ldif_of(const Entry &e)
{
    std::string out = ldif_line("dn", e.dn);
    for (const Attribute &a : e.attrs)
        for (const std::string &v : a.values) out += ldif_line(a.name.c_str(), v);
    return out;
}

// dn, state (two integers), extra
Answer backup(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string dn, extra;
    int first = 0, second = 0;
    if (!f.string(dn) || !f.integer(first) || !f.integer(second) || !f.string(extra) || !f.end()) return malformed();
    if (anonymous(ex)) return needs_bind();
    return ex.tree().read([&](const EntryMap &entries) {
        Located at = locate(entries, dn);
        if (at.failure) return *at.failure;
        const Entry &entry = entries.at(at.ndn);
        std::string data = ldif_of(entry);
        int size = int(data.size());
        std::vector<int> chunks;
        for (int left = size; left > 0; left -= kChunk) chunks.push_back(left < kChunk ? left : kChunk);
        Writer w;
        w.put("iiio{i[", size, int(entry.seq), 1, data.data(), ber_len_t(data.size()), int(chunks.size()));
        for (int c : chunks) w.put("{i}", c);
        Answer a;
        a.value = w.put("]}").bytes();
        return a;
    });
}

struct RecordDone {
    void operator()(LDIFRecord *lr) const { ldap_ldif_record_done(lr); }
};

// The entry that an LDIF record describes, or nothing.
std::optional<Entry> parse_entry(const std::string &data)
{
    std::string copy = data;  // parsed in place
    berval record{copy.size(), copy.data()};
    LDIFRecord lr{};
    if (ldap_parse_ldif_record(&record, 1, &lr, "dirsim", LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS) != 0)
        return std::nullopt;
    std::unique_ptr<LDIFRecord, RecordDone> done(&lr);
    if (lr.lr_op != LDAP_REQ_ADD || !lr.lr_dn.bv_val) return std::nullopt;
    Entry e;
    e.dn = to_string(lr.lr_dn);
    for (LDAPMod **m = lr.lrop_mods; m && *m; ++m) {
        Attribute *a = e.find((*m)->mod_type);
        if (!a) {
            e.attrs.push_back({(*m)->mod_type, {}});
            a = &e.attrs.back();
        }
        for (berval **v = (*m)->mod_bvalues; v && *v; ++v) a->values.push_back(to_string(**v));
    }
    return e;
}

// dn, extra, size, data, SEQUENCE { count, SET OF SEQUENCE { chunk } }
Answer restore(Exchange &ex, const std::optional<std::string> &value)
{
    Fields f(value);
    std::string dn, extra, data;
    int size = 0, count = 0;
    berval list;
    if (!f.string(dn) || !f.string(extra) || !f.integer(size) || !f.string(data) || !f.sequence(list) || !f.end())
        return malformed();
    Reader chunks(list);
    berval set;
    if (!chunks.integer(LBER_INTEGER, count) || !chunks.element(LBER_SET, set) || !chunks.at_end()) return malformed();
    Reader each(set);
    long total = 0;
    int seen = 0;
    for (; !each.at_end(); ++seen) {
        berval one;
        int chunk = 0;
        if (!each.element(LBER_SEQUENCE, one)) return malformed();
        Reader r(one);
        if (!r.integer(LBER_INTEGER, chunk) || !r.at_end() || chunk < 0) return malformed();
        total += chunk;
    }
    if (size != int(data.size()) || seen != count || total != size)
        return error(LDAP_PROTOCOL_ERROR, "the data does not match its size and chunk list");
    if (anonymous(ex)) return needs_bind();
    std::optional<Entry> restored = parse_entry(data);
    if (!restored) return error(LDAP_UNWILLING_TO_PERFORM, "the data is not an entry's backup");
    auto ndn = normalize_dn(dn);
    if (!ndn || ndn->empty()) return error(LDAP_INVALID_DN_SYNTAX, "invalid DN");
    if (normalize_dn(restored->dn) != ndn) return error(LDAP_UNWILLING_TO_PERFORM, "the data is another entry's");
    return ex.tree().write([&](EntryMap &entries, uint64_t &next_seq) {
        std::string parent = parent_dn(*ndn);
        if (!parent.empty() && !entries.count(parent))
            return error(LDAP_NO_SUCH_OBJECT, "", matched_dn(entries, *ndn));
        auto it = entries.find(*ndn);
        restored->seq = it != entries.end() ? it->second.seq : next_seq++;
        entries[*ndn] = std::move(*restored);
        return Answer{};
    });
}

const Registrar registrar([] {
    serve(96, backup);
    serve(98, restore);
});

}  // namespace
}  // namespace dirsim::detail::management
