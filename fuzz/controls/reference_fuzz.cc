// The reference response parser, from arbitrary bytes.  Strings read before a
// failure are the caller's, so they are released whatever the result.
#include "control_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return control_fuzz::run("2.16.840.1.113719.1.1.5150.101.1", data, size, [](LDAP *ld, LDAPControl **controls) {
        char *s1 = nullptr, *s3 = nullptr, *s6 = nullptr, **list5 = nullptr;
        int i2 = 0, i4 = 0;
        ldap_parse_reference_control(ld, controls, &s1, &i2, &s3, &i4, &list5, &s6);
        ldap_memfree(s1);
        ldap_memfree(s3);
        ldap_memfree(s6);
        ldap_value_free(list5);
    });
}
