// The reference response parser, from arbitrary bytes.  Strings read before a
// failure are the caller's, so they are released whatever the result.  What
// it accepts, written back field by field, must parse to the same.
#include "control_fuzz.h"

namespace {

constexpr const char kOid[] = "2.16.840.1.113719.1.1.5150.101.1";

// The fields read; a number is absent when its variable kept its start value
// in both of two parses (started at 0 and at -1).
struct Reference {
    int rc = 0, i2 = 0, i4 = 0;
    bool has2 = false, has4 = false;
    char *s1 = nullptr, *s3 = nullptr, *s6 = nullptr, **list5 = nullptr;

    Reference(const char *data, size_t size)
    {
        int j2 = -1, j4 = -1;
        rc = control_fuzz::with_value(kOid, data, size, [&](LDAP *ld, LDAPControl **controls) {
            return ldap_parse_reference_control(ld, controls, &s1, &i2, &s3, &i4, &list5, &s6);
        });
        if (rc != LDAP_SUCCESS) return;
        control_fuzz::require(control_fuzz::with_value(kOid, data, size, [&](LDAP *ld, LDAPControl **controls) {
            return ldap_parse_reference_control(ld, controls, nullptr, &j2, nullptr, &j4, nullptr, nullptr);
        }) == LDAP_SUCCESS);
        has2 = i2 == j2;
        has4 = i4 == j4;
    }
    ~Reference()
    {
        ldap_memfree(s1);
        ldap_memfree(s3);
        ldap_memfree(s6);
        ldap_value_free(list5);
    }

    bool operator==(const Reference &o) const
    {
        using control_fuzz::same;
        if (!same(s1, o.s1) || !same(s3, o.s3) || !same(s6, o.s6) || has2 != o.has2 || has4 != o.has4 ||
            (has2 && i2 != o.i2) || (has4 && i4 != o.i4) || !list5 != !o.list5)
            return false;
        size_t n = 0;
        for (; list5 && list5[n] && o.list5[n]; ++n)
            if (!same(list5[n], o.list5[n])) return false;
        return !list5 || (!list5[n] && !o.list5[n]);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Reference first(reinterpret_cast<const char *>(data), size);
    if (first.rc != LDAP_SUCCESS) return 0;
    control_fuzz::Writer w;
    w.put("[");
    if (first.s1) w.put("ts", ber_tag_t(0x81), first.s1);
    if (first.has2) w.put("ti", ber_tag_t(0x82), first.i2);
    if (first.s3) w.put("ts", ber_tag_t(0x83), first.s3);
    if (first.has4) w.put("ti", ber_tag_t(0x84), first.i4);
    if (first.list5) {
        w.put("t[", ber_tag_t(0xa5));
        for (char **s = first.list5; *s; ++s) w.put("s", *s);
        w.put("]");
    }
    if (first.s6) w.put("ts", ber_tag_t(0x86), first.s6);
    const std::string bytes = w.put("]").bytes();
    const Reference again(bytes.data(), bytes.size());
    control_fuzz::require(again.rc == LDAP_SUCCESS && again == first);
    return 0;
}
