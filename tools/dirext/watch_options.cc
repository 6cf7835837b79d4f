#include "watch_options.h"

#include <cstdio>
#include <string_view>

namespace dirext_cli {
namespace {

struct Named {
    const char *name;
    int value;
};

constexpr Named kScopes[] = {
    {"base", LDAP_SCOPE_BASE}, {"one", LDAP_SCOPE_ONELEVEL}, {"sub", LDAP_SCOPE_SUBTREE}};
constexpr Named kChanges[] = {{"add", LDAP_CONTROL_PERSIST_ENTRY_CHANGE_ADD},
                              {"delete", LDAP_CONTROL_PERSIST_ENTRY_CHANGE_DELETE},
                              {"modify", LDAP_CONTROL_PERSIST_ENTRY_CHANGE_MODIFY},
                              {"moddn", LDAP_CONTROL_PERSIST_ENTRY_CHANGE_RENAME}};

template <size_t N>
std::optional<int> value_of(const Named (&table)[N], std::string_view name)
{
    for (const auto &row : table)
        if (name == row.name) return row.value;
    return std::nullopt;
}

// The mask of a comma-separated list of change names.
std::optional<int> change_mask(const std::string &list)
{
    int mask = 0;
    for (size_t from = 0; from <= list.size();) {
        size_t to = list.find(',', from);
        if (to == std::string::npos) to = list.size();
        std::string item = list.substr(from, to - from);
        auto bit = value_of(kChanges, item);
        if (!bit) {
            std::fprintf(stderr, "dirext: watch: --changes: '%s' is not add, delete, modify or moddn\n", item.c_str());
            return std::nullopt;
        }
        mask |= *bit;
        from = to + 1;
    }
    return mask;
}

}  // namespace

std::optional<WatchOptions> watch_options(const Invocation &inv)
{
    WatchOptions o;
    o.base = inv.operands.at(0);
    if (inv.scope) {
        auto scope = value_of(kScopes, *inv.scope);
        if (!scope) {
            std::fprintf(stderr, "dirext: watch: --scope must be base, one or sub, not '%s'\n", inv.scope->c_str());
            return std::nullopt;
        }
        o.scope = *scope;
    }
    if (inv.filter) o.filter = *inv.filter;
    auto changes = change_mask(inv.changes.value_or("add,delete,modify,moddn"));
    if (!changes) return std::nullopt;
    o.changes = *changes;
    return o;
}

const char *change_name(int change_type)
{
    for (const auto &row : kChanges)
        if (row.value == change_type) return row.name;
    return nullptr;
}

}  // namespace dirext_cli
