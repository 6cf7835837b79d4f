// Search filters: decoded from their BER form (RFC 4511 4.5.1.7), printed as
// RFC 4515 text for the request log, and evaluated against an entry.
//
// Matching is deliberately simple and the same for every attribute:
//   equality, approx    a value equal but for ASCII case
//   substrings          initial / any (in order, not overlapping) / final,
//                       ASCII case ignored
//   >=, <=              integers (optional '-', digits) by number, other
//                       values by case-ignoring byte order
//   present             the attribute has a value; objectClass is always present
//   extensibleMatch     decoded and logged, always Undefined
// An absent attribute makes an assertion False.  and/or/not use the
// three-valued logic of RFC 4511; a search returns the entries that are True.
#pragma once

#include <lber.h>

#include <optional>
#include <string>
#include <vector>

#include "tree.h"

namespace dirsim::detail {

struct Filter {
    enum Kind { And, Or, Not, Equal, Substrings, GreaterOrEqual, LessOrEqual, Present, Approx, Extensible };
    Kind kind = Present;
    std::string attr;
    std::string value;                  // assertion value
    std::optional<std::string> initial;  // substrings
    std::vector<std::string> any;
    std::optional<std::string> final;
    std::string rule;                   // extensible: matching rule
    bool dn_attrs = false;              // extensible: dnAttributes
    std::vector<Filter> children;       // and, or, not
};

// One filter element (its tag and contents); false when malformed.
bool decode_filter(ber_tag_t tag, const berval &contents, Filter &out);
std::string filter_text(const Filter &filter);

enum class Truth { False, True, Undefined };
Truth evaluate(const Filter &filter, const Entry &entry);

}  // namespace dirsim::detail
