// What the management commands share: owning handles for the library's
// results, their usage errors, their output lines and the names they read
// and print (replica types, privilege bits).
#pragma once

#include <dirext/extops.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "invocation.h"

namespace dirext_cli {

struct LdapxFree {
    void operator()(void *p) const { ldapx_memfree(p); }
};
struct StringArrayFree {
    void operator()(char **p) const { ber_memvfree(reinterpret_cast<void **>(p)); }
};
using LdapxString = std::unique_ptr<char, LdapxFree>;       // a string the library copied for us
using StringArray = std::unique_ptr<char *, StringArrayFree>;  // NULL-terminated, from liblber

// "dirext: COMMAND: MESSAGE" and the command's synopsis on standard error;
// returns the usage status, 1.
int management_usage(const Invocation &inv, const std::string &message);

// One record line on standard output, flushed.
void print_line(const std::string &line);

// "1 entry", "2 entries".
std::string count_of(long n, const char *one, const char *many);

// Replica types by name: master 0, secondary 1, readonly 2, subordinate 3.
// A type is read as one of the names (any case) or as a number.
std::optional<int> parse_replica_type(std::string_view text);
const char *replica_type_name(int type);  // null for a number without a name
std::string replica_type_text(int type);  // the name, or else the number
std::string replica_type_names();         // "master, secondary, readonly, subordinate"

// The names of the privilege bits set, lowest first: compare 0x01, read 0x02,
// write 0x04, self 0x08, supervisor 0x10, inheritable 0x20; other bits as
// "0x40" and so on.
std::vector<std::string> privilege_names(int privileges);

}  // namespace dirext_cli
