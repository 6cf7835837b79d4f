// Controls: the creators' encoders and the parsers' readers.  Each stores
// its result as the session's result code.
#include "sweep.h"
#include "wire.h"

namespace allocsweep {
namespace {

using namespace wire;

// A creator's result, with the control null on failure (read once the
// creator has stored it).
int created(LDAP *ld, int rc, LDAPControl *&control)
{
    stored(ld, rc);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(control, nullptr);
    }
    ldap_control_free(control);
    return rc;
}

int persistent_search(Env &env)
{
    LDAPControl *control = nullptr;
    return created(env.ld(), ldap_create_persistentsearch_control(env.ld(), 15, 1, 1, 1, &control), control);
}

int get_effective(Env &env)
{
    LDAPEffectivePrivilegesItem first{"cn=a,o=lab", nullptr}, second{nullptr, "cn"};
    LDAPEffectivePrivilegesItem *items[] = {&first, &second, nullptr};
    LDAPControl *control = nullptr;
    return created(env.ld(), ldap_create_geteffective_control(env.ld(), items, 2, 0, &control), control);
}

int status(Env &env)
{
    const LDAPStatusRequest request{1, 0, 1, LDAPX_STATUS_UNSET, 1, 0, 1};
    LDAPControl *control = nullptr;
    return created(env.ld(), ldap_create_sstatus_control(env.ld(), &request, 1, &control), control);
}

// A response control array holding one control with `value`.
struct Controls {
    std::string value;
    LDAPControl control;
    LDAPControl *list[2];
    Controls(const char *oid, std::string bytes) : value(std::move(bytes))
    {
        control.ldctl_oid = const_cast<char *>(oid);
        control.ldctl_value = {value.size(), value.data()};
        control.ldctl_iscritical = 0;
        list[0] = &control;
        list[1] = nullptr;
    }
};

int entry_change(Env &env)
{
    Controls c("2.16.840.1.113730.3.4.7", seq({enumerated(8), octets("cn=old,o=lab"), integer(42, 0x80)}));
    int type = 0, present = 0, number = 0;
    char *previous = nullptr;
    const int rc = stored(env.ld(), ldap_parse_entrychange_control(env.ld(), c.list, &type, &previous, &present, &number));
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(previous, nullptr);
    }
    ldap_memfree(previous);
    return rc;
}

int status_response(Env &env)
{
    Controls c("2.16.840.1.113719.1.27.101.40", seq({integer(1, 0x80), integer(2, 0x81), integer(3, 0x83)}));
    int v[4] = {};
    return stored(env.ld(), ldap_parse_sstatus_control(env.ld(), c.list, &v[0], &v[1], &v[2], &v[3]));
}

int reference_response(Env &env)
{
    Controls c("2.16.840.1.113719.1.1.5150.101.1",
               set({octets("one", 0x81), integer(2, 0x82), octets("three", 0x83), integer(4, 0x84),
                    tlv(0xa5, octets("x") + octets("y")), octets("six", 0x86)}));
    char *s1 = nullptr, *s3 = nullptr, *s6 = nullptr, **list5 = nullptr;
    int i2 = 0, i4 = 0;
    const int rc = stored(env.ld(), ldap_parse_reference_control(env.ld(), c.list, &s1, &i2, &s3, &i4, &list5, &s6));
    if (rc != LDAP_SUCCESS) {  // the reader fails before any field is read
        EXPECT_EQ(s1, nullptr);
        EXPECT_EQ(list5, nullptr);
    }
    for (char *s : {s1, s3, s6}) ldap_memfree(s);
    ldap_value_free(list5);
    return rc;
}

}  // namespace

const std::vector<Row> &controls_rows()
{
    static const std::vector<Row> rows = {
        {"ldap_create_persistentsearch_control", LDAP_NO_MEMORY, persistent_search},
        {"ldap_parse_entrychange_control", LDAP_NO_MEMORY, entry_change},
        {"ldap_create_geteffective_control", LDAP_NO_MEMORY, get_effective},
        {"ldap_create_sstatus_control", LDAP_NO_MEMORY, status},
        {"ldap_parse_sstatus_control", LDAP_NO_MEMORY, status_response},
        {"ldap_parse_reference_control", LDAP_NO_MEMORY, reference_response},
    };
    return rows;
}

}  // namespace allocsweep
