// Controls internals.  The exported functions are thin wrappers over these
// hidden ones, and the library's own code calls only these: two of the
// exported names are also libldap's, and a call through the exported name
// could be bound to another definition at run time.
#pragma once

#include "core/handles.h"  // reads <ldap.h> the library's way; include it first
#include "core/result.h"
#include "dirext/controls.h"

namespace dirext::controls {

inline constexpr const char kPersistentSearchOid[] = "2.16.840.1.113730.3.4.3";
inline constexpr const char kEntryChangeOid[] = "2.16.840.1.113730.3.4.7";
inline constexpr const char kProxyAuthOid[] = "2.16.840.1.113730.3.4.18";
inline constexpr const char kGetEffectiveOid[] = "2.16.840.1.113719.1.27.101.33";
inline constexpr const char kStatusOid[] = "2.16.840.1.113719.1.27.101.40";
inline constexpr const char kReferenceOid[] = "2.16.840.1.113719.1.1.5150.101.1";

// Each stores its result as the session's result code (ld is not null).
int create_persistent_search(LDAP *ld, int change_types, int changes_only, int return_ecs, bool critical,
                             LDAPControl **out);
int parse_entry_change(LDAP *ld, LDAPControl **ctrls, int *change_type, char **prev_dn,
                       int *change_number_present, int *change_number);

}  // namespace dirext::controls
