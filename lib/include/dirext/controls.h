/*
 * libdirext: request and response controls, and searches by LDAP URL.
 *
 * Creators return a new control in *out, released with ldap_control_free.
 * Parsers look for their OID in a NULL-terminated control array (as libldap
 * returns for a result) and decode the first match.
 *
 * Results (int): 0 success, LDAP_ENCODING_ERROR (-3), LDAP_DECODING_ERROR
 * (-4), LDAP_PARAM_ERROR (-9), LDAP_NO_MEMORY (-10), LDAP_CONTROL_NOT_FOUND
 * (-13).  Each function also stores its result as the session's result code
 * (LDAP_OPT_RESULT_CODE); a NULL session gives -9 and stores nothing.  When a
 * parser fails part-way, outputs already written keep their values and
 * strings already allocated belong to the caller.
 *
 * The records' member names (first, second; f0 ... f6) and layout are fixed
 * for binary compatibility with existing callers.
 *
 * Names shared with libldap: ldap_create_persistentsearch_control and
 * ldap_parse_entrychange_control are this library's own, with the signatures
 * below, which differ from libldap's functions of the same names.  A program
 * gets these when it includes <dirext.h> (or <dirext/controls.h>) before
 * <ldap.h> and links libdirext ahead of libldap; libldap's two prototypes are
 * then hidden, and the library's definitions carry the version DIREXT_0.
 */
#ifndef DIREXT_CONTROLS_H
#define DIREXT_CONTROLS_H

#include <stdint.h>

#include "common.h"

#if defined(DIREXT_LDAP_H_FIRST)
#error "include <dirext.h> (or <dirext/controls.h>) before <ldap.h>: libldap declares two of its names with other signatures"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Persistent search (2.16.840.1.113730.3.4.3): value SEQUENCE { INTEGER
 * change_types, BOOLEAN changes_only, BOOLEAN return_ecs }.  change_types is
 * a mask of LDAP_CONTROL_PERSIST_ENTRY_CHANGE_{ADD,DELETE,MODIFY,RENAME};
 * the control is critical when is_critical is non-zero. */
DIREXT_API int ldap_create_persistentsearch_control(LDAP *ld, int change_types, int changes_only,
                                                    int return_ecs, char is_critical, LDAPControl **out);

/* Entry change notification (2.16.840.1.113730.3.4.7), sent with each entry
 * of a persistent search.  change_type is required.  prev_dn may be NULL;
 * otherwise it receives the previous DN of a renamed entry, or NULL (release
 * with ldap_memfree).  change_number_present and change_number are given
 * both or neither; *change_number_present says whether *change_number was
 * set.  A change number counts only with the tag [0] (0x80). */
DIREXT_API int ldap_parse_entrychange_control(LDAP *ld, LDAPControl **ctrls, int *change_type, char **prev_dn,
                                              int *change_number_present, int *change_number);

/* Proxied authorisation (2.16.840.1.113730.3.4.18, RFC 4370), always
 * critical: the operation runs as authz_id ("dn:..." or "u:...", "" for
 * anonymous), whose bytes are the value as they are. */
DIREXT_API int ldap_create_proxyauth_control(LDAP *ld, const char *authz_id, LDAPControl **out);

/* Effective privileges (2.16.840.1.113719.1.27.101.33).  selector 0 or 1 is
 * sent alone; a larger one sends the items instead (then items must be
 * given): each as [0] first when first is set, else [1] second. */
typedef struct LDAPEffectivePrivilegesItem {
    const char *first;
    const char *second;
} LDAPEffectivePrivilegesItem;

DIREXT_API int ldap_create_geteffective_control(LDAP *ld, LDAPEffectivePrivilegesItem **items, int selector,
                                                int is_critical, LDAPControl **out);

/* Status (2.16.840.1.113719.1.27.101.40).  The request sends f0 ... f6 as
 * the BOOLEANs [0] ... [6]: a field that is 0 or 1 is sent (f2: any value
 * other than 0xFFFFFFFF, as TRUE unless 0), other values are left out, so
 * LDAPX_STATUS_UNSET leaves any field out. */
#define LDAPX_STATUS_UNSET 0xFFFFFFFFu
typedef struct LDAPStatusRequest {
    uint32_t f0, f1, f2, f3, f4, f5, f6;
} LDAPStatusRequest;

DIREXT_API int ldap_create_sstatus_control(LDAP *ld, const LDAPStatusRequest *status, int is_critical,
                                           LDAPControl **out);
/* The response's [0] ... [3] INTEGERs go to *value0 ... *value3; absent
 * ones leave their variable untouched, and a NULL pointer skips its number. */
DIREXT_API int ldap_parse_sstatus_control(LDAP *ld, LDAPControl **ctrls, int *value0, int *value1, int *value2,
                                          int *value3);

/* Reference (2.16.840.1.113719.1.1.5150.101.1): the request has no value.
 * The response is a SET of optional fields [1] s1, [2] i2, [3] s3, [4] i4,
 * [5] list5 (a NULL-terminated string array: ldap_value_free or
 * ber_memvfree), [6] s6 (strings: ldap_memfree).  Fields absent from the control leave their
 * variable untouched, and a NULL pointer skips its field.  A field sent twice
 * keeps the last value (the earlier one is released).  Elements with other
 * tags are skipped. */
DIREXT_API int ldap_create_reference_control(LDAP *ld, int is_critical, LDAPControl **out);
DIREXT_API int ldap_parse_reference_control(LDAP *ld, LDAPControl **ctrls, char **s1, int *i2, char **s3,
                                            int *i4, char ***list5, char **s6);

/*
 * Search by LDAP URL (RFC 4516) on the caller's session: the URL gives base
 * DN, scope, filter and attributes; its host and port are not used.
 *
 * The search is sent through libldap's ldap_search_ext(), so it is an
 * ordinary request of the session: its message id works with ldap_result()
 * and ldap_abandon(), libldap takes its own locks, and the session's
 * defaults apply (size and time limits, alias dereferencing, server
 * controls set with LDAP_OPT_SERVER_CONTROLS, referral chasing).
 *
 * ldap_url_search returns the message id, or -1 with the session's result
 * code saying why: LDAP_PARAM_ERROR for a URL that does not parse (or a NULL
 * session or URL), LDAP_NOT_SUPPORTED for a URL with a critical extension
 * ("!name"), which sends nothing; else libldap's code.  It never returns -2.
 *
 * ldap_url_search_st and ldap_url_search_s wait for the whole result and
 * return an LDAP result code: the search's, or the client error.  *res is
 * set (NULL on failure) and released by the caller with ldap_msgfree.
 * ldap_url_search_st gives up after *timeout (NULL: no limit): it then
 * abandons the request and returns LDAP_TIMEOUT (-5).
 */
DIREXT_API int ldap_url_search(LDAP *ld, const char *url, int attrsonly);
DIREXT_API int ldap_url_search_st(LDAP *ld, const char *url, int attrsonly, struct timeval *timeout,
                                  LDAPMessage **res);
DIREXT_API int ldap_url_search_s(LDAP *ld, const char *url, int attrsonly, LDAPMessage **res);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_CONTROLS_H */
