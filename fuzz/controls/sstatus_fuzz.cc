// The status response parser, from arbitrary bytes.  What it accepts,
// written back as the numbers it read, must parse to the same.
#include "control_fuzz.h"

namespace {

constexpr const char kOid[] = "2.16.840.1.113719.1.27.101.40";

// The numbers read; a number is absent when its variable kept its start value
// in both of two parses (started at 0 and at -1).
struct Status {
    int rc = 0, v[4] = {}, present[4] = {};
    Status(const char *data, size_t size)
    {
        int w[4] = {-1, -1, -1, -1};
        auto parse = [&](int *out) {
            return control_fuzz::with_value(kOid, data, size, [&](LDAP *ld, LDAPControl **controls) {
                return ldap_parse_sstatus_control(ld, controls, &out[0], &out[1], &out[2], &out[3]);
            });
        };
        rc = parse(v);
        if (rc == LDAP_SUCCESS) control_fuzz::require(parse(w) == LDAP_SUCCESS);
        for (int i = 0; i < 4; ++i) present[i] = v[i] == w[i];
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Status first(reinterpret_cast<const char *>(data), size);
    if (first.rc == LDAP_SUCCESS) {
        control_fuzz::Writer w;
        w.put("{");
        for (int i = 0; i < 4; ++i)
            if (first.present[i]) w.put("ti", ber_tag_t(0x80 + i), first.v[i]);
        const std::string bytes = w.put("}").bytes();
        const Status again(bytes.data(), bytes.size());
        control_fuzz::require(again.rc == LDAP_SUCCESS);
        for (int i = 0; i < 4; ++i)
            control_fuzz::require(again.present[i] == first.present[i] && (!first.present[i] || again.v[i] == first.v[i]));
    }
    control_fuzz::run(kOid, data, size, [](LDAP *ld, LDAPControl **controls) {
        int v1 = 0, v3 = 0;
        return ldap_parse_sstatus_control(ld, controls, nullptr, &v1, nullptr, &v3);
    });
    return 0;
}
