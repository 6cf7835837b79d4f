// The value of an IntermediateResponse, found in place in the message.
#pragma once

#include "dirext/events.h"

namespace dirext::events {

// Checks `message` and its response name as ldap_parse_intermediate and a
// comparison with `name` would, and points *value at the response value
// inside the message, without copying: LDAP_SUCCESS, LDAP_NOT_SUPPORTED (a
// handle below protocol version 3), LDAP_PARAM_ERROR (not an intermediate
// response) or LDAP_DECODING_ERROR (a damaged response, another name, no
// value).  *value lives as long as the message.  Does not touch a handle.
int intermediate_value(LDAP *ld, LDAPMessage *message, const char *name, struct berval *value);

}  // namespace dirext::events
