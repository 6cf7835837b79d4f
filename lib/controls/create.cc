// Request controls: persistent search, proxied authorisation, effective
// privileges, status and reference.
#include <cstring>

#include "controls/internal.h"
#include "core/ber_seam.h"

namespace dirext::controls {
namespace {

// The session's own encoding options are DER lengths (libldap offers no way
// to change them), so a plain DER element matches what libldap would use.
BerPtr new_element() { return BerPtr(lber::alloc_t(LBER_USE_DER)); }

// The control takes a copy of the element's bytes.
int make_control(const char *oid, BerElement *ber, bool critical, LDAPControl **out)
{
    berval value{};
    if (ber_flatten2(ber, &value, 0) == -1) return LDAP_NO_MEMORY;
    return ldap_control_create(oid, critical, &value, 1, out);
}

// Effective privileges:
//
//   GetEffectivePrivileges ::= SEQUENCE {
//       CHOICE {
//           selector  [0] IMPLICIT INTEGER,         -- 0 or 1
//           items     [1] IMPLICIT SEQUENCE OF CHOICE {
//               first   [0] IMPLICIT OCTET STRING,
//               second  [1] IMPLICIT OCTET STRING } } }
//
// The items' [1] goes out as the octet 0x81, its constructed bit clear.
int create_get_effective(LDAP *ld, LDAPEffectivePrivilegesItem **items, int selector, int is_critical,
                         LDAPControl **out)
{
    const bool by_selector = unsigned(selector) <= 1;
    if (!out) return store_result(ld, LDAP_PARAM_ERROR);
    if (!by_selector) {
        if (!items) return store_result(ld, LDAP_PARAM_ERROR);
        for (LDAPEffectivePrivilegesItem **item = items; *item; ++item)
            if (!(*item)->first && !(*item)->second) return store_result(ld, LDAP_PARAM_ERROR);
    }
    const BerPtr ber = new_element();
    if (!ber) return store_result(ld, LDAP_NO_MEMORY);
    if (by_selector) {
        if (ber_printf(ber.get(), "{ti", ber_tag_t(0x80), ber_int_t(selector)) == -1)
            return store_result(ld, LDAP_ENCODING_ERROR);
    } else {
        if (ber_printf(ber.get(), "{t{", ber_tag_t(0x81)) == -1) return store_result(ld, LDAP_ENCODING_ERROR);
        for (LDAPEffectivePrivilegesItem **item = items; *item; ++item) {
            const int rc = (*item)->first ? ber_printf(ber.get(), "ts", ber_tag_t(0x80), (*item)->first)
                                          : ber_printf(ber.get(), "ts", ber_tag_t(0x81), (*item)->second);
            if (rc == -1) return store_result(ld, LDAP_ENCODING_ERROR);
        }
        if (ber_printf(ber.get(), "}") == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    }
    if (ber_printf(ber.get(), "N}") == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    return store_result(ld, make_control(kGetEffectiveOid, ber.get(), is_critical != 0, out));
}

// Status:
//
//   StatusRequest ::= SEQUENCE {
//       f0  [0] IMPLICIT BOOLEAN OPTIONAL,
//       ...
//       f6  [6] IMPLICIT BOOLEAN OPTIONAL }
int create_status(LDAP *ld, const LDAPStatusRequest *status, int is_critical, LDAPControl **out)
{
    if (!status || !out) return store_result(ld, LDAP_PARAM_ERROR);
    const uint32_t fields[7] = {status->f0, status->f1, status->f2, status->f3,
                                status->f4, status->f5, status->f6};
    const BerPtr ber = new_element();
    if (!ber) return store_result(ld, LDAP_NO_MEMORY);
    if (ber_printf(ber.get(), "{") == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    for (unsigned i = 0; i < 7; ++i) {
        // A flag is sent when it is 0 or 1; the third when it is set at all.
        const bool sent = i == 2 ? fields[i] != LDAPX_STATUS_UNSET : fields[i] <= 1;
        if (sent && ber_printf(ber.get(), "tb", ber_tag_t(0x80 + i), ber_int_t(fields[i] != 0)) == -1)
            return store_result(ld, LDAP_ENCODING_ERROR);
    }
    if (ber_printf(ber.get(), "N}") == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    return store_result(ld, make_control(kStatusOid, ber.get(), is_critical != 0, out));
}

}  // namespace

// Persistent search:
//
//   PersistentSearch ::= SEQUENCE {
//       changeTypes  INTEGER,
//       changesOnly  BOOLEAN,
//       returnECs    BOOLEAN }
int create_persistent_search(LDAP *ld, int change_types, int changes_only, int return_ecs, bool critical,
                             LDAPControl **out)
{
    if (!out) return store_result(ld, LDAP_PARAM_ERROR);
    const BerPtr ber = new_element();
    if (!ber) return store_result(ld, LDAP_NO_MEMORY);
    if (ber_printf(ber.get(), "{ibbN}", ber_int_t(change_types), ber_int_t(changes_only), ber_int_t(return_ecs)) ==
        -1)
        return store_result(ld, LDAP_ENCODING_ERROR);
    return store_result(ld, make_control(kPersistentSearchOid, ber.get(), critical, out));
}

}  // namespace dirext::controls

extern "C" {

int ldap_create_persistentsearch_control(LDAP *ld, int change_types, int changes_only, int return_ecs,
                                         char is_critical, LDAPControl **out)
{
    if (!ld) return LDAP_PARAM_ERROR;
    return dirext::controls::create_persistent_search(ld, change_types, changes_only, return_ecs,
                                                      is_critical != 0, out);
}

int ldap_create_proxyauth_control(LDAP *ld, const char *authz_id, LDAPControl **out)
{
    using dirext::store_result;
    if (!ld) return LDAP_PARAM_ERROR;
    if (!authz_id || !out) return store_result(ld, LDAP_PARAM_ERROR);
    // The identity's bytes are the value itself (RFC 4370), not BER-wrapped.
    berval value{std::strlen(authz_id), const_cast<char *>(authz_id)};
    return store_result(ld, ldap_control_create(dirext::controls::kProxyAuthOid, 1, &value, 1, out));
}

int ldap_create_geteffective_control(LDAP *ld, LDAPEffectivePrivilegesItem **items, int selector, int is_critical,
                                     LDAPControl **out)
{
    return ld ? dirext::controls::create_get_effective(ld, items, selector, is_critical, out) : LDAP_PARAM_ERROR;
}

int ldap_create_sstatus_control(LDAP *ld, const LDAPStatusRequest *status, int is_critical, LDAPControl **out)
{
    return ld ? dirext::controls::create_status(ld, status, is_critical, out) : LDAP_PARAM_ERROR;
}

// The reference request carries no value.
int ldap_create_reference_control(LDAP *ld, int is_critical, LDAPControl **out)
{
    using dirext::store_result;
    if (!ld) return LDAP_PARAM_ERROR;
    if (!out) return store_result(ld, LDAP_PARAM_ERROR);
    return store_result(ld, ldap_control_create(dirext::controls::kReferenceOid, is_critical != 0, nullptr, 0, out));
}

}  // extern "C"
