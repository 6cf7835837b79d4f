#include "event_selection.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace dirext_cli {
namespace {

// A decimal int32 at text, which then points behind it; nullopt if there is none.
std::optional<int32_t> take_number(const char *&text, long low)
{
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || errno || value < low || value > INT32_MAX) return std::nullopt;
    text = end;
    return static_cast<int32_t>(value);
}

std::optional<EventSelection::Item> parse_item(const std::string &operand)
{
    EventSelection::Item item;
    const char *at = operand.c_str();
    if (*at < '0' || *at > '9') return std::nullopt;  // strtol would take a sign or spaces
    auto type = take_number(at, 0);
    if (!type) return std::nullopt;
    item.type = *type;
    if (*at == ':') {
        ++at;
        auto status = take_number(at, INT32_MIN);
        if (!status) return std::nullopt;
        item.status = *status;
    }
    if (*at == '=') item.filter = std::string(at + 1);
    else if (*at) return std::nullopt;
    return item;
}

}  // namespace

std::optional<EventSelection> EventSelection::parse(const std::vector<std::string> &operands)
{
    EventSelection s;
    for (const auto &operand : operands) {
        auto item = parse_item(operand);
        if (!item) {
            std::fprintf(stderr, "dirext: events: '%s' is not TYPE[:STATUS][=FILTER-DN]\n", operand.c_str());
            return std::nullopt;
        }
        s.filtered_ = s.filtered_ || item->filter;
        s.items_.push_back(std::move(*item));
    }
    if (s.items_.empty())
        for (int32_t type = kFirstEventType; type <= kLastEventType; ++type) s.items_.push_back({type, 0, {}});
    return s;
}

int EventSelection::send(LDAP *ld, int *msgid) const
{
    const int count = static_cast<int>(items_.size());
    if (filtered_) {
        std::vector<FilteredEventSpecifier> specs;
        for (const auto &i : items_) specs.push_back({i.type, i.status, i.filter ? i.filter->c_str() : ""});
        return ldap_monitor_events_filtered(ld, count, specs.data(), msgid);
    }
    std::vector<EventSpecifier> specs;
    for (const auto &i : items_) specs.push_back({i.type, i.status});
    return ldap_monitor_events(ld, count, specs.data(), msgid);
}

}  // namespace dirext_cli
