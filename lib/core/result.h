// The session's result code: every area that reports a code through the
// handle (LDAP_OPT_RESULT_CODE) stores and reads it here.
#pragma once

#include "dirext/common.h"  // reads <ldap.h> the library's way; include it first

namespace dirext {

// Stores rc as the handle's result code and returns it; with no handle
// there is nothing to store.
int store_result(LDAP *ld, int rc);

// The handle's result code, as libldap left it; LDAP_OTHER when it cannot
// be read.
int stored_result(LDAP *ld);

}  // namespace dirext
