// libldap reads a DN as RDNs separated by ',' and prints it the same way, so
// a DN's normal form is its first RDN's followed by that of the DN after it.
// That second part is the parent, which the entries of one subtree share: it
// is normalised once and remembered, and each DN costs the parse of one RDN.
// Whenever that way does not give an answer (an invalid DN, the root, odd
// spacing that leaves an empty parent) the whole DN is read instead, which is
// always the authority.
#include "dn.h"

#include <ldap.h>

#include <array>
#include <memory>

#include "tree.h"

namespace dirsim::detail {
namespace {

struct DnFree {
    void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using DnPtr = std::unique_ptr<LDAPRDN, DnFree>;
struct RdnFree {
    void operator()(LDAPRDN rdn) const { ldap_rdnfree(rdn); }
};
using RdnPtr = std::unique_ptr<LDAPAVA *, RdnFree>;
struct MemFree {
    void operator()(char *s) const { ldap_memfree(s); }
};
using LdapText = std::unique_ptr<char, MemFree>;

RdnPairs pairs_of(LDAPRDN rdn)
{
    RdnPairs avas;
    for (LDAPAVA **ava = rdn; ava && *ava; ++ava)
        avas.emplace_back(std::string((*ava)->la_attr.bv_val, (*ava)->la_attr.bv_len),
                          std::string((*ava)->la_value.bv_val, (*ava)->la_value.bv_len));
    return avas;
}

// ldap_str2dn then ldap_dn2str (which is what ldap_dn_normalize does).
// dn holds no NUL.
std::optional<ParsedDn> read_whole(const std::string &dn, bool with_pairs)
{
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
    DnPtr guard(parsed);
    ParsedDn out;
    if (!parsed) return out;  // the root
    char *text = nullptr;
    if (ldap_dn2str(parsed, &text, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
    LdapText owned(text);
    if (text) out.normalized = lower(text);
    if (with_pairs) out.first_rdn = pairs_of(parsed[0]);
    return out;
}

// The normal forms of the parents seen last on this thread (a connection's),
// by their text as sent; a few, replaced in turn.  Only DNs that read are kept.
class ParentForms {
public:
    const std::string *find(std::string_view text) const
    {
        for (const Known &k : known_)
            if (k.used && k.text == text) return &k.normal;
        return nullptr;
    }
    const std::string *add(std::string_view text, std::string normal)
    {
        Known &k = known_[next_];
        next_ = (next_ + 1) % known_.size();
        k = {true, std::string(text), std::move(normal)};
        return &k.normal;
    }

private:
    struct Known {
        bool used = false;
        std::string text, normal;
    };
    std::array<Known, 8> known_;
    size_t next_ = 0;
};

// The normal form of a parent that is a DN of at least one RDN, or null.
const std::string *parent_form(const char *text)
{
    thread_local ParentForms forms;
    if (const std::string *known = forms.find(text)) return known;
    auto parent = read_whole(text, false);
    if (!parent || parent->normalized.empty()) return nullptr;
    return forms.add(text, std::move(parent->normalized));
}

// The first RDN read on its own and the parent from what is remembered;
// nothing when that does not give the answer.
std::optional<ParsedDn> read_by_first_rdn(const std::string &dn, bool with_pairs)
{
    LDAPRDN rdn = nullptr;
    char *next = nullptr;
    if (ldap_str2rdn(dn.c_str(), &rdn, &next, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
    RdnPtr guard(rdn);
    char *text = nullptr;
    if (!rdn || !next || ldap_rdn2str(rdn, &text, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
    LdapText owned(text);
    if (!text || !*text) return std::nullopt;
    const std::string *parent = nullptr;
    if (*next) {
        if (*next != ',' || !(parent = parent_form(next + 1))) return std::nullopt;
    }
    ParsedDn out;
    out.normalized = lower(text);
    if (parent) {
        out.normalized.reserve(out.normalized.size() + 1 + parent->size());
        out.normalized += ',';
        out.normalized += *parent;
    }
    if (with_pairs) out.first_rdn = pairs_of(rdn);
    return out;
}

std::optional<ParsedDn> read_dn(const std::string &dn, bool with_pairs)
{
    if (dn.empty()) return ParsedDn{};
    if (dn.find('\0') != std::string::npos) return std::nullopt;
    if (auto quick = read_by_first_rdn(dn, with_pairs)) return quick;
    return read_whole(dn, with_pairs);
}

}  // namespace

std::optional<std::string> normalize_dn(std::string_view dn)
{
    auto parsed = read_dn(std::string(dn), false);
    if (!parsed) return std::nullopt;
    return std::move(parsed->normalized);
}

std::optional<ParsedDn> parse_dn(const std::string &dn) { return read_dn(dn, true); }

std::string_view parent_of(std::string_view ndn)
{
    // In the normalised form every ',' inside a value is escaped, so the first
    // unescaped one ends the RDN.
    for (size_t i = 0; i < ndn.size(); ++i) {
        if (ndn[i] == '\\') {
            ++i;
        } else if (ndn[i] == ',') {
            return ndn.substr(i + 1);
        }
    }
    return {};
}

std::string parent_dn(const std::string &ndn) { return std::string(parent_of(ndn)); }

std::optional<RdnPairs> first_rdn(const std::string &dn)
{
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
    DnPtr guard(parsed);
    return pairs_of(parsed ? parsed[0] : nullptr);
}

}  // namespace dirsim::detail
