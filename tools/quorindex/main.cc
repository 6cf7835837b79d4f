// quorindex: lists, adds, deletes, suspends and resumes the database indexes
// of a directory server.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "indexes.h"
#include "options.h"
#include "session.h"

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

void forget_password(Settings &s)
{
    if (!s.password) return;
    std::memset(s.password->data(), 0, s.password->size());
    s.password.reset();
}

int run(int argc, char **argv)
{
    std::setlocale(LC_MESSAGES, "");
    auto parsed = parse_command_line(argc, argv);
    if (parsed && parsed->prompt_count > 0) {
        char *typed = getpass("Enter LDAP Password: ");
        forget_password(*parsed);
        if (typed) {
            parsed->password = typed;
            std::memset(typed, 0, std::strlen(typed));
        }
    }
    if (!parsed || !parsed->bind_dn || !parsed->server_dn || !parsed->password ||
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

    Session session;
    if (int rc = session.open(s)) return rc;
    if (s.time_limit != -1)
        if (int rc = session.apply_time_limit(s.time_limit)) return rc;
    if (s.tls_count > 0)
        if (int rc = session.start_tls(s)) return rc;
    if (int rc = session.bind(s)) return rc;
    forget_password(s);

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
