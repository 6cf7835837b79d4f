/* libdirext: declarations shared by every area of the library. */
#ifndef DIREXT_COMMON_H
#define DIREXT_COMMON_H

/*
 * libldap declares two functions under names that this library exports with
 * other signatures (ldap_create_persistentsearch_control and
 * ldap_parse_entrychange_control).  While <ldap.h> is read here, its two
 * prototypes are renamed out of the way, so that the library's declarations
 * are the only ones a caller sees.  The rule for callers: include <dirext.h>
 * (or any <dirext/...> header) before <ldap.h>; the controls header refuses
 * the other order.
 */
#if defined(_LDAP_H) && !defined(DIREXT_LDAP_H_SEEN)
/* <ldap.h> came first: only the controls header, which declares the two
 * names, refuses that order. */
#define DIREXT_LDAP_H_FIRST 1
#endif
#define DIREXT_LDAP_H_SEEN 1
#define ldap_create_persistentsearch_control ldap_create_persistentsearch_control__libldap
#define ldap_parse_entrychange_control ldap_parse_entrychange_control__libldap
#include <lber.h>
#include <ldap.h>
#undef ldap_create_persistentsearch_control
#undef ldap_parse_entrychange_control

#if defined(DIREXT_BUILDING_LIBRARY)
#define DIREXT_API __attribute__((visibility("default")))
#else
#define DIREXT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Releases a plain block that the library allocated and handed to the caller.
 * Does nothing for NULL. */
DIREXT_API void ldapx_memfree(void *p);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_COMMON_H */
