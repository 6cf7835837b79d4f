// What `dirext watch` follows: the base, scope, filter and kinds of change
// from its command line, and the names of the kinds of change.
#pragma once

#include <dirext.h>

#include <optional>
#include <string>

#include "invocation.h"

namespace dirext_cli {

struct WatchOptions {
    std::string base;
    int scope = LDAP_SCOPE_SUBTREE;       // --scope base|one|sub
    std::string filter = "(objectClass=*)";
    int changes = 0;                      // LDAP_CONTROL_PERSIST_ENTRY_CHANGE_* mask, from --changes
};

// nullopt after naming the bad value on standard error.
std::optional<WatchOptions> watch_options(const Invocation &inv);

// "add", "delete", "modify" or "moddn"; nullptr for another value.
const char *change_name(int change_type);

}  // namespace dirext_cli
