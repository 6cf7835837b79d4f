// LBURP: the failure list of an update response is the only block the
// library allocates itself (its requests and the other responses allocate
// through liblber and libldap only).
#include "sweep.h"
#include "wire.h"

namespace allocsweep {
namespace {

using namespace wire;

int update_response(Env &env)
{
    static const std::string kName = "2.16.840.1.113719.1.142.100.7";
    const std::string failures = seq({integer(3), seq({enumerated(LDAP_ALREADY_EXISTS), octets(""), octets("exists")})}) +
                                 seq({integer(9), seq({enumerated(LDAP_NO_SUCH_OBJECT), octets(""), octets("")})});
    LDAPMessage *response = env.message("lburp update response", [&](int msgid) {
        return extended_response(msgid, LDAP_SUCCESS, &kName, &failures);
    });
    int errcode = -1, count = -1;
    LBURPFailedOperation *list = nullptr;
    char *errmsg = nullptr;
    const int rc =
        stored(env.ld(), ldap_parse_lburp_operation_response(env.ld(), response, &errcode, &errmsg, &count, &list, 0));
    if (rc == LDAP_SUCCESS) {
        EXPECT_EQ(count, 2);
    } else {  // on any failure the list is empty
        EXPECT_EQ(count, 0);
        EXPECT_EQ(list, nullptr);
    }
    for (int i = 0; list && i < count; ++i) ldap_memfree(list[i].diagnosticMessage);
    ldapx_memfree(list);
    ldap_memfree(errmsg);
    return rc;
}

}  // namespace

const std::vector<Row> &lburp_rows()
{
    static const std::vector<Row> rows = {
        {"ldap_parse_lburp_operation_response", LDAP_NO_MEMORY, update_response},
    };
    return rows;
}

}  // namespace allocsweep
