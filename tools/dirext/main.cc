// dirext: the library's management operations, event monitoring, bulk load,
// schema and backup as an administrator's command-line tool.
#include <dirext.h>

#include <clocale>
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "password.h"
#include "session.h"

namespace dirext_cli {
namespace {

int run(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    int status = 0;
    auto inv = parse_command_line(argc, argv, &status);
    if (!inv) return status;

    int version = LDAP_VERSION3;
    ldap_set_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version);
    const CommandRow *row = find_command(inv->command);
    Session session(*inv);
    if (!row->connects_itself)
        if (int rc = session.connect()) return rc;
    int rc = row->run(session, *inv);
    toolkit::forget_password(inv->conn.password);
    return rc;
}

}  // namespace
}  // namespace dirext_cli

int main(int argc, char **argv)
{
    return dirext_cli::run(argc, argv) & 0xff;
}
