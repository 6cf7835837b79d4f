/*
 * libdirext: LDAP extensions for managing the directory.
 *
 * The umbrella header of the library.  It compiles as C99 and as C++.
 * Results the library allocates belong to the caller and are released with the
 * function each area's header names; plain blocks with ldapx_memfree().
 */
#ifndef DIREXT_H
#define DIREXT_H

#include "dirext/common.h"
#include "dirext/controls.h"
#include "dirext/events.h"
#include "dirext/extops.h"
#include "dirext/lburp.h"
#include "dirext/sasl.h"
#include "dirext/schema.h"
#include "dirext/tls.h"

#endif /* DIREXT_H */
