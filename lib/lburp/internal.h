// LBURP internals: the operation encoders behind the exported LBURPEncode*
// names, and the wire constants.  The library's own code calls these hidden
// functions, never the exported names, so that nothing outside can interpose.
#pragma once

#include "core/handles.h"  // reads <ldap.h> the library's way; include it first
#include "dirext/lburp.h"

namespace dirext::lburp {

inline constexpr const char kStartRequestOid[] = "2.16.840.1.113719.1.142.100.1";
inline constexpr const char kStartResponseOid[] = "2.16.840.1.113719.1.142.100.2";
inline constexpr const char kUpdateStyleOid[] = "2.16.840.1.113719.1.142.1.4.2";
inline constexpr const char kEndRequestOid[] = "2.16.840.1.113719.1.142.100.4";
inline constexpr const char kEndResponseOid[] = "2.16.840.1.113719.1.142.100.5";
inline constexpr const char kUpdateRequestOid[] = "2.16.840.1.113719.1.142.100.6";
inline constexpr const char kUpdateResponseOid[] = "2.16.840.1.113719.1.142.100.7";

// Each appends one operation to ber.  0, or a non-zero code after releasing
// ber (a null ber: LDAP_PARAM_ERROR, nothing released).
int encode_add(const char *dn, LDAPMod **attributes, LDAPControl **controls, BerElement *ber);
int encode_delete(const char *dn, LDAPControl **controls, BerElement *ber);
int encode_modify(const char *dn, LDAPMod **modifications, LDAPControl **controls, BerElement *ber);
int encode_moddn(const char *dn, const char *new_rdn, const char *new_superior, int delete_old_rdn,
                 LDAPControl **controls, BerElement *ber);

// Decodes an update response's value (the failure entries one after
// another).  On success *count and *list hold the failures (null list for
// none); on failure both are left alone and nothing stays allocated.
int decode_failure_list(const berval &value, int *count, LBURPFailedOperation **list);

// Dispatches on op.type, with the encoders' contract; an unknown type gives
// LDAP_NOT_SUPPORTED (ber released too).
int encode_operation(const LBURPOperation &op, BerElement *ber);

}  // namespace dirext::lburp
