// The subschema subentry (RFC 4512 4.2): cn=Subschema, which the root DSE
// names as subschemaSubentry, with all eight schema attributes, name forms and
// DIT content and structure rules included.  Unless the LDIF brings a
// subschema entry of its own (an entry of object class subschema), a server
// starts with the small built-in schema below.
//
// Modifications of a subschema entry add and delete description values the
// way a directory does: a description is matched by its first component (the
// OID, or a structure rule's rule ID), as objectIdentifierFirstComponentMatch
// and integerFirstComponentMatch do; an added value must look like a
// description (21 otherwise) and must not repeat a first component already
// there (20); a deleted one must be there (16); replacing a schema attribute
// or changing any other attribute is refused (53).  The changes of one
// request apply together or not at all.
//
// Descriptions are read here only as far as their first component, with no
// code from the client library, so that the simulator stays an independent
// check of the library's parsers and printers.
#include <ldap.h>

#include <algorithm>
#include <optional>

#include "../core.h"

namespace dirsim::detail {
namespace {

const char *const kSchemaAttributes[] = {"attributeTypes",  "objectClasses",   "ldapSyntaxes",
                                         "matchingRules",   "matchingRuleUse", "nameForms",
                                         "dITContentRules", "dITStructureRules"};

// The built-in schema, in the form slapd publishes descriptions.
const Attribute kBuiltIn[] = {
    {"attributeTypes",
     {"( 2.5.4.0 NAME 'objectClass' DESC 'RFC4512: object classes of the entity' EQUALITY objectIdentifierMatch "
      "SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )",
      "( 2.5.4.41 NAME 'name' DESC 'RFC4519: common supertype of name attributes' EQUALITY caseIgnoreMatch "
      "SUBSTR caseIgnoreSubstringsMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32768} )",
      "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'RFC4519: common name(s) for which the entity is known by' "
      "SUP name )",
      "( 2.5.4.4 NAME ( 'sn' 'surname' ) DESC 'RFC2256: last (family) name(s) for which the entity is known by' "
      "SUP name )",
      "( 2.5.4.10 NAME ( 'o' 'organizationName' ) DESC 'RFC2256: organization this object belongs to' SUP name )",
      "( 2.5.4.11 NAME ( 'ou' 'organizationalUnitName' ) DESC 'RFC2256: organizational unit this object belongs "
      "to' SUP name )",
      "( 2.5.4.13 NAME 'description' DESC 'RFC2256: descriptive information' EQUALITY caseIgnoreMatch "
      "SUBSTR caseIgnoreSubstringsMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{1024} )",
      "( 2.5.4.35 NAME 'userPassword' DESC 'RFC4519/2307: password of user' EQUALITY octetStringMatch "
      "SYNTAX 1.3.6.1.4.1.1466.115.121.1.40{128} )",
      "( 0.9.2342.19200300.100.1.1 NAME ( 'uid' 'userid' ) DESC 'RFC4519: user identifier' "
      "EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{256} )",
      "( 0.9.2342.19200300.100.1.3 NAME ( 'mail' 'rfc822Mailbox' ) DESC 'RFC1274: RFC822 Mailbox' "
      "EQUALITY caseIgnoreIA5Match SUBSTR caseIgnoreIA5SubstringsMatch "
      "SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )",
      "( 2.5.18.1 NAME 'createTimestamp' DESC 'RFC4512: time which object was created' "
      "EQUALITY generalizedTimeMatch ORDERING generalizedTimeOrderingMatch "
      "SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 SINGLE-VALUE NO-USER-MODIFICATION USAGE directoryOperation )",
      "( 2.5.18.10 NAME 'subschemaSubentry' DESC 'RFC4512: name of controlling subschema entry' "
      "EQUALITY distinguishedNameMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 SINGLE-VALUE "
      "NO-USER-MODIFICATION USAGE directoryOperation )",
      "( 1.3.6.1.4.1.32473.1.1.1 NAME 'indexDefinition' DESC 'Database index definitions of a server' "
      "EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{1024} X-ORIGIN 'dirsim' )"}},
    {"objectClasses",
     {"( 2.5.6.0 NAME 'top' DESC 'top of the superclass chain' ABSTRACT MUST objectClass )",
      "( 2.5.6.6 NAME 'person' DESC 'RFC2256: a person' SUP top STRUCTURAL MUST ( sn $ cn ) "
      "MAY ( userPassword $ description ) )",
      "( 2.5.6.4 NAME 'organization' DESC 'RFC2256: an organization' SUP top STRUCTURAL MUST o "
      "MAY ( userPassword $ description ) )",
      "( 2.5.6.5 NAME 'organizationalUnit' DESC 'RFC2256: an organizational unit' SUP top STRUCTURAL MUST ou "
      "MAY ( userPassword $ description ) )",
      "( 2.5.20.1 NAME 'subschema' DESC 'RFC4512: controlling subschema (sub)entry' AUXILIARY "
      "MAY ( dITStructureRules $ nameForms $ dITContentRules $ objectClasses $ attributeTypes $ matchingRules $ "
      "matchingRuleUse ) )",
      "( 1.3.6.1.4.1.32473.1.2.1 NAME 'indexedServer' DESC 'A server with database indexes' SUP top AUXILIARY "
      "MUST cn MAY indexDefinition X-ORIGIN 'dirsim' )"}},
    {"ldapSyntaxes",
     {"( 1.3.6.1.4.1.1466.115.121.1.12 DESC 'Distinguished Name' )",
      "( 1.3.6.1.4.1.1466.115.121.1.15 DESC 'Directory String' )",
      "( 1.3.6.1.4.1.1466.115.121.1.24 DESC 'Generalized Time' )",
      "( 1.3.6.1.4.1.1466.115.121.1.26 DESC 'IA5 String' )",
      "( 1.3.6.1.4.1.1466.115.121.1.27 DESC 'Integer' )",
      "( 1.3.6.1.4.1.1466.115.121.1.38 DESC 'OID' )",
      "( 1.3.6.1.4.1.1466.115.121.1.40 DESC 'Octet String' )",
      "( 1.3.6.1.4.1.1466.115.121.1.5 DESC 'Binary' X-NOT-HUMAN-READABLE 'TRUE' )"}},
    {"matchingRules",
     {"( 2.5.13.0 NAME 'objectIdentifierMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )",
      "( 2.5.13.1 NAME 'distinguishedNameMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 )",
      "( 2.5.13.2 NAME 'caseIgnoreMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )",
      "( 2.5.13.4 NAME 'caseIgnoreSubstringsMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.58 )",
      "( 2.5.13.17 NAME 'octetStringMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.40 )",
      "( 2.5.13.27 NAME 'generalizedTimeMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 )",
      "( 2.5.13.28 NAME 'generalizedTimeOrderingMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 )",
      "( 1.3.6.1.4.1.1466.109.114.2 NAME 'caseIgnoreIA5Match' SYNTAX 1.3.6.1.4.1.1466.115.121.1.26 )",
      "( 1.3.6.1.4.1.4203.1.2.1 NAME 'caseIgnoreIA5SubstringsMatch' SYNTAX 1.3.6.1.4.1.1466.115.121.1.58 )"}},
    {"matchingRuleUse",
     {"( 2.5.13.2 NAME 'caseIgnoreMatch' APPLIES ( name $ cn $ sn $ o $ ou $ description $ uid $ "
      "indexDefinition ) )",
      "( 2.5.13.27 NAME 'generalizedTimeMatch' APPLIES createTimestamp )",
      "( 1.3.6.1.4.1.1466.109.114.2 NAME 'caseIgnoreIA5Match' APPLIES mail )"}},
    {"nameForms",
     {"( 1.3.6.1.4.1.32473.1.3.1 NAME 'organizationNameForm' OC organization MUST o )",
      "( 1.3.6.1.4.1.32473.1.3.2 NAME 'unitNameForm' OC organizationalUnit MUST ou )",
      "( 1.3.6.1.4.1.32473.1.3.3 NAME 'personNameForm' DESC 'people are named by cn or uid' OC person MUST cn "
      "MAY uid )"}},
    {"dITContentRules",
     {"( 2.5.6.4 NAME 'organizationContent' DESC 'what an organization may hold' AUX indexedServer "
      "MAY description NOT userPassword )",
      "( 2.5.6.6 NAME 'personContent' MAY mail )"}},
    {"dITStructureRules",
     {"( 1 NAME 'organizationRule' FORM organizationNameForm )",
      "( 2 NAME 'unitRule' FORM unitNameForm SUP 1 )",
      "( 3 NAME 'personRule' FORM personNameForm SUP ( 1 2 ) )"}},
};

bool is_subschema(const Entry &e)
{
    const Attribute *oc = e.find("objectClass");
    return oc && std::any_of(oc->values.begin(), oc->values.end(),
                             [](const std::string &v) { return values_equal(v, "subschema"); });
}

void seed(EntryMap &entries, uint64_t &next_seq)
{
    if (std::any_of(entries.begin(), entries.end(), [](const auto &kv) { return is_subschema(kv.second); })) return;
    Entry e;
    e.dn = "cn=Subschema";
    e.seq = next_seq++;
    e.attrs.push_back({"objectClass", {"top", "subentry", "subschema", "extensibleObject"}});
    e.attrs.push_back({"cn", {"Subschema"}});
    for (const auto &a : kBuiltIn) e.attrs.push_back(a);
    entries.emplace(*normalize_dn(e.dn), std::move(e));
}

bool is_schema_attribute(const std::string &name)
{
    return std::any_of(std::begin(kSchemaAttributes), std::end(kSchemaAttributes),
                       [&](const char *a) { return same_name(a, name); });
}

// The first component of a description, "( <this> ...": nothing when the
// value is no parenthesised description.
std::optional<std::string> first_component(std::string_view v)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    size_t i = 0;
    while (i < v.size() && blank(v[i])) ++i;
    if (i == v.size() || v[i] != '(') return std::nullopt;
    size_t end = v.find_last_not_of(" \t\n");
    if (v[end] != ')') return std::nullopt;
    ++i;
    while (i < end && blank(v[i])) ++i;
    size_t start = i;
    while (i < end && !blank(v[i]) && v[i] != '(' && v[i] != ')' && v[i] != '\'') ++i;
    if (i == start) return std::nullopt;
    // Quotes must pair, or a quoted string swallowed the closing parenthesis.
    if (std::count(v.begin(), v.end(), '\'') % 2) return std::nullopt;
    return lower(v.substr(start, i - start));
}

struct Change {
    int op = 0;
    Attribute attr;
};

// ModifyRequest ::= SEQUENCE { object, changes SEQUENCE OF SEQUENCE { op, { type, SET OF value } } }
bool decode_changes(const berval &body, std::vector<Change> &out)
{
    Reader r(body);
    std::string dn;
    berval changes;
    if (!r.string(LBER_OCTETSTRING, dn) || !r.element(LBER_SEQUENCE, changes)) return false;
    Reader c(changes);
    while (!c.at_end()) {
        berval change, modification, set;
        Change one;
        if (!c.element(LBER_SEQUENCE, change)) return false;
        Reader ch(change);
        if (!ch.integer(LBER_ENUMERATED, one.op) || !ch.element(LBER_SEQUENCE, modification)) return false;
        Reader m(modification);
        if (!m.string(LBER_OCTETSTRING, one.attr.name) || !m.element(LBER_SET, set)) return false;
        Reader v(set);
        while (!v.at_end()) {
            std::string value;
            if (!v.string(LBER_OCTETSTRING, value)) return false;
            one.attr.values.push_back(std::move(value));
        }
        out.push_back(std::move(one));
    }
    return true;
}

bool fail(Reply &r, int code, std::string diagnostic)
{
    r.result_code = code;
    r.diagnostic = std::move(diagnostic);
    return false;
}

bool apply(Entry &e, const Change &ch, Reply &r)
{
    const std::string &name = ch.attr.name;
    if (!is_schema_attribute(name)) return fail(r, LDAP_UNWILLING_TO_PERFORM, name + ": not a schema attribute");
    if (ch.op == LDAP_MOD_REPLACE || ch.op == LDAP_MOD_INCREMENT)
        return fail(r, LDAP_UNWILLING_TO_PERFORM, name + ": only adding and deleting descriptions is supported");
    if (ch.attr.values.empty()) return fail(r, LDAP_UNWILLING_TO_PERFORM, name + ": no descriptions given");
    Attribute *a = e.find(name);
    if (!a) {
        if (ch.op == LDAP_MOD_DELETE) return fail(r, LDAP_NO_SUCH_ATTRIBUTE, name + ": no such attribute");
        e.attrs.push_back({name, {}});
        a = &e.attrs.back();
    }
    for (size_t i = 0; i < ch.attr.values.size(); ++i) {
        const std::string &value = ch.attr.values[i];
        auto key = first_component(value);
        if (!key)
            return fail(r, LDAP_INVALID_SYNTAX, name + ": value #" + std::to_string(i) + " invalid per syntax");
        auto same = std::find_if(a->values.begin(), a->values.end(),
                                 [&](const std::string &have) { return first_component(have) == key; });
        if (ch.op == LDAP_MOD_ADD) {
            if (same != a->values.end())
                return fail(r, LDAP_TYPE_OR_VALUE_EXISTS, name + ": value #" + std::to_string(i) + " already exists");
            a->values.push_back(value);
        } else {
            if (same == a->values.end())
                return fail(r, LDAP_NO_SUCH_ATTRIBUTE, name + ": value #" + std::to_string(i) + " not found");
            a->values.erase(same);
        }
    }
    if (a->values.empty()) e.attrs.erase(e.attrs.begin() + (a - e.attrs.data()));
    return true;
}

void subschema_modify(Exchange &ex, Operation &, const berval &body, const std::function<void()> &next)
{
    if (ex.request().op != "modify") return next();
    auto ndn = normalize_dn(ex.request().dn);
    std::vector<Change> changes;
    if (!ndn || !decode_changes(body, changes) || changes.empty()) return next();
    // Only a subschema entry is this handler's (looked at without a write, which
    // would count as a change of the tree).
    if (!ex.tree().read([&](const EntryMap &entries) {
            auto it = entries.find(*ndn);
            return it != entries.end() && is_subschema(it->second);
        }))
        return next();
    std::optional<Reply> reply = ex.tree().write([&](EntryMap &entries, uint64_t &) -> std::optional<Reply> {
        auto it = entries.find(*ndn);
        if (it == entries.end() || !is_subschema(it->second)) return std::nullopt;
        Reply r;
        Entry copy = it->second;
        for (const auto &ch : changes)
            if (!apply(copy, ch, r)) return r;
        it->second = std::move(copy);
        return r;
    });
    if (!reply) return next();  // not a subschema entry: the ordinary modify
    ex.respond(*reply);
}

const Registrar registrar([] {
    register_seed(seed);
    register_hook(subschema_modify);
});

}  // namespace
}  // namespace dirsim::detail
