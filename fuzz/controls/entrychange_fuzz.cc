// The entry-change notification parser, from arbitrary bytes (through the
// library's internal name: libldap defines the exported one too).  What it
// accepts, written back in the control's shape, must parse to the same.
#include "control_fuzz.h"
#include "controls/internal.h"

namespace {

struct EntryChange {
    int rc, type = 0, present = 0, number = 0;
    char *prev = nullptr;
    EntryChange(const char *data, size_t size)
    {
        rc = control_fuzz::with_value("2.16.840.1.113730.3.4.7", data, size, [&](LDAP *ld, LDAPControl **controls) {
            return dirext::controls::parse_entry_change(ld, controls, &type, &prev, &present, &number);
        });
    }
    ~EntryChange() { ldap_memfree(prev); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const EntryChange first(reinterpret_cast<const char *>(data), size);
    if (first.rc == LDAP_SUCCESS) {
        control_fuzz::Writer w;
        w.put("{e", first.type);
        if (first.prev) w.put("s", first.prev);
        if (first.present) w.put("ti", ber_tag_t(0x80), first.number);
        const std::string bytes = w.put("}").bytes();
        const EntryChange again(bytes.data(), bytes.size());
        control_fuzz::require(again.rc == LDAP_SUCCESS && again.type == first.type &&
                              control_fuzz::same(again.prev, first.prev) && again.present == first.present &&
                              (!first.present || again.number == first.number));
    }
    // Without the optional outputs too.
    control_fuzz::run("2.16.840.1.113730.3.4.7", data, size, [](LDAP *ld, LDAPControl **controls) {
        int type = 0;
        return dirext::controls::parse_entry_change(ld, controls, &type, nullptr, nullptr, nullptr);
    });
    return 0;
}
