// Identity, effective privileges and name conversion.
#include <cstring>

#include "core/alloc.h"
#include "core/handles.h"
#include "extops/codecs.h"
#include "extops/runner.h"

namespace dirext::extops {
namespace {
constexpr std::size_t kDnWidth = LDAPX_DN_WIDTH;
constexpr std::size_t kBindDnKept = kDnWidth - 2;  // what is kept of a bind DN that does not fit
}  // namespace

int decode_returned_string(BerElement *ber, bool bind_dn_cut, char **out)
{
    struct berval *raw = nullptr;
    bool ok = scan_fields(ber, "O", &raw);
    BervalPtr value(raw);
    if (!ok) return LDAP_ENCODING_ERROR;
    std::size_t n = value->bv_len;
    if (bind_dn_cut && n >= kDnWidth) n = kBindDnKept;
    *out = dup_bytes(value->bv_val, n);
    return *out ? LDAP_SUCCESS : LDAP_NO_MEMORY;
}

int encode_native_name(BerElement *ber, const uint16_t *name)
{
    if (!name) return LDAP_ENCODING_ERROR;
    std::size_t units = 0;
    while (name[units]) ++units;
    std::size_t length = 2 * (units + 1);
    MallocPtr<char> bytes(static_cast<char *>(alloc(length)));
    if (!bytes) return LDAP_NO_MEMORY;
    for (std::size_t i = 0; i <= units; ++i) {  // the zero unit included
        bytes.get()[2 * i] = static_cast<char>(name[i] >> 8);
        bytes.get()[2 * i + 1] = static_cast<char>(name[i] & 0xff);
    }
    return ber_printf(ber, "o", bytes.get(), static_cast<ber_len_t>(length)) == -1 ? LDAP_ENCODING_ERROR
                                                                                  : LDAP_SUCCESS;
}

int decode_privileges(BerElement *ber, int *privileges, std::size_t slots)
{
    int count = 0;
    if (scan<Op::GetEffectivePrivilegesList>(ber, &count) != LDAP_SUCCESS) return LDAP_ENCODING_ERROR;
    for (int i = 0; i < count; ++i) {
        int value = 0;
        bool stored = static_cast<std::size_t>(i) < slots;
        if (stored) privileges[i] = 0;
        if (!scan_fields(ber, "{i}", &value)) return LDAP_ENCODING_ERROR;
        if (stored) privileges[i] = value;
    }
    return LDAP_SUCCESS;
}

// Shared by ldap_get_bind_dn and its alias.
int get_bind_dn(LDAP *ld, char **dn)
{
    if (!dn) return LDAP_PARAM_ERROR;
    return call_without_value<Op::GetBindDn>(
        ld, [dn](BerElement *ber) { return decode_returned_string(ber, true, dn); });
}

}  // namespace dirext::extops

using namespace dirext::extops;

extern "C" {

int ldap_get_bind_dn(LDAP *ld, char **dn)
{
    return get_bind_dn(ld, dn);
}

int ldap_get_context_identity_name(LDAP *ld, char **dn)
{
    return get_bind_dn(ld, dn);
}

int ldap_get_effective_privileges(LDAP *ld, const char *firstDN, const char *secondDN, const char *attributeName,
                                  int *privileges)
{
    if (!privileges) return LDAP_PARAM_ERROR;
    return call<Op::GetEffectivePrivileges>(
        ld, [privileges](BerElement *ber) { return scan<Op::GetEffectivePrivileges>(ber, privileges); }, firstDN,
        secondDN, attributeName);
}

int ldap_get_effective_privileges_list(LDAP *ld, const char *firstDN, const char *secondDN, char **attributeNames,
                                       int *privileges)
{
    if (!firstDN || !secondDN || !attributeNames || !privileges) return LDAP_PARAM_ERROR;
    std::size_t slots = 0;
    while (attributeNames[slots]) ++slots;
    return call<Op::GetEffectivePrivilegesList>(
        ld, [=](BerElement *ber) { return decode_privileges(ber, privileges, slots); }, firstDN, secondDN,
        attributeNames);
}

int ldap_quor_to_ldap(LDAP *ld, const uint16_t *name, char **dn)
{
    if (!dn) return LDAP_PARAM_ERROR;
    return run(
        ld, operation(Op::QuorToLdap), [name](BerElement *ber) { return encode_native_name(ber, name); },
        [dn](BerElement *ber) { return decode_returned_string(ber, false, dn); });
}

int ldap_dns_to_x500_dn(LDAP *ld, const char *dnsName, char **dn)
{
    if (!dn) return LDAP_PARAM_ERROR;
    return call<Op::DnsToX500Dn>(
        ld, [dn](BerElement *ber) { return decode_returned_string(ber, false, dn); }, dnsName);
}

}  // extern "C"
