#include "command_line.h"

#include <getopt.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "password.h"

namespace dirext_cli {
namespace {

constexpr const char kCommonOptions[] =
    "Connection options (every command):\n"
    "  -H URI          LDAP URI (ldap:// or ldaps://); default: ldap.conf's URI\n"
    "  -h host -p port server host and port (instead of -H)\n"
    "  -D binddn       bind DN for a simple bind (none: anonymous)\n"
    "  -w passwd       bind password\n"
    "  -W              prompt for the bind password\n"
    "  -y file         read the bind password from file (its whole content)\n"
    "  -e file         trusted CA certificate (PEM or DER); TLS from the start, verified\n"
    "  -Z              StartTLS (-ZZ: it must succeed)\n"
    "  -Y DIGEST-MD5   SASL bind as -U user [-R realm]; the server must prove itself\n"
    "  -l seconds      time limit for connecting and for each answer\n"
    "  --json          one JSON object per line, where a command prints records\n"
    "Exit status: 0 success, 1 usage or connection error, 255 failed bind,\n"
    "otherwise the LDAP result code of what failed.\n";

enum LongOption { kJson = 1000, kCount, kScope, kFilter, kChanges, kSkip, kKind, kHelp };

constexpr struct option kLongOptions[] = {
    {"json", no_argument, nullptr, kJson},          {"count", required_argument, nullptr, kCount},
    {"scope", required_argument, nullptr, kScope},  {"filter", required_argument, nullptr, kFilter},
    {"changes", required_argument, nullptr, kChanges}, {"skip", required_argument, nullptr, kSkip},
    {"kind", required_argument, nullptr, kKind},    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
};

// The command options that take a text, and where it goes.
struct TextOption {
    int opt;
    const char *name;
    std::optional<std::string> Invocation::*member;
};
constexpr TextOption kTextOptions[] = {
    {'o', "-o", &Invocation::output},          {'i', "-i", &Invocation::input},
    {kScope, "--scope", &Invocation::scope},   {kFilter, "--filter", &Invocation::filter},
    {kChanges, "--changes", &Invocation::changes}, {kKind, "--kind", &Invocation::kind},
};

// One line per form of the command: " | " separates the forms in a synopsis.
void print_command_line(std::FILE *to, const char *program, const CommandRow &row)
{
    std::string_view rest = row.synopsis;
    do {
        size_t bar = rest.find(" | ");
        std::string_view form = rest.substr(0, bar);
        std::fprintf(to, "  %s %s%s%.*s\n", program, row.name, form.empty() ? "" : " ", static_cast<int>(form.size()),
                     form.data());
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 3);
    } while (!rest.empty());
}

// A usage error: the message, the command's synopsis, and a pointer to --help.
std::nullopt_t usage_error(const char *program, const CommandRow *row, const std::string &message, int *status)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    if (row) {
        std::fputs("Usage:\n", stderr);
        print_command_line(stderr, program, *row);
    }
    std::fprintf(stderr, "Run '%s --help' for every command and option.\n", program);
    *status = 1;
    return std::nullopt;
}

std::optional<long> whole_number(const char *text, long low, long high)
{
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno || end == text || *end || value < low || value > high) return std::nullopt;
    return value;
}

// The option names (as in the row's list) a command takes.
bool takes(const CommandRow &row, const char *option)
{
    std::string list = std::string(" ") + row.options + " ";
    return list.find(std::string(" ") + option + " ") != std::string::npos;
}

// What getopt found wrong ('?' or ':'), as the message of a usage error.
std::string option_complaint(int opt, char **args)
{
    std::string name;
    if (optopt > 0 && optopt < 256) {
        name = std::string("-") + static_cast<char>(optopt);
    } else {
        for (const auto &o : kLongOptions)
            if (o.name && o.val == optopt) name = std::string("--") + o.name;
    }
    if (opt == ':') return "option " + name + " needs a value";
    if (!name.empty() && optopt >= kJson) return "option " + name + " takes no value";
    if (name.empty()) name = args[optind - 1];  // an unknown long option: its word as given
    return "unknown option '" + name + "'";
}

struct Parser {
    const char *program;
    const CommandRow *row;
    int *status;
    Invocation inv;
    bool password_given = false;

    std::optional<std::string> check_connection() const;
    std::optional<std::string> check_command_option(const char *name) const
    {
        if (takes(*row, name)) return std::nullopt;
        return std::string(name) + " is not an option of " + row->name;
    }
    std::optional<std::string> take(int opt, char *arg);
};

std::optional<std::string> Parser::take(int opt, char *arg)
{
    for (const auto &t : kTextOptions) {
        if (t.opt != opt) continue;
        if (auto e = check_command_option(t.name)) return e;
        inv.*t.member = arg;
        return std::nullopt;
    }
    auto number = [&](long low, long high) { return whole_number(arg, low, high); };
    switch (opt) {
    case 'H': inv.conn.uri = arg; break;
    case 'h': inv.conn.host = arg; break;
    case 'p': {
        auto v = number(1, 65535);
        if (!v) return "-p needs a port number from 1 to 65535, not '" + std::string(arg) + "'";
        inv.conn.port = static_cast<int>(*v);
        break;
    }
    case 'D': inv.conn.bind_dn = arg; break;
    case 'w':
        toolkit::forget_password(inv.conn.password);
        inv.conn.password = arg;
        toolkit::mask_argument(arg);
        password_given = true;
        break;
    case 'W': ++inv.prompt_count; break;
    case 'y': inv.password_file = arg; break;
    case 'e': inv.conn.key_file = arg; break;
    case 'Z': ++inv.conn.tls_count; break;
    case 'l': {
        auto v = number(0, INT_MAX);
        if (!v) return "-l needs a number of seconds, not '" + std::string(arg) + "'";
        inv.conn.time_limit = static_cast<int>(*v);
        break;
    }
    case 'Y': inv.conn.sasl_mech = arg; break;
    case 'U': inv.conn.sasl_user = arg; break;
    case 'R': inv.conn.sasl_realm = arg; break;
    case kJson:
        if (auto e = check_command_option("--json")) return e;
        inv.json = true;
        break;
    case kCount: {
        if (auto e = check_command_option("--count")) return e;
        auto v = number(1, LONG_MAX);
        if (!v) return "--count needs a positive number, not '" + std::string(arg) + "'";
        inv.count = *v;
        break;
    }
    case kSkip: {
        if (auto e = check_command_option("--skip")) return e;
        auto v = number(0, LONG_MAX);
        if (!v) return "--skip needs a number of records, not '" + std::string(arg) + "'";
        inv.skip = *v;
        break;
    }
    default: return std::string();  // getopt's complaint, see option_complaint
    }
    return std::nullopt;
}

std::optional<std::string> Parser::check_connection() const
{
    const auto &c = inv.conn;
    if (c.uri && (c.host || c.port)) return std::string("-H and -h/-p exclude each other");
    int password_sources = (password_given ? 1 : 0) + (inv.prompt_count ? 1 : 0) + (inv.password_file ? 1 : 0);
    if (password_sources > 1) return std::string("give the password one way: -w, -W or -y");
    if (c.sasl_mech) {
        if (strcasecmp(c.sasl_mech->c_str(), "DIGEST-MD5") != 0)
            return "-Y " + *c.sasl_mech + ": only DIGEST-MD5 is supported";
        if (!c.sasl_user) return std::string("-Y DIGEST-MD5 needs -U user");
        if (c.bind_dn) return std::string("-D is for a simple bind; -Y DIGEST-MD5 binds as -U user");
        if (!password_sources) return std::string("-Y DIGEST-MD5 needs a password: -w, -W or -y");
    } else {
        if (c.sasl_user || c.sasl_realm) return std::string("-U and -R go with -Y DIGEST-MD5");
        if (c.bind_dn && !password_sources) return std::string("-D needs a password: -w, -W or -y");
        if (!c.bind_dn && password_sources) return std::string("a password needs -D binddn");
    }
    if (c.key_file && c.uri && !c.tls_count && strncasecmp(c.uri->c_str(), "ldaps:", 6) != 0)
        return std::string("-e with an ldap:// URI needs -Z (or give an ldaps:// URI)");
    return std::nullopt;
}

}  // namespace

void print_usage(std::FILE *to, const char *program)
{
    std::fprintf(to, "Usage: %s COMMAND [options] [operands]\nCommands:\n", program);
    for (const auto &row : command_table()) print_command_line(to, program, row);
    std::fputs("What each command does:\n", to);
    for (const auto &row : command_table()) std::fprintf(to, "  %-11s %s\n", row.name, row.summary);
    std::fputs(kCommonOptions, to);
}

std::optional<Invocation> parse_command_line(int argc, char **argv, int *status)
{
    // Messages name the program as a user types it, without its folder.
    const char *program = argc > 0 ? argv[0] : "dirext";
    if (const char *slash = std::strrchr(program, '/')) program = slash + 1;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        print_usage(argc < 2 ? stderr : stdout, program);
        *status = argc < 2 ? 1 : 0;
        return std::nullopt;
    }
    const CommandRow *row = find_command(argv[1]);
    if (!row) return usage_error(program, nullptr, std::string("unknown command '") + argv[1] + "'", status);

    Parser p{program, row, status, {}};
    p.inv.program = program;
    p.inv.command = row->name;
    // The command word takes the program-name slot.
    optind = 1;
    opterr = 0;  // its complaints are written as usage errors, see option_complaint
    int opt;
    while ((opt = getopt_long(argc - 1, argv + 1, ":H:h:p:D:w:Wy:e:Zl:Y:U:R:o:i:", kLongOptions, nullptr)) != -1) {
        if (opt == kHelp) {
            std::fputs("Usage:\n", stdout);
            print_command_line(stdout, program, *row);
            std::fputs(kCommonOptions, stdout);
            *status = 0;
            return std::nullopt;
        }
        if (auto error = p.take(opt, optarg))
            return usage_error(program, row, error->empty() ? option_complaint(opt, argv + 1) : *error, status);
    }
    for (int i = optind + 1; i < argc; ++i) p.inv.operands.emplace_back(argv[i]);
    int n = static_cast<int>(p.inv.operands.size());
    if (n < row->min_operands || (row->max_operands >= 0 && n > row->max_operands))
        return usage_error(program, row, std::string(n < row->min_operands ? "too few" : "too many") +
                                             " operands for " + row->name, status);
    if (auto error = p.check_connection()) return usage_error(program, row, *error, status);

    if (p.inv.password_file) {
        std::string error;
        p.inv.conn.password = toolkit::read_password_file(*p.inv.password_file, &error);
        if (!p.inv.conn.password) {
            std::fprintf(stderr, "%s: -y %s: %s\n", program, p.inv.password_file->c_str(), error.c_str());
            *status = 1;
            return std::nullopt;
        }
    } else if (p.inv.prompt_count) {
        p.inv.conn.password = toolkit::prompt_password();
        if (!p.inv.conn.password) return usage_error(program, nullptr, "no password could be read", status);
    }
    return std::move(p.inv);
}

}  // namespace dirext_cli
