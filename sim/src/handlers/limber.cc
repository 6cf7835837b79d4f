// The limber trigger: the server's background process that brings pending
// indexes on line.  Here it runs at once: every indexDefinition value whose
// state field (the third '$'-separated field) is 2 or 3 gets state 0; the rest
// of the value stays byte for byte as it was.
#include <ldap.h>

#include <algorithm>

#include "../core.h"

namespace dirsim::detail {
namespace {

constexpr const char kLimberRequest[] = "2.16.840.1.113719.1.27.100.49";
constexpr const char kLimberResponse[] = "2.16.840.1.113719.1.27.100.50";

// The value with a pending state set to 0, or nothing if it is not pending.
std::optional<std::string> brought_online(const std::string &value)
{
    size_t first = value.find('$');
    if (first == std::string::npos) return std::nullopt;
    size_t second = value.find('$', first + 1);
    if (second == std::string::npos) return std::nullopt;
    size_t end = value.find('$', second + 1);
    if (end == std::string::npos) end = value.size();
    std::string_view state(value.data() + second + 1, end - second - 1);
    if (state != "2" && state != "3") return std::nullopt;
    return value.substr(0, second + 1) + "0" + value.substr(end);
}

void limber(Exchange &ex, const std::optional<std::string> &)
{
    ex.tree().write([](EntryMap &entries, uint64_t &) {
        for (auto &[ndn, entry] : entries) {
            Attribute *a = entry.find("indexDefinition");
            if (!a) continue;
            std::vector<std::string> result;
            for (const auto &v : a->values) {
                std::string next = brought_online(v).value_or(v);
                // Two definitions that now read the same would be one value twice.
                if (std::none_of(result.begin(), result.end(),
                                 [&](const std::string &have) { return values_equal(have, next); }))
                    result.push_back(std::move(next));
            }
            a->values = std::move(result);
        }
        return 0;
    });
    Reply reply;
    reply.response_name = kLimberResponse;
    ex.respond(reply);
}

const Registrar registrar([] { register_extended(kLimberRequest, limber); });

}  // namespace
}  // namespace dirsim::detail
