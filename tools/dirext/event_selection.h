// The event types `dirext events` registers for: TYPE[:STATUS][=FILTER-DN]
// operands, or every type number from kFirstEventType to kLastEventType when
// none is given.
#pragma once

#include <dirext.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dirext_cli {

// "Every kind of event": the server numbers its types; this range covers
// them, and a server reports nothing for a number it does not use.
inline constexpr int32_t kFirstEventType = 1;
inline constexpr int32_t kLastEventType = 255;

class EventSelection {
public:
    struct Item {
        int32_t type = 0;
        int32_t status = 0;                 // sent with the type; its meaning is the server's
        std::optional<std::string> filter;  // a DN: only events on it or below it
    };

    // From the operands; nullopt after saying on standard error which
    // operand is wrong.
    static std::optional<EventSelection> parse(const std::vector<std::string> &operands);

    size_t size() const { return items_.size(); }
    // Sends the registration (the filtered form when any item has a filter,
    // the others then with the filter "", every DN); an LDAP result code.
    int send(LDAP *ld, int *msgid) const;

private:
    std::vector<Item> items_;
    bool filtered_ = false;
};

}  // namespace dirext_cli
