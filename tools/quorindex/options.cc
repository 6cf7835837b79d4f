#include "options.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "password.h"

namespace quorindex {
namespace {

constexpr const char kUsage[] =
    "Usage: \n"
    "%s list    [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
    "                       [-l limit] -s <Server DN> [<indexName1> <indexName2> ...]\n"
    "%s add     [-h hostname] [-p port] [-a] -D <bind DN> -W|[-w password]\n"
    "                       [-l limit] -s <Server DN> <indexDefinition1> [<indexDefinition2> ...]\n"
    "%s delete  [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
    "                       [-l limit] -s <Server DN> <indexName1> [<indexName2> ...] \n"
    "%s resume  [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
    "                       [-l limit] -s <Server DN> <indexName1> [<indexName2> ...] \n"
    "%s suspend [-h hostname] [-p port] -D <bind DN> -W|[-w password]\n"
    "                       [-l limit] -s <Server DN> <indexName1> [<indexName2> ...] \n"
    "where:\n"
    " list             lists Corvane database index(es)\n"
    " add              adds Corvane database index(es)\n"
    " delete           deletes Corvane database index(es)\n"
    " resume           brings indexes to on-line state\n"
    " suspend          brings indexes to off-line state\n"
    " indexDefinition  each index defintion should look like\n"
    "                  \"<indexName>;<attributeName>;<matchingRule>\" \n"
    "                  where:\n"
    "                  indexName      Name you choose to name your index\n"
    "                  attributeName  Name of attribute to be indexed \n"
    "                  matchingRule   Can be one of VALUE, SUBSTRING or PRESENCE \n"
    "Add options:\n"
    "  -a              Allows a new index to be created with the ancestor ID\n"
    "Index options:\n"
    "  -s serverDN     distinguished name of Corvane server\n"
    "Common options:\n"
    "  -D binddn       bind DN\n"
    "  -e file         key file name for SSL bind\n"
    "  -h host         LDAP server\n"
    "  -l limit        time limit (in seconds) for connect or search\n"
    "  -p port         port on LDAP server\n"
    "  -w passwd       bind passwd (for simple authentication)\n"
    "  -W              prompt for bind passwd\n"
    "  -Z              Start TLS request (-ZZ to require successful response)\n";

struct CommandWord {
    const char *word;
    Command command;
};
constexpr CommandWord kCommands[] = {
    {"list", Command::list},     {"add", Command::add},         {"delete", Command::del},
    {"suspend", Command::suspend}, {"resume", Command::resume},
};

std::optional<Command> match_command(const char *word)
{
    for (const auto &c : kCommands)
        if (strcasecmp(word, c.word) == 0) return c.command;
    return std::nullopt;
}

}  // namespace

void print_usage(const char *program)
{
    std::fprintf(stderr, kUsage, program, program, program, program, program);
}

std::optional<Settings> parse_command_line(int argc, char **argv)
{
    if (argc < 5) return std::nullopt;
    Settings s;
    // -Z alone does not verify the server's certificate (only -e does).
    s.conn.verify_without_key_file = false;
    auto command = match_command(argv[1]);
    if (!command) return std::nullopt;
    s.command = *command;

    // The command word takes the program-name slot, so getopt's own
    // complaints name it.
    int opt;
    optind = 1;
    while ((opt = getopt(argc - 1, argv + 1, "e:aWD:h:p:l:w:s:Z")) != -1) {
        switch (opt) {
        case 'e': s.conn.key_file = optarg; break;
        case 'a':
            if (s.command != Command::add) return std::nullopt;
            s.ancestor = true;
            break;
        case 'W': ++s.prompt_count; break;
        case 'D': s.conn.bind_dn = optarg; break;
        case 'h': s.conn.host = optarg; break;
        case 'p': s.conn.port = static_cast<int>(std::strtol(optarg, nullptr, 10)); break;
        case 'l': s.conn.time_limit = static_cast<int>(std::strtol(optarg, nullptr, 10)); break;
        case 'w':
            s.conn.password = optarg;
            toolkit::mask_argument(optarg);
            break;
        case 's': s.server_dn = optarg; break;
        case 'Z': ++s.conn.tls_count; break;
        default: return std::nullopt;
        }
    }
    for (int i = optind + 1; i < argc; ++i) s.operands.emplace_back(argv[i]);
    return s;
}

}  // namespace quorindex
