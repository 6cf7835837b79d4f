/*
 * libdirext: LDAP extensions for managing the directory.
 *
 * The umbrella header of the library: it includes one header per area, each
 * of which also compiles on its own, as C99 and as C++:
 *   <dirext/common.h>    what every area shares (ldapx_memfree, how <ldap.h>
 *                        is read), included by each of the others
 *   <dirext/tls.h>       the TLS context libldap uses, certificates and keys
 *   <dirext/extops.h>    the directory's management extended operations
 *   <dirext/events.h>    event registration and the decoded event records
 *   <dirext/lburp.h>     LDAP bulk update (RFC 4373)
 *   <dirext/controls.h>  request and response controls, URL search
 *   <dirext/schema.h>    the subschema model and the description parsers
 *   <dirext/sasl.h>      DIGEST-MD5 bind, MD5 and the random pool
 * Results the library allocates belong to the caller and are released with the
 * function each area's header names; plain blocks with ldapx_memfree().
 *
 * Building and linking a program:
 *  - Include <dirext.h> (or the area headers under <dirext/>) before <ldap.h>:
 *    two control functions of this library have libldap's names with other
 *    signatures, and the library hides libldap's prototypes while it reads
 *    <ldap.h> (see <dirext/common.h> and <dirext/controls.h>).  Functions
 *    that share their names with libldap (controls, schema descriptions) or
 *    libcrypto (MD5) resolve to this library's versions when the program
 *    links libdirext ahead of libldap and libcrypto; the library's symbols
 *    carry their own version, DIREXT_0.
 *  - One libldap per process, and it must be the OpenSSL-backed one that
 *    libdirext was built with: the library hands libldap an OpenSSL context.
 *    Installed, that libldap lives in the private directory <libdir>/dirext,
 *    next to the <ldap.h> it came with (<includedir>/dirext/openldap).  Link
 *    with `pkg-config --cflags --libs libdirext`, or with CMake's
 *    find_package(dirext) and the target dirext::dirext: both compile
 *    against that <ldap.h> and link and run against that libldap.  Linking
 *    against the system's libldap instead (-lldap from the default path, or
 *    no run path to the private directory) lets the dynamic linker bind both
 *    the program and the library to the system's one, which has the same
 *    soname: the TLS set-up then fails (ldapssl_client_init returns -1 when
 *    the libldap it finds does not use OpenSSL).
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
