// DNs as the tree keys entries: the normal form (RFC 4514 form from libldap's
// DN parser and printer, then lower-cased, so that DNs compare without regard
// to case), the parent of a normal form, and the first RDN's pairs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dirsim::detail {

using RdnPairs = std::vector<std::pair<std::string, std::string>>;

// Normalised DN, or nothing when dn is not a DN.  "" is the root.  The same
// as ldap_dn_normalize in LDAPv3 form, lower-cased.
std::optional<std::string> normalize_dn(std::string_view dn);
// The normalised DN's parent ("" for a top-level entry or the root).
std::string parent_dn(const std::string &ndn);
std::string_view parent_of(std::string_view ndn);  // the same, pointing into ndn
// The type/value pairs of the first RDN, or nothing for an invalid DN.
std::optional<RdnPairs> first_rdn(const std::string &dn);

// Both of the above from one parse, for an operation that needs both.
struct ParsedDn {
    std::string normalized;
    RdnPairs first_rdn;
};
std::optional<ParsedDn> parse_dn(const std::string &dn);

}  // namespace dirsim::detail
