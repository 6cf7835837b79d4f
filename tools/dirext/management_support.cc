#include "management_support.h"

#include <strings.h>

#include <cstdio>

#include "commands.h"

namespace dirext_cli {
namespace {

constexpr const char *kReplicaTypes[] = {"master", "secondary", "readonly", "subordinate"};
constexpr int kReplicaTypeCount = sizeof kReplicaTypes / sizeof *kReplicaTypes;

constexpr const char *kPrivilegeBits[] = {"compare", "read", "write", "self", "supervisor", "inheritable"};

}  // namespace

int management_usage(const Invocation &inv, const std::string &message)
{
    const CommandRow *row = find_command(inv.command);
    std::fprintf(stderr, "dirext: %s: %s\nUsage: dirext %s %s\n", inv.command.c_str(), message.c_str(),
                 inv.command.c_str(), row ? row->synopsis : "");
    return 1;
}

void print_line(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string count_of(long n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::optional<int> parse_replica_type(std::string_view text)
{
    for (int i = 0; i < kReplicaTypeCount; ++i)
        if (text.size() == std::char_traits<char>::length(kReplicaTypes[i]) &&
            strncasecmp(text.data(), kReplicaTypes[i], text.size()) == 0)
            return i;
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return std::stoi(std::string(text));
}

const char *replica_type_name(int type)
{
    return type >= 0 && type < kReplicaTypeCount ? kReplicaTypes[type] : nullptr;
}

std::string replica_type_text(int type)
{
    const char *name = replica_type_name(type);
    return name ? name : std::to_string(type);
}

std::string replica_type_names()
{
    std::string names;
    for (const char *name : kReplicaTypes) names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

std::vector<std::string> privilege_names(int privileges)
{
    std::vector<std::string> names;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (!(static_cast<unsigned>(privileges) >> bit & 1u)) continue;
        if (bit < std::size(kPrivilegeBits)) {
            names.emplace_back(kPrivilegeBits[bit]);
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%x", 1u << bit);
            names.emplace_back(hex);
        }
    }
    return names;
}

}  // namespace dirext_cli
