// Changes to the tree: modify (atomic), add, delete, modrdn of leaf entries;
// compare answers from the tree.  Result codes and diagnostics follow what
// slapd answers in the same situations.
#include <ldap.h>

#include <algorithm>
#include <iterator>

#include "../core.h"

namespace dirsim::detail {
namespace {

// Appends "<name>: <v1> | <v2>", the log's form of one attribute.
void append_attribute(std::string &out, const Attribute &attr)
{
    out += attr.name;
    out += ':';
    for (size_t i = 0; i < attr.values.size(); ++i) {
        out += i ? " | " : " ";
        out += attr.values[i];
    }
}

// Reads "SEQUENCE { type, SET OF value }" (a modification or an add attribute).
bool decode_attribute(const berval &contents, Attribute &out)
{
    Reader r(contents);
    berval set;
    if (!r.string(LBER_OCTETSTRING, out.name) || out.name.empty() || !r.element(LBER_SET, set)) return false;
    Reader v(set);
    while (!v.at_end()) {
        std::string value;
        if (!v.string(LBER_OCTETSTRING, value)) return false;
        out.values.push_back(std::move(value));
    }
    return r.at_end();
}

// The index of the first value that repeats an earlier one, or -1.
int repeated_value(const std::vector<std::string> &values)
{
    for (size_t i = 0; i < values.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (values_equal(values[i], values[j])) return int(i);
    return -1;
}

// The entry must keep every type=value pair of its RDN.
std::optional<std::string> missing_rdn_value(const Entry &e, const RdnPairs &rdn)
{
    for (const auto &[type, value] : rdn) {
        const Attribute *a = e.find(type);
        if (!a || std::none_of(a->values.begin(), a->values.end(),
                               [&wanted = value](const std::string &v) { return values_equal(v, wanted); }))
            return type;
    }
    return std::nullopt;
}

class Modify : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        Reader r(body);
        berval changes;
        if (!r.string(LBER_OCTETSTRING, request.dn) || !r.element(LBER_SEQUENCE, changes)) return false;
        Reader c(changes);
        while (!c.at_end()) {
            berval change;
            ber_int_t op = 0;
            Change one;
            if (!c.element(LBER_SEQUENCE, change)) return false;
            Reader ch(change);
            berval mod;
            if (!ch.integer(LBER_ENUMERATED, op) || !ch.element(LBER_SEQUENCE, mod) || !decode_attribute(mod, one.attr))
                return false;
            if (op < LDAP_MOD_ADD || op > LDAP_MOD_INCREMENT) return false;
            one.op = op;
            changes_.push_back(std::move(one));
        }
        static const char *const names[] = {"add", "delete", "replace", "increment"};
        for (size_t i = 0; i < changes_.size(); ++i) {
            const auto &ch = changes_[i];
            request.detail += i ? "; " : "";
            request.detail += names[ch.op];
            request.detail += ' ';
            append_attribute(request.detail, ch.attr);
        }
        return true;
    }

    void serve(Exchange &ex) override
    {
        auto ndn = ex.target();
        if (!ndn) return;
        if (changes_.empty()) {
            ex.result(LDAP_PROTOCOL_ERROR, "", "no modifications specified");
            return;
        }
        Reply reply = ex.tree().write([&](EntryMap &entries, uint64_t &) {
            auto it = entries.find(*ndn);
            if (it == entries.end()) return no_such_object(entries, *ndn);
            Reply r;
            Entry copy = it->second;  // all changes or none: work on a copy
            for (const auto &ch : changes_)
                if (!apply(copy, ch, r)) return r;
            auto rdn = first_rdn(copy.dn);
            if (auto type = rdn ? missing_rdn_value(copy, *rdn) : std::nullopt) {
                r.result_code = LDAP_NOT_ALLOWED_ON_RDN;
                r.diagnostic = "value of naming attribute '" + *type + "' is not present in entry";
                return r;
            }
            it->second = std::move(copy);
            return r;
        });
        ex.respond(reply);
    }

private:
    struct Change {
        int op = 0;
        Attribute attr;
    };

    static bool fail(Reply &r, int code, std::string diagnostic)
    {
        r.result_code = code;
        r.diagnostic = std::move(diagnostic);
        return false;
    }

    static bool apply(Entry &e, const Change &ch, Reply &r)
    {
        const std::string &name = ch.attr.name;
        const auto &values = ch.attr.values;
        Attribute *a = e.find(name);
        auto erase = [&e](Attribute *which) { e.attrs.erase(e.attrs.begin() + (which - e.attrs.data())); };
        switch (ch.op) {
        case LDAP_MOD_ADD: {
            if (values.empty()) return fail(r, LDAP_PROTOCOL_ERROR, "modify/add: " + name + ": no values given");
            if (int i = repeated_value(values); i >= 0)
                return fail(r, LDAP_TYPE_OR_VALUE_EXISTS,
                            "modify/add: " + name + ": value #" + std::to_string(i) + " provided more than once");
            if (!a) {
                e.attrs.push_back({name, {}});
                a = &e.attrs.back();
            }
            for (size_t i = 0; i < values.size(); ++i) {
                for (const auto &have : a->values)
                    if (values_equal(have, values[i]))
                        return fail(r, LDAP_TYPE_OR_VALUE_EXISTS,
                                    "modify/add: " + name + ": value #" + std::to_string(i) + " already exists");
            }
            a->values.insert(a->values.end(), values.begin(), values.end());
            return true;
        }
        case LDAP_MOD_DELETE: {
            if (!a) return fail(r, LDAP_NO_SUCH_ATTRIBUTE, "modify/delete: " + name + ": no such attribute");
            for (const auto &v : values) {
                auto hit = std::find_if(a->values.begin(), a->values.end(),
                                        [&](const std::string &have) { return values_equal(have, v); });
                if (hit == a->values.end())
                    return fail(r, LDAP_NO_SUCH_ATTRIBUTE, "modify/delete: " + name + ": no such value");
                a->values.erase(hit);
            }
            if (values.empty() || a->values.empty()) erase(a);
            return true;
        }
        case LDAP_MOD_REPLACE: {
            if (int i = repeated_value(values); i >= 0)
                return fail(r, LDAP_TYPE_OR_VALUE_EXISTS,
                            "modify/replace: " + name + ": value #" + std::to_string(i) + " provided more than once");
            if (values.empty()) {
                if (a) erase(a);
            } else if (a) {
                a->values = values;
            } else {
                e.attrs.push_back({name, values});
            }
            return true;
        }
        default:
            return fail(r, LDAP_UNWILLING_TO_PERFORM, "modify/increment: not supported");
        }
    }

    std::vector<Change> changes_;
};

class Add : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        Reader r(body);
        berval attrs;
        if (!r.string(LBER_OCTETSTRING, request.dn) || !r.element(LBER_SEQUENCE, attrs)) return false;
        Reader a(attrs);
        attrs_.reserve(8);  // most entries have a few attributes: one allocation
        while (!a.at_end()) {
            berval one;
            if (!a.element(LBER_SEQUENCE, one) || !decode_attribute(one, attrs_.emplace_back())) return false;
        }
        // Each attribute's text is shorter than its BER: one allocation.
        request.detail.reserve(body.bv_len);
        for (size_t i = 0; i < attrs_.size(); ++i) {
            request.detail += i ? "; " : "";
            append_attribute(request.detail, attrs_[i]);
        }
        return true;
    }

    // Serves once: the decoded values move into the new entry.
    void serve(Exchange &ex) override
    {
        auto dn = ex.parsed_target();
        if (!dn) return;
        Entry entry;
        entry.dn = ex.request().dn;
        entry.attrs.reserve(attrs_.size());
        for (auto &a : attrs_) {
            if (a.values.empty()) {
                ex.result(LDAP_PROTOCOL_ERROR, "", "no values for attribute type");
                return;
            }
            Attribute *have = entry.find(a.name);
            if (!have) {
                entry.attrs.push_back({a.name, std::move(a.values)});
                have = &entry.attrs.back();
            } else {
                have->values.insert(have->values.end(), std::make_move_iterator(a.values.begin()),
                                    std::make_move_iterator(a.values.end()));
            }
            if (repeated_value(have->values) >= 0) {
                ex.result(LDAP_TYPE_OR_VALUE_EXISTS, "", "attribute '" + a.name + "' provided more than once");
                return;
            }
        }
        if (auto type = missing_rdn_value(entry, dn->first_rdn)) {
            ex.result(LDAP_NAMING_VIOLATION, "", "value of naming attribute '" + *type + "' is not present in entry");
            return;
        }
        ex.respond(ex.tree().write(
            [&](EntryMap &entries, uint64_t &next_seq) { return insert(entries, next_seq, dn->normalized, entry); }));
    }

private:
    // One look-up finds both whether the entry exists and where it goes.
    static Reply insert(EntryMap &entries, uint64_t &next_seq, std::string &ndn, Entry &entry)
    {
        Reply r;
        if (ndn.empty()) {
            r.result_code = LDAP_UNWILLING_TO_PERFORM;
            r.diagnostic = "cannot add the root DSE";
            return r;
        }
        auto at = entries.lower_bound(ndn);
        if (at != entries.end() && at->first == ndn) {
            r.result_code = LDAP_ALREADY_EXISTS;
            return r;
        }
        std::string_view parent = parent_of(ndn);
        if (parent.empty() || entries.find(parent) == entries.end()) return no_such_object(entries, ndn);
        entry.seq = next_seq++;
        entries.emplace_hint(at, std::move(ndn), std::move(entry));
        return r;
    }

    std::vector<Attribute> attrs_;
};

class Delete : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        request.dn = to_string(body);
        return true;
    }

    void serve(Exchange &ex) override
    {
        auto ndn = ex.target();
        if (!ndn) return;
        Reply reply = ex.tree().write([&](EntryMap &entries, uint64_t &) {
            auto it = entries.find(*ndn);
            if (it == entries.end()) return no_such_object(entries, *ndn);
            Reply r;
            for (const auto &[other, e] : entries) {
                if (parent_dn(other) == *ndn) {
                    r.result_code = LDAP_NOT_ALLOWED_ON_NONLEAF;
                    r.diagnostic = "subordinate objects must be deleted first";
                    return r;
                }
            }
            entries.erase(it);
            return r;
        });
        ex.respond(reply);
    }
};

class ModRdn : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        Reader r(body);
        if (!r.string(LBER_OCTETSTRING, request.dn) || !r.string(LBER_OCTETSTRING, newrdn_) ||
            !r.boolean(LBER_BOOLEAN, deleteold_))
            return false;
        request.detail = "newrdn=" + newrdn_ + " deleteoldrdn=" + (deleteold_ ? "1" : "0");
        if (!r.at_end()) {
            std::string superior;
            if (!r.string(LDAP_TAG_NEWSUPERIOR, superior)) return false;
            request.detail += " newsuperior=" + superior;
            superior_ = std::move(superior);
        }
        return r.at_end();
    }

    // Renames a leaf entry (subtrees are refused, as some servers do); the
    // entry keeps its place in the creation order.
    void serve(Exchange &ex) override
    {
        auto ndn = ex.target();
        if (!ndn) return;
        auto rdn = first_rdn(newrdn_);
        auto nrdn = normalize_dn(newrdn_);
        if (!rdn || !nrdn || nrdn->empty() || !parent_dn(*nrdn).empty()) {
            ex.result(LDAP_INVALID_DN_SYNTAX, "", "invalid new RDN");
            return;
        }
        std::optional<std::string> nsuperior;
        if (superior_ && !(nsuperior = normalize_dn(*superior_))) {
            ex.result(LDAP_INVALID_DN_SYNTAX, "", "invalid new superior");
            return;
        }
        Reply reply = ex.tree().write([&](EntryMap &entries, uint64_t &) {
            auto it = entries.find(*ndn);
            if (it == entries.end()) return no_such_object(entries, *ndn);
            Reply r;
            for (const auto &[other, e] : entries) {
                if (parent_dn(other) == *ndn) {
                    r.result_code = LDAP_NOT_ALLOWED_ON_NONLEAF;
                    r.diagnostic = "subtree rename not supported";
                    return r;
                }
            }
            const std::string parent = nsuperior ? *nsuperior : parent_dn(*ndn);
            auto up = entries.find(parent);
            if (!parent.empty() && up == entries.end()) return no_such_object(entries, parent);
            const std::string new_ndn = *nrdn + (parent.empty() ? "" : "," + parent);
            if (new_ndn != *ndn && entries.count(new_ndn)) {
                r.result_code = LDAP_ALREADY_EXISTS;
                return r;
            }
            Entry e = std::move(it->second);
            entries.erase(it);
            rename(e, *rdn, parent.empty() ? "" : up != entries.end() ? up->second.dn : parent);
            entries.emplace(new_ndn, std::move(e));
            return r;
        });
        ex.respond(reply);
    }

private:
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    static bool has_pair(const Pairs &pairs, const std::string &type, const std::string &value)
    {
        return std::any_of(pairs.begin(), pairs.end(),
                           [&](const auto &p) { return same_name(p.first, type) && values_equal(p.second, value); });
    }

    void rename(Entry &e, const Pairs &rdn, const std::string &parent) const
    {
        if (deleteold_) {
            for (const auto &[type, value] : first_rdn(e.dn).value_or(Pairs())) {
                Attribute *a = e.find(type);
                if (!a || has_pair(rdn, type, value)) continue;
                std::erase_if(a->values, [&wanted = value](const std::string &v) { return values_equal(v, wanted); });
                if (a->values.empty()) e.attrs.erase(e.attrs.begin() + (a - e.attrs.data()));
            }
        }
        for (const auto &[type, value] : rdn) {
            Attribute *a = e.find(type);
            if (!a) {
                e.attrs.push_back({type, {value}});
            } else if (std::none_of(a->values.begin(), a->values.end(),
                                    [&wanted = value](const std::string &v) { return values_equal(v, wanted); })) {
                a->values.push_back(value);
            }
        }
        e.dn = newrdn_ + (parent.empty() ? "" : "," + parent);
    }

    std::string newrdn_;
    bool deleteold_ = false;
    std::optional<std::string> superior_;
};

class Compare : public Operation {
public:
    bool decode(const berval &body, Request &request) override
    {
        Reader r(body);
        berval ava;
        if (!r.string(LBER_OCTETSTRING, request.dn) || !r.element(LBER_SEQUENCE, ava)) return false;
        Reader a(ava);
        if (!a.string(LBER_OCTETSTRING, attr_) || !a.string(LBER_OCTETSTRING, value_)) return false;
        request.detail = attr_ + "=" + value_;
        request.has_value = true;
        return true;
    }

    std::string_view value() const override { return value_; }

    void serve(Exchange &ex) override
    {
        auto ndn = ex.target();
        if (!ndn) return;
        Reply reply = ex.tree().read([&](const EntryMap &entries) {
            auto it = entries.find(*ndn);
            if (it == entries.end()) return no_such_object(entries, *ndn);
            Reply r;
            const Attribute *a = it->second.find(attr_);
            if (!a) {
                r.result_code = LDAP_NO_SUCH_ATTRIBUTE;
                return r;
            }
            bool hit = std::any_of(a->values.begin(), a->values.end(),
                                   [&](const std::string &v) { return values_equal(v, value_); });
            r.result_code = hit ? LDAP_COMPARE_TRUE : LDAP_COMPARE_FALSE;
            return r;
        });
        ex.respond(reply);
    }

private:
    std::string attr_, value_;
};

const Registrar registrar([] {
    register_operation(LDAP_REQ_MODIFY, {"modify", LDAP_RES_MODIFY, [] { return std::make_unique<Modify>(); }});
    register_operation(LDAP_REQ_ADD, {"add", LDAP_RES_ADD, [] { return std::make_unique<Add>(); }});
    register_operation(LDAP_REQ_DELETE, {"delete", LDAP_RES_DELETE, [] { return std::make_unique<Delete>(); }});
    register_operation(LDAP_REQ_MODDN, {"modrdn", LDAP_RES_MODDN, [] { return std::make_unique<ModRdn>(); }});
    register_operation(LDAP_REQ_COMPARE, {"compare", LDAP_RES_COMPARE, [] { return std::make_unique<Compare>(); }});
});

}  // namespace
}  // namespace dirsim::detail
