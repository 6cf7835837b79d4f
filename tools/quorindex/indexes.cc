#include "indexes.h"

#include <strings.h>

#include <cstdio>
#include <optional>

#include "index_listing.h"
#include "ldap_handles.h"
#include "stored_definition.h"

namespace quorindex {
using toolkit::Ber;
using toolkit::Berval;
using toolkit::LdapString;
using toolkit::Message;
using toolkit::Values;
namespace {

constexpr const char kIndexAttribute[] = "indexDefinition";
constexpr const char kLimberRequest[] = "2.16.840.1.113719.1.27.100.49";
constexpr const char kAncestorId[] = "ancestorID";
// "ancestorID$" and the attribute list share one 1024-byte field, terminator included.
constexpr size_t kMaxAncestorAttributes = 1012;

bool same_name(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// The stored indexDefinition values of the server object.  A search that
// finds no entry, or an entry without the attribute, gives no values.
int fetch_index_definitions(LDAP *ld, const char *server_dn, std::vector<std::string> &values)
{
    char *attrs[] = {const_cast<char *>(kIndexAttribute), nullptr};
    LDAPMessage *raw = nullptr;
    int rc = ldap_search_ext_s(ld, server_dn, LDAP_SCOPE_BASE, "(objectclass=*)", attrs, 0, nullptr, nullptr,
                               nullptr, LDAP_NO_LIMIT, &raw);
    Message result(raw);
    if (rc != LDAP_SUCCESS) {
        std::fprintf(stderr, "ldap_search_ext_s: %s\n", ldap_err2string(rc));
        return rc;
    }
    values.clear();
    LDAPMessage *entry = ldap_first_entry(ld, result.get());
    if (!entry) return LDAP_SUCCESS;
    BerElement *raw_ber = nullptr;
    LdapString attr(ldap_first_attribute(ld, entry, &raw_ber));
    Ber ber(raw_ber);
    if (!attr) return LDAP_SUCCESS;
    Values found(ldap_get_values(ld, entry, attr.get()));
    for (char **v = found.get(); v && *v; ++v) values.emplace_back(*v);
    return LDAP_SUCCESS;
}

// The first stored value whose name matches, if any.
std::optional<std::string> find_index(const std::vector<std::string> &values, const std::string &name)
{
    for (const auto &value : values) {
        auto stored = index_name(value);
        if (stored && same_name(*stored, name)) return value;
    }
    return std::nullopt;
}

// Lists every value with the given name, or every value without one; true if
// it listed anything.
bool print_indexes(const std::vector<std::string> &values, const std::string *name)
{
    bool printed = false;
    for (const auto &value : values) {
        if (name) {
            auto stored = index_name(value);
            if (!stored || !same_name(*stored, *name)) continue;
        }
        print_index(stdout, value);
        printed = true;
    }
    return printed;
}

// A value may be named only once in one modification.
void append_unique(std::vector<std::string> &list, const std::string &value)
{
    for (const auto &v : list)
        if (v == value) return;
    list.push_back(value);
}

struct Change {
    int op;
    std::vector<std::string> values;
};

int modify_indexes(LDAP *ld, const char *server_dn, const std::vector<Change> &changes)
{
    std::vector<std::vector<char *>> value_lists;
    std::vector<LDAPMod> mods(changes.size());
    std::vector<LDAPMod *> mod_list;
    for (size_t i = 0; i < changes.size(); ++i) {
        auto &list = value_lists.emplace_back();
        for (const auto &v : changes[i].values) list.push_back(const_cast<char *>(v.c_str()));
        list.push_back(nullptr);
        mods[i].mod_op = changes[i].op;
        mods[i].mod_type = const_cast<char *>(kIndexAttribute);
        mods[i].mod_values = list.data();
        mod_list.push_back(&mods[i]);
    }
    mod_list.push_back(nullptr);
    int rc = ldap_modify_ext_s(ld, server_dn, mod_list.data(), nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        ldap_perror(ld, "ldap_modify_s");
        return rc;
    }
    return trigger_limber(ld);
}

// ---- add ----

struct Definition {
    std::string given;  // as typed, for reports
    std::string name, attributes, rule_text;
    std::optional<RuleCode> rule;  // none for a rule the tool does not know
};

// Writes the reports of one checking phase: a heading once, then " %s," per item.
class Report {
public:
    void item(const char *heading, const std::string &text)
    {
        if (!open_) std::fputs(heading, stderr);
        open_ = true;
        std::fprintf(stderr, " %s,", text.c_str());
    }
    bool open() const { return open_; }

private:
    bool open_ = false;
};

size_t count_defined(const std::string &text, char separator)
{
    size_t n = 0;
    for (char c : text) n += c == separator;
    return n;
}

bool check_shapes(const std::vector<std::string> &definitions)
{
    Report report;
    for (const auto &d : definitions)
        if (count_defined(d, ';') != 2) report.item("Invalid index definition(s):", d);
    if (report.open()) std::fputs("\b. ", stderr);
    return !report.open();
}

// Text between the first and the last character that is neither blank nor tab.
std::string trim(std::string_view text)
{
    const char *blanks = " \t";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

Definition split_definition(const std::string &given)
{
    Definition d;
    d.given = given;
    size_t first = given.find(';');
    size_t second = given.find(';', first + 1);
    d.name = trim(std::string_view(given).substr(0, first));
    d.attributes = trim(std::string_view(given).substr(first + 1, second - first - 1));
    d.rule_text = trim(std::string_view(given).substr(second + 1));
    return d;
}

std::optional<RuleCode> rule_code(const std::string &text)
{
    if (strcasecmp(text.c_str(), "VALUE") == 0) return RuleCode::value;
    if (strcasecmp(text.c_str(), "PRESENCE") == 0) return RuleCode::presence;
    if (strcasecmp(text.c_str(), "SUBSTRING") == 0) return RuleCode::substring;
    return std::nullopt;
}

// ancestorID belongs to the tool: only the -a prefix may name it, and only first.
bool ancestor_misplaced(const std::string &attributes, bool ancestor)
{
    auto components = split_fields(attributes);
    for (size_t i = 0; i < components.size(); ++i)
        if (strcasecmp(components[i].c_str(), kAncestorId) == 0 && !(i == 0 && ancestor)) return true;
    return false;
}

// Checks and completes every definition; false (with the reports written) if
// any is refused.
bool check_fields(std::vector<Definition> &defs, bool ancestor)
{
    Report report;
    for (auto &d : defs) {
        d.rule = rule_code(d.rule_text);
        if (ancestor && d.rule == RuleCode::presence) {
            std::fputs("Invalid index definition(s): Cannot create PRESENCE type Index with -a option.  ", stderr);
            return false;
        }
        if (ancestor && d.rule == RuleCode::substring) {
            std::fputs("Invalid index definition(s): Cannot create SUBSTRING type Index with -a option. ", stderr);
            return false;
        }
        bool too_long = ancestor && d.attributes.size() > kMaxAncestorAttributes;
        if (ancestor && d.rule == RuleCode::value && !d.attributes.empty())
            d.attributes = std::string(kAncestorId) + "$" + d.attributes;
        bool invalid = d.name.empty() || d.attributes.empty() || d.rule_text.empty() || !d.rule || too_long;
        if (invalid) report.item("Invalid index definition(s): ", d.given);
        if (!d.attributes.empty() && ancestor_misplaced(d.attributes, ancestor)) {
            if (report.open()) std::fputs("\b. ", stderr);
            std::fprintf(stderr, "Invalid index definition(s): %s: the attribute name ancestorID is reserved. ",
                         d.given.c_str());
            return false;
        }
        if (invalid) continue;
        size_t count = split_fields(d.attributes).size();
        if (d.rule == RuleCode::value && count > (ancestor ? 6u : 5u))
            report.item("Invalid index definition(s): VALUE indexes can have maximum 5 attributes:", d.given);
        else if (d.rule != RuleCode::value && count > 1)
            report.item("Invalid index definition(s): PRESENCE and SUBSTRING indexes can have only one attribute:",
                        d.given);
    }
    if (report.open()) std::fputs("\b. ", stderr);
    return !report.open();
}

bool check_duplicates(const std::vector<Definition> &defs)
{
    Report report;
    for (size_t i = 0; i < defs.size(); ++i)
        for (size_t j = i + 1; j < defs.size(); ++j)
            if (same_name(defs[i].name, defs[j].name)) report.item("Duplicate index name(s):", defs[j].name);
    if (report.open()) std::fputs("\b. ", stderr);
    return !report.open();
}

bool check_not_existing(const std::vector<Definition> &defs, const std::vector<std::string> &values)
{
    Report report;
    for (const auto &d : defs)
        if (find_index(values, d.name)) report.item("Index name(s)", d.name);
    if (report.open()) std::fputs("\b already exists. ", stderr);
    return !report.open();
}

}  // namespace

int trigger_limber(LDAP *ld)
{
    char *oid = nullptr;
    struct berval *data = nullptr;
    int rc = ldap_extended_operation_s(ld, kLimberRequest, nullptr, nullptr, nullptr, &oid, &data);
    LdapString response_name(oid);
    Berval response_value(data);
    if (rc != LDAP_SUCCESS) ldap_perror(ld, "ldap_extended_operation failed: ");
    return rc;
}

int list_indexes(LDAP *ld, const char *server_dn, const std::vector<std::string> &names)
{
    std::vector<std::string> values;
    if (int rc = fetch_index_definitions(ld, server_dn, values)) return rc;
    if (names.empty()) return print_indexes(values, nullptr) ? 0 : 1;

    bool missing = false;
    for (const auto &name : names) {
        if (find_index(values, name)) continue;
        if (!missing) std::fputs("Invalid index(es):", stderr);
        missing = true;
        std::fprintf(stderr, " %s,", name.c_str());
    }
    if (missing) {
        std::fputs("\b.\n", stdout);
        return 1;
    }
    for (const auto &name : names) print_indexes(values, &name);
    return 0;
}

int add_indexes(LDAP *ld, const std::vector<std::string> &definitions, const char *server_dn, bool ancestor)
{
    if (!check_shapes(definitions)) return 1;
    std::vector<Definition> defs;
    for (const auto &given : definitions) defs.push_back(split_definition(given));
    if (!check_fields(defs, ancestor) || !check_duplicates(defs)) return 1;

    std::vector<std::string> values;
    if (int rc = fetch_index_definitions(ld, server_dn, values)) return rc;
    if (!check_not_existing(defs, values)) return 1;

    Change add{LDAP_MOD_ADD, {}};
    for (const auto &d : defs) add.values.push_back(new_definition(d.name, *d.rule, d.attributes));
    return modify_indexes(ld, server_dn, {add});
}

int delete_indexes(LDAP *ld, const std::vector<std::string> &names, const char *server_dn)
{
    std::vector<std::string> values;
    if (int rc = fetch_index_definitions(ld, server_dn, values)) return rc;

    Change remove{LDAP_MOD_DELETE, {}};
    bool missing = false;
    for (const auto &name : names) {
        auto value = find_index(values, name);
        if (value) {
            append_unique(remove.values, *value);
            continue;
        }
        std::fprintf(stderr, missing ? ", %s" : "Index(es) %s", name.c_str());
        missing = true;
    }
    if (missing) {
        std::fputs(" does not exist. ", stderr);
        return 1;
    }
    return modify_indexes(ld, server_dn, {remove});
}

int set_index_state(LDAP *ld, const std::vector<std::string> &names, const char *server_dn, IndexState state)
{
    std::vector<std::string> values;
    if (int rc = fetch_index_definitions(ld, server_dn, values)) return rc;

    Change remove{LDAP_MOD_DELETE, {}}, add{LDAP_MOD_ADD, {}};
    Report missing;
    for (const auto &name : names) {
        auto value = find_index(values, name);
        if (!value) {
            missing.item("Index(es)", name);
            continue;
        }
        auto changed = with_state(*value, state == IndexState::suspend ? StateCode::offline : StateCode::resuming);
        if (!changed) {
            // Only a value without a state field gets here; it cannot be changed safely.
            std::fprintf(stderr, "Invalid stored index definition: %s. ", value->c_str());
            return 1;
        }
        append_unique(remove.values, *value);
        append_unique(add.values, *changed);
    }
    if (missing.open()) {
        std::fputs("\b does not exists. ", stderr);
        return 1;
    }
    return modify_indexes(ld, server_dn, {remove, add});
}

}  // namespace quorindex
