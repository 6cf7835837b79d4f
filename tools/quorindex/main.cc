// quorindex: lists, adds, deletes, suspends and resumes the database indexes
// of a directory server.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "connection.h"
#include "indexes.h"
#include "options.h"
#include "password.h"

namespace quorindex {
namespace {

struct Verdict {
    const char *success;  // standard output
    const char *failure;  // standard error
};

Verdict verdict_for(Command c)
{
    switch (c) {
    case Command::add: return {"Index(es) addition successful.", "Index(es) addition failed.\n"};
    case Command::del: return {"Index(es) deletion successful.", "Index deletion failed.\n"};
    case Command::resume: return {"Index(es) resumption successful.", "Index(es) resumption failed.\n"};
    case Command::suspend: return {"Index(es) suspension successful.", "Index(es) suspension failed.\n"};
    case Command::list: break;
    }
    return {nullptr, nullptr};
}

int run_command(LDAP *ld, const Settings &s)
{
    const char *server = s.server_dn->c_str();
    switch (s.command) {
    case Command::list: return list_indexes(ld, server, s.operands);
    case Command::add: return add_indexes(ld, s.operands, server, s.ancestor);
    case Command::del: return delete_indexes(ld, s.operands, server);
    case Command::resume: return set_index_state(ld, s.operands, server, IndexState::resume);
    case Command::suspend: return set_index_state(ld, s.operands, server, IndexState::suspend);
    }
    return 1;
}

int run(int argc, char **argv)
{
    std::setlocale(LC_MESSAGES, "");
    auto parsed = parse_command_line(argc, argv);
    if (parsed && parsed->prompt_count > 0) {
        auto typed = toolkit::prompt_password();
        toolkit::forget_password(parsed->conn.password);
        parsed->conn.password = std::move(typed);
    }
    if (!parsed || !parsed->conn.bind_dn || !parsed->server_dn || !parsed->conn.password ||
        (parsed->command != Command::list && parsed->operands.empty())) {
        print_usage(argv[0]);
        return 1;
    }
    Settings &s = *parsed;
    std::putchar('\n');

    int version = LDAP_VERSION3;
    if (ldap_set_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS) {
        std::perror("ldap_set_option");
        return -1;
    }

    toolkit::Connection session;
    if (int rc = session.establish(s.conn)) return rc;
    toolkit::forget_password(s.conn.password);

    int rc = run_command(session.handle(), s);
    Verdict v = verdict_for(s.command);
    if (rc == 0 && v.success)
        std::puts(v.success);
    else if (rc != 0 && v.failure)
        std::fputs(v.failure, stderr);
    return rc;
}

}  // namespace
}  // namespace quorindex

int main(int argc, char **argv)
{
    return quorindex::run(argc, argv);
}
