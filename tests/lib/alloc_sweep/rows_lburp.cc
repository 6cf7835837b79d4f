// LBURP: the requests' elements, the start response's reader and the failure
// list of an update response.
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

// Each request on a session of its own (the simulator answers it; the answer
// is not read).  The element is the first allocation: running out there
// leaves the handle's result code alone.
int start_request(Env &env)
{
    Session ld = env.open();
    int msgid = -1;
    return stored_unless_early(ld.get(), ldap_lburp_start_request(ld.get(), &msgid));
}

int update_request(Env &env)
{
    Session ld = env.open();
    char cn[] = "cn", value[] = "bulk";
    char *values[] = {value, nullptr};
    LDAPMod mod{LDAP_MOD_ADD, cn, {values}};
    LDAPMod *mods[] = {&mod, nullptr};
    LBURPOperation add{LBURP_OP_ADD, "cn=bulk,o=lab", mods, nullptr, nullptr, 0};
    LBURPOperation *operations[] = {&add, nullptr};
    int msgid = -1;
    return stored_unless_early(ld.get(), ldap_lburp_operation_request(ld.get(), 1, operations, &msgid));
}

int end_request(Env &env)
{
    Session ld = env.open();
    int msgid = -1;
    return stored_unless_early(ld.get(), ldap_lburp_end_request(ld.get(), 2, &msgid));
}

int start_response(Env &env)
{
    static const std::string kName = "2.16.840.1.113719.1.142.100.2";
    const std::string value = seq({integer(250)});
    LDAPMessage *response = env.message("lburp start response", [&](int msgid) {
        return extended_response(msgid, LDAP_SUCCESS, &kName, &value);
    });
    int errcode = -1, max = 0;
    const int rc = stored(env.ld(), ldap_parse_lburp_start_response(env.ld(), response, &errcode, nullptr, &max, 0));
    if (rc == LDAP_SUCCESS) {
        EXPECT_EQ(max, 250);
    }
    return rc;
}

}  // namespace

const std::vector<Row> &lburp_rows()
{
    static const std::vector<Row> rows = {
        {"ldap_lburp_start_request", LDAP_NO_MEMORY, start_request},
        {"ldap_lburp_operation_request", LDAP_NO_MEMORY, update_request},
        {"ldap_lburp_end_request", LDAP_NO_MEMORY, end_request},
        {"ldap_parse_lburp_start_response", LDAP_NO_MEMORY, start_response},
        {"ldap_parse_lburp_operation_response", LDAP_NO_MEMORY, update_response},
    };
    return rows;
}

}  // namespace allocsweep
