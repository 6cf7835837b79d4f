// What a search request asks for, shared by the handlers that answer
// searches (the plain search and the persistent search).
#pragma once

#include <string>
#include <vector>

#include "../core.h"
#include "../filter.h"

namespace dirsim::detail {

struct SearchSpec {
    ber_int_t scope = 0;
    ber_int_t size_limit = 0;
    bool types_only = false;
    Filter filter;
    std::vector<std::string> attrs;

    // Reads a SearchRequest body; fills request.dn (the base) and detail.
    bool decode(const berval &body, Request &request);
    // The entry (normalised DN ndn) is in scope under base and the filter holds.
    bool matches(const std::string &ndn, const std::string &base, const Entry &e) const;
    bool wanted(const std::string &name) const;
    // A SearchResultEntry with the requested attributes and the controls.
    BerPtr encode_entry(int msgid, const Entry &e, const std::vector<ResponseControl> &controls = {}) const;
};

}  // namespace dirsim::detail
