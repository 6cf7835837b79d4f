// Search over the tree (base, one level, subtree) and the root DSE.
#include <ldap.h>

#include <algorithm>

#include "search.h"

namespace dirsim::detail {
namespace {

const char *scope_name(ber_int_t scope)
{
    switch (scope) {
    case LDAP_SCOPE_BASE:
        return "base";
    case LDAP_SCOPE_ONELEVEL:
        return "one";
    default:
        return "sub";
    }
}

// A subschema subentry (RFC 4512 4.2) is no naming context and is read only
// by a base search; the root DSE names it as subschemaSubentry.
bool is_subschema(const Entry &e)
{
    const Attribute *oc = e.find("objectClass");
    return oc && std::any_of(oc->values.begin(), oc->values.end(),
                             [](const std::string &v) { return values_equal(v, "subschema"); });
}

Entry root_dse(const EntryMap &entries)
{
    Entry dse;
    dse.attrs.push_back({"objectClass", {"top"}});
    Attribute contexts{"namingContexts", {}};
    std::vector<const Entry *> roots, subschema;
    for (const auto &[ndn, e] : entries) {
        if (is_subschema(e))
            subschema.push_back(&e);
        else if (!entries.count(parent_dn(ndn)))
            roots.push_back(&e);
    }
    auto by_seq = [](const Entry *a, const Entry *b) { return a->seq < b->seq; };
    std::sort(roots.begin(), roots.end(), by_seq);
    std::sort(subschema.begin(), subschema.end(), by_seq);
    for (const Entry *e : roots) contexts.values.push_back(e->dn);
    if (!contexts.values.empty()) dse.attrs.push_back(contexts);
    if (!subschema.empty()) dse.attrs.push_back({"subschemaSubentry", {subschema.front()->dn}});
    dse.attrs.push_back({"supportedLDAPVersion", {"3"}});
    if (auto oids = extended_oids(); !oids.empty()) dse.attrs.push_back({"supportedExtension", oids});
    if (auto controls = supported_controls(); !controls.empty()) dse.attrs.push_back({"supportedControl", controls});
    if (auto mechs = sasl_mechanisms(); !mechs.empty()) dse.attrs.push_back({"supportedSASLMechanisms", mechs});
    return dse;
}

class Search : public Operation {
public:
    bool decode(const berval &body, Request &request) override { return spec_.decode(body, request); }

    void serve(Exchange &ex) override
    {
        auto base = ex.target();
        if (!base) return;
        std::vector<Entry> found;
        std::string matched;
        bool base_exists = ex.tree().read([&](const EntryMap &entries) {
            if (base->empty() && spec_.scope == LDAP_SCOPE_BASE) {
                Entry dse = root_dse(entries);
                if (evaluate(spec_.filter, dse) == Truth::True) found.push_back(std::move(dse));
                return true;
            }
            if (!base->empty() && !entries.count(*base)) {
                matched = matched_dn(entries, *base);
                return false;
            }
            for (const auto &[ndn, e] : entries)
                if (spec_.matches(ndn, *base, e)) found.push_back(e);
            return true;
        });
        if (!base_exists) {
            ex.result(LDAP_NO_SUCH_OBJECT, matched);
            return;
        }
        std::sort(found.begin(), found.end(), [](const Entry &a, const Entry &b) { return a.seq < b.seq; });
        size_t limit = found.size();
        if (spec_.size_limit > 0 && found.size() > size_t(spec_.size_limit)) limit = size_t(spec_.size_limit);
        for (size_t i = 0; i < limit; ++i) {
            BerPtr message = spec_.encode_entry(ex.request().msgid, found[i]);
            if (!message) {
                ex.result(LDAP_OTHER, "", "cannot encode entry");
                return;
            }
            if (!ex.send(message.get())) return;
        }
        ex.result(limit < found.size() ? LDAP_SIZELIMIT_EXCEEDED : LDAP_SUCCESS);
    }

private:
    SearchSpec spec_;
};

}  // namespace

bool SearchSpec::decode(const berval &body, Request &request)
{
    Reader r(body);
    ber_int_t deref = 0, time_limit = 0;
    ber_tag_t filter_tag;
    berval filter_body, attr_list;
    if (!r.string(LBER_OCTETSTRING, request.dn) || !r.integer(LBER_ENUMERATED, scope) ||
        !r.integer(LBER_ENUMERATED, deref) || !r.integer(LBER_INTEGER, size_limit) ||
        !r.integer(LBER_INTEGER, time_limit) || !r.boolean(LBER_BOOLEAN, types_only) ||
        !r.any(filter_tag, filter_body) || !r.element(LBER_SEQUENCE, attr_list))
        return false;
    if (scope < LDAP_SCOPE_BASE || scope > LDAP_SCOPE_SUBTREE || deref < 0 || deref > 3 || size_limit < 0 ||
        time_limit < 0)
        return false;
    if (!decode_filter(filter_tag, filter_body, filter)) return false;
    Reader a(attr_list);
    while (!a.at_end()) {
        std::string name;
        if (!a.string(LBER_OCTETSTRING, name)) return false;
        attrs.push_back(std::move(name));
    }
    request.detail = std::string("scope=") + scope_name(scope) + " filter=" + filter_text(filter) + " attrs=";
    for (size_t i = 0; i < attrs.size(); ++i) request.detail += (i ? "," : "") + attrs[i];
    return true;
}

bool SearchSpec::matches(const std::string &ndn, const std::string &base, const Entry &e) const
{
    // Only a base search reads a subschema subentry, as with a real server.
    return in_scope(ndn, base, scope) && (scope == LDAP_SCOPE_BASE || !is_subschema(e)) &&
           evaluate(filter, e) == Truth::True;
}

// Requested list; "*" or none: all user attributes; "1.1" alone: none.
bool SearchSpec::wanted(const std::string &name) const
{
    if (attrs.empty()) return true;
    for (const auto &a : attrs) {
        if (a == "*") return true;
        if (same_name(std::string_view(a).substr(0, a.find(';')), name)) return true;
    }
    return false;
}

BerPtr SearchSpec::encode_entry(int msgid, const Entry &e, const std::vector<ResponseControl> &controls) const
{
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    berval dn = as_berval(e.dn);
    if (!ber || ber_printf(ber.get(), "{it{O{", msgid, LDAP_RES_SEARCH_ENTRY, &dn) == -1) return nullptr;
    for (const auto &a : e.attrs) {
        if (a.values.empty() || !wanted(a.name)) continue;
        berval name = as_berval(a.name);
        if (ber_printf(ber.get(), "{O[", &name) == -1) return nullptr;
        if (!types_only) {
            for (const auto &v : a.values) {
                berval value = as_berval(v);
                if (ber_printf(ber.get(), "O", &value) == -1) return nullptr;
            }
        }
        if (ber_printf(ber.get(), "]}") == -1) return nullptr;
    }
    if (ber_printf(ber.get(), "}}") == -1 || !put_controls(ber.get(), controls) || ber_printf(ber.get(), "}") == -1)
        return nullptr;
    return ber;
}

namespace {

const Registrar registrar([] {
    register_operation(LDAP_REQ_SEARCH,
                       {"search", LDAP_RES_SEARCH_RESULT, [] { return std::make_unique<Search>(); }});
});

}  // namespace
}  // namespace dirsim::detail
