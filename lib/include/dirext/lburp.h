/*
 * libdirext: LDAP Bulk Update/Replication Protocol (LBURP, RFC 4373).
 *
 * A bulk update is a start request, any number of numbered update requests
 * each carrying a list of operations, and an end request.  The three requests
 * are asynchronous: each returns a message id through *msgid; the caller
 * collects the answer with ldap_result() and hands it to the matching parse
 * function.  The library keeps no state between the calls: sequence numbers
 * and message ids are the caller's.
 *
 *   ldap_lburp_start_request        -> ldap_parse_lburp_start_response
 *                                       (learn maxOperations)
 *   ldap_lburp_operation_request    -> ldap_parse_lburp_operation_response
 *     (at most maxOperations operations each, as often as needed)
 *   ldap_lburp_end_request          -> ldap_parse_lburp_end_response
 *
 * Results (int): 0 success; libldap's codes passed through (the server's
 * result code of a response is given through *errcode, not as the result);
 * and the library's own:
 *   LDAP_ENCODING_ERROR  (-3)  a request cannot be encoded; nothing was sent
 *   LDAP_DECODING_ERROR  (-4)  a response value does not decode
 *   LDAP_PARAM_ERROR     (-9)  a required argument is null; nothing was sent
 *   LDAP_NO_MEMORY      (-10)  an allocation failed
 *   LDAP_NOT_SUPPORTED  (-12)  an operation type outside the four below
 *                              (nothing sent), or a response without the
 *                              expected response name
 * Every request and parse function also stores its result as the session's
 * result code (ldap_get_option(ld, LDAP_OPT_RESULT_CODE, ...)), except when
 * the session is null, or a request's encoder cannot be allocated.
 *
 * Parse functions: errcode and errmsg may be null; *errmsg is released with
 * ldap_memfree.  With freeIt non-zero the message is released whatever the
 * outcome (also when an argument is refused).
 */
#ifndef DIREXT_LBURP_H
#define DIREXT_LBURP_H

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Operation types: the LDAP protocol-operation tags (libldap's LDAP_REQ_*). */
#define LBURP_OP_ADD 0x68    /* LDAP_REQ_ADD */
#define LBURP_OP_DELETE 0x4a /* LDAP_REQ_DELETE */
#define LBURP_OP_MODIFY 0x66 /* LDAP_REQ_MODIFY */
#define LBURP_OP_MODDN 0x6c  /* LDAP_REQ_MODDN */

/*
 * One operation of an update request.
 *
 *   type      one of the four LBURP_OP_* values
 *   dn        the entry the operation acts on
 *   changes   add:       LDAPMod ** (NULL-terminated attributes)
 *             modify:    LDAPMod ** (NULL-terminated modifications)
 *             delete:    not used
 *             modify DN: char *, the new RDN
 *   controls  NULL-terminated controls for this one operation, or NULL
 *
 * A modify DN needs two more values; they follow as trailing members, which
 * the other three types ignore (zero-initialise the record, and a modify DN
 * keeps the old RDN's values and the entry's superior):
 *   newSuperior   the new parent's DN, or NULL to keep the parent
 *   deleteOldRDN  non-zero to remove the old RDN's values from the entry
 *
 * In LDAPMod, mod_op's bit LDAP_MOD_BVALUES (0x80) selects mod_bvalues
 * (counted values) over mod_values (strings); the rest is the modification
 * kind (LDAP_MOD_ADD, LDAP_MOD_DELETE, LDAP_MOD_REPLACE), unused for an add.
 */
typedef struct LBURPOperation {
    int type;
    const char *dn;
    void *changes;
    LDAPControl **controls;
    const char *newSuperior;
    int deleteOldRDN;
} LBURPOperation;

/*
 * One failed operation reported by an update response.  The list is one
 * malloc block released with ldapx_memfree; each diagnosticMessage (may be
 * NULL) with ldap_memfree first.
 */
typedef struct LBURPFailedOperation {
    int operationNumber; /* the server's number for the operation */
    int resultCode;      /* its LDAP result code */
    char *diagnosticMessage;
} LBURPFailedOperation;

/* Start: the request value names the update style RFC 4373 calls
 * "2.16.840.1.113719.1.142.1.4.2".  On success *maxOperations receives the
 * server's limit of operations per update request; when the response carries
 * no value it is left untouched (initialise it). */
DIREXT_API int ldap_lburp_start_request(LDAP *ld, int *msgid);
DIREXT_API int ldap_parse_lburp_start_response(LDAP *ld, LDAPMessage *result, int *errcode,
                                               char **errmsg, int *maxOperations, int freeIt);

/* Update: sequenceNumber is sent as given; operations is a NULL-terminated
 * array (not itself NULL; no operations is an array of one NULL).
 * The response's failure list: *failedCount entries in *failedOperations
 * (NULL when none).  On any failure the list is NULL and the count 0; a
 * failure that libldap reports as LDAP_OTHER (80) is returned as 0 with that
 * empty list.  The server's own result code arrives in *errcode, with the
 * list intact. */
DIREXT_API int ldap_lburp_operation_request(LDAP *ld, int sequenceNumber, LBURPOperation **operations,
                                            int *msgid);
DIREXT_API int ldap_parse_lburp_operation_response(LDAP *ld, LDAPMessage *result, int *errcode,
                                                   char **errmsg, int *failedCount,
                                                   LBURPFailedOperation **failedOperations, int freeIt);

/* End: sequenceNumber is sent as given; a value in the response is ignored. */
DIREXT_API int ldap_lburp_end_request(LDAP *ld, int sequenceNumber, int *msgid);
DIREXT_API int ldap_parse_lburp_end_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg,
                                             int freeIt);

/*
 * Operation encoders: each appends one operation (SEQUENCE { request
 * [, [0] Controls] }) to the open element ber; ld is not used.  They return
 * 0, or on failure a non-zero code after releasing ber (ber_free(ber, 1)):
 * LDAP_ENCODING_ERROR when writing fails, LDAP_PARAM_ERROR when dn, the
 * attribute or modification array, an attribute name, newRDN or a control's
 * OID is NULL.  A NULL ber gives LDAP_PARAM_ERROR and releases nothing.
 */
DIREXT_API int LBURPEncodeAdd(LDAP *ld, const char *dn, LDAPMod **attributes, LDAPControl **controls,
                              BerElement *ber);
DIREXT_API int LBURPEncodeDelete(LDAP *ld, const char *dn, LDAPControl **controls, BerElement *ber);
DIREXT_API int LBURPEncodeMod(LDAP *ld, const char *dn, LDAPMod **modifications, LDAPControl **controls,
                              BerElement *ber);
DIREXT_API int LBURPEncodeModRDN(LDAP *ld, const char *dn, const char *newRDN, const char *newSuperior,
                                 int deleteOldRDN, LDAPControl **controls, BerElement *ber);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_LBURP_H */
