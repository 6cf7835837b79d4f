// The entry-change notification parser, from arbitrary bytes (through the
// library's internal name: libldap defines the exported one too).
#include "control_fuzz.h"
#include "controls/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return control_fuzz::run("2.16.840.1.113730.3.4.7", data, size, [](LDAP *ld, LDAPControl **controls) {
        int type = 0, present = 0, number = 0;
        char *prev = nullptr;
        dirext::controls::parse_entry_change(ld, controls, &type, &prev, &present, &number);
        ldap_memfree(prev);
        // Without the optional outputs too.
        dirext::controls::parse_entry_change(ld, controls, &type, nullptr, nullptr, nullptr);
    });
}
