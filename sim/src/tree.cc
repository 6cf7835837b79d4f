#include "tree.h"

#include <ldap.h>
#include <ldif.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace dirsim::detail {

Attribute *Entry::find(std::string_view name)
{
    for (auto &a : attrs)
        if (same_name(a.name, name)) return &a;
    return nullptr;
}

const Attribute *Entry::find(std::string_view name) const
{
    return const_cast<Entry *>(this)->find(name);
}

namespace {
char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool is_integer(std::string_view s)
{
    size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int compare_integers(std::string_view a, std::string_view b)
{
    bool na = a[0] == '-', nb = b[0] == '-';
    if (na != nb) return na ? -1 : 1;
    if (na) {
        a.remove_prefix(1);
        b.remove_prefix(1);
    }
    while (a.size() > 1 && a[0] == '0') a.remove_prefix(1);
    while (b.size() > 1 && b[0] == '0') b.remove_prefix(1);
    int mag = a.size() != b.size() ? (a.size() < b.size() ? -1 : 1) : a.compare(b);
    if (mag > 0) mag = 1;
    if (mag < 0) mag = -1;
    return na ? -mag : mag;
}
}  // namespace

std::string lower(std::string_view s)
{
    std::string out(s);
    for (auto &c : out) c = ascii_lower(c);
    return out;
}

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

bool values_equal(std::string_view a, std::string_view b) { return same_name(a, b); }

int values_order(std::string_view a, std::string_view b)
{
    if (is_integer(a) && is_integer(b)) return compare_integers(a, b);
    int c = lower(a).compare(lower(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string matched_dn(const EntryMap &entries, const std::string &ndn)
{
    for (std::string up = parent_dn(ndn); !up.empty(); up = parent_dn(up)) {
        auto it = entries.find(up);
        if (it != entries.end()) return it->second.dn;
    }
    return std::string();
}

bool in_scope(const std::string &ndn, const std::string &base, int scope)
{
    if (ndn.empty()) return false;  // the root DSE is answered on its own
    switch (scope) {
    case LDAP_SCOPE_BASE:
        return ndn == base;
    case LDAP_SCOPE_ONELEVEL:
        return parent_dn(ndn) == base;
    case LDAP_SCOPE_SUBTREE:
        for (std::string up = ndn; !up.empty(); up = parent_dn(up))
            if (up == base) return true;
        return base.empty();
    default:
        return false;
    }
}

namespace {
// ldap_parse_ldif_record reads a record without "dn:" as nothing at all; tell
// the "version: 1" record apart from an entry that lacks its DN.
bool only_version_line(std::string_view record)
{
    size_t at = 0;
    while (at < record.size()) {
        size_t end = record.find('\n', at);
        if (end == std::string_view::npos) end = record.size();
        std::string_view line = record.substr(at, end - at);
        if (!line.empty() && line[0] != '#' && !same_name(line.substr(0, 8), "version:")) return false;
        at = end + 1;
    }
    return true;
}

struct LdifCloser {
    void operator()(LDIFFP *fp) const { ldif_close(fp); }
};
struct RecordDone {
    void operator()(LDIFRecord *lr) const { ldap_ldif_record_done(lr); }
};
}  // namespace

bool Tree::load_file(const std::string &path, std::string &error)
{
    std::unique_ptr<LDIFFP, LdifCloser> fp(ldif_open(path.c_str(), "r"));
    if (!fp) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return load(fp.get(), path, error);
}

bool Tree::load_text(const std::string &text, std::string &error)
{
    std::string copy = text;
    if (copy.empty()) return true;
    std::unique_ptr<LDIFFP, LdifCloser> fp(ldif_open_mem(copy.data(), copy.size(), "r"));
    if (!fp) {
        error = "LDIF text: cannot open";
        return false;
    }
    return load(fp.get(), "LDIF text", error);
}

bool Tree::load(void *ldif_fp, const std::string &source, std::string &error)
{
    auto *fp = static_cast<LDIFFP *>(ldif_fp);
    unsigned long lineno = 0;
    char *raw = nullptr;
    int rawlen = 0;
    std::unique_lock lock(mu_);
    for (;;) {
        int rc = ldif_read_record(fp, &lineno, &raw, &rawlen);
        std::unique_ptr<char, void (*)(void *)> buf(raw, ber_memfree);
        if (rc == 0) return true;
        if (rc < 0) {
            error = source + ": cannot read LDIF near line " + std::to_string(lineno);
            return false;
        }
        raw = nullptr;  // ldif_read_record grows the buffer we now own; start afresh
        rawlen = 0;
        berval record{std::strlen(buf.get()), buf.get()};
        if (only_version_line(std::string_view(record.bv_val, record.bv_len))) continue;
        LDIFRecord lr{};
        int parsed = ldap_parse_ldif_record(&record, lineno, &lr, "dirsim", LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS);
        std::unique_ptr<LDIFRecord, RecordDone> done(&lr);
        if (parsed != 0) {
            error = source + ": bad LDIF record ending at line " + std::to_string(lineno);
            return false;
        }
        if (lr.lr_op != LDAP_REQ_ADD) {
            error = source + (lr.lr_op ? ": only entries are allowed" : ": record without dn") + " (line " +
                    std::to_string(lineno) + ")";
            return false;
        }
        Entry e;
        e.dn = std::string(lr.lr_dn.bv_val ? lr.lr_dn.bv_val : "", lr.lr_dn.bv_len);
        auto ndn = normalize_dn(e.dn);
        if (!ndn || ndn->empty()) {
            error = source + ": invalid DN \"" + e.dn + "\" (line " + std::to_string(lineno) + ")";
            return false;
        }
        if (entries_.count(*ndn)) {
            error = source + ": duplicate entry \"" + e.dn + "\"";
            return false;
        }
        for (LDAPMod **m = lr.lrop_mods; m && *m; ++m) {
            Attribute *a = e.find((*m)->mod_type);
            if (!a) {
                e.attrs.push_back({(*m)->mod_type, {}});
                a = &e.attrs.back();
            }
            for (berval **v = (*m)->mod_bvalues; v && *v; ++v)
                a->values.emplace_back((*v)->bv_val ? std::string((*v)->bv_val, (*v)->bv_len) : std::string());
        }
        e.seq = next_seq_++;
        entries_.emplace(*ndn, std::move(e));
    }
}

}  // namespace dirsim::detail
