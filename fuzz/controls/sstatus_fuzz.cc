// The status response parser, from arbitrary bytes.
#include "control_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return control_fuzz::run("2.16.840.1.113719.1.27.101.40", data, size, [](LDAP *ld, LDAPControl **controls) {
        int v0 = 0, v1 = 0, v2 = 0, v3 = 0;
        ldap_parse_sstatus_control(ld, controls, &v0, &v1, &v2, &v3);
        ldap_parse_sstatus_control(ld, controls, nullptr, &v1, nullptr, &v3);
    });
}
