/*
 * libdirext: the directory's management extended operations.
 *
 * Each function sends one extended request on the caller's session and waits
 * for its answer (ldap_extended_operation_s, under the time limit set on the
 * handle).  Results: 0 on success, the server's result code (positive) or
 * libldap's client error (negative) unchanged, and the library's own codes:
 *   LDAP_OPERATIONS_ERROR (1)  the answer carried no value where outputs exist;
 *                              the outputs are left untouched
 *   LDAP_ENCODING_ERROR  (-3)  the request cannot be encoded (a null string
 *                              where a value must be sent), or the answer's value
 *                              does not decode
 *   LDAP_DECODING_ERROR  (-4)  the answer does not decode (replication filter
 *                              reader, backup)
 *   LDAP_PARAM_ERROR     (-9)  a required argument is null; nothing was sent
 *   LDAP_NO_MEMORY      (-10)  an allocation failed
 *   LDAP_NOT_SUPPORTED  (-12)  the answer had no response name, or another one
 *
 * A null session handle, or a null pointer where an output is to be stored,
 * gives LDAP_PARAM_ERROR before anything is sent.
 *
 * Ownership: arguments are only read.  String arrays returned by
 * ldap_list_replicas are released with ldap_value_free (which libldap 2.5
 * declares only under LDAP_DEPRECATED) or its equivalent
 * ber_memvfree((void **)array); strings and buffers
 * marked "ldapx_memfree" below are plain malloc blocks released with
 * ldapx_memfree.
 */
#ifndef DIREXT_EXTOPS_H
#define DIREXT_EXTOPS_H

#include <stdint.h>

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Length of the dn member of ReplicaInfo, terminator included. */
#define LDAPX_DN_WIDTH 772

/* Filled by ldap_get_replica_info; the caller allocates it.  Its member
 * names and layout are fixed for binary compatibility with existing callers. */
typedef struct ReplicaInfo {
    int leadingValue1;
    int leadingValue2;
    int leadingValue3;
    int leadingValue4;
    int leadingValue5;
    char dn[LDAPX_DN_WIDTH]; /* cut at 771 bytes, always NUL-terminated */
    int trailingValue1;
    int trailingValue2;
} ReplicaInfo;

/* Partitions.  dn names a partition by its root entry, serverDN a server
 * object; flags and value are passed to the server as they are. */
DIREXT_API int ldap_split_partition(LDAP *ld, const char *dn, int flags);
DIREXT_API int ldap_merge_partitions(LDAP *ld, const char *dn, int flags);
DIREXT_API int ldap_partition_entry_count(LDAP *ld, const char *dn, int *count);
DIREXT_API int ldap_abort_partition_operation(LDAP *ld, const char *dn, int flags);
DIREXT_API int ldap_request_partition_sync(LDAP *ld, const char *serverDN, const char *dn, int value);
DIREXT_API int ldap_request_schema_sync(LDAP *ld, const char *serverDN, int value);
DIREXT_API int ldap_split_orphan_partition(LDAP *ld, const char *serverDN, const char *dn);
DIREXT_API int ldap_remove_orphan_partition(LDAP *ld, const char *serverDN, const char *dn);

/* The same operations under their naming-context names. */
DIREXT_API int ldap_create_naming_context(LDAP *ld, const char *dn, int flags);
DIREXT_API int ldap_merge_naming_contexts(LDAP *ld, const char *dn, int flags);
DIREXT_API int ldap_naming_context_entry_count(LDAP *ld, const char *dn, int *count);
DIREXT_API int ldap_abort_naming_context_operation(LDAP *ld, const char *dn, int flags);
DIREXT_API int ldap_request_naming_context_sync(LDAP *ld, const char *serverDN, const char *dn, int value);
DIREXT_API int ldap_create_orphan_naming_context(LDAP *ld, const char *serverDN, const char *dn);
DIREXT_API int ldap_remove_orphan_naming_context(LDAP *ld, const char *serverDN, const char *dn);

/* Replicas of the partition rooted at dn. */
DIREXT_API int ldap_add_replica(LDAP *ld, const char *dn, const char *serverDN, int replicaType, int flags);
DIREXT_API int ldap_remove_replica(LDAP *ld, const char *dn, const char *serverDN, int flags);
DIREXT_API int ldap_change_replica_type(LDAP *ld, const char *dn, const char *serverDN, int replicaType,
                                        int flags);
DIREXT_API int ldap_get_replica_info(LDAP *ld, const char *dn, const char *serverDN, ReplicaInfo *info);
/* *names: NULL-terminated array (NULL when the list is empty); ldap_value_free
 * or ber_memvfree. */
DIREXT_API int ldap_list_replicas(LDAP *ld, const char *dn, char ***names);
/* dn and serverDN required; a null reserved is sent as "unusedParam". */
DIREXT_API int ldap_receive_all_updates(LDAP *ld, const char *dn, const char *serverDN, const char *reserved);
/* A null serverDN is sent as the empty string. */
DIREXT_API int ldap_send_all_updates(LDAP *ld, const char *dn, const char *serverDN);

/* Replication filter text: per object class "class$attr$...$$", then a final
 * "$"; e.g. "person$cn$sn$$organization$$$".  The empty filter is "$".
 * Malformed text gives LDAP_PARAM_ERROR and sends nothing. */
DIREXT_API int ldap_set_replication_filter(LDAP *ld, const char *serverDN, const char *filter);
/* *filter: ldapx_memfree.  After LDAP_DECODING_ERROR it may hold the classes
 * read so far and still belongs to the caller. */
DIREXT_API int ldap_get_replication_filter(LDAP *ld, const char *serverDN, char **filter);

/* Identity, privileges and name conversion.  Returned strings: ldapx_memfree.
 * A bind DN of 772 bytes or more is returned cut to its first 770 bytes. */
DIREXT_API int ldap_get_bind_dn(LDAP *ld, char **dn);
DIREXT_API int ldap_get_context_identity_name(LDAP *ld, char **dn);
DIREXT_API int ldap_get_effective_privileges(LDAP *ld, const char *firstDN, const char *secondDN,
                                             const char *attributeName, int *privileges);
/* attributeNames: NULL-terminated; privileges: one slot per name. */
DIREXT_API int ldap_get_effective_privileges_list(LDAP *ld, const char *firstDN, const char *secondDN,
                                                  char **attributeNames, int *privileges);
/* name: zero-terminated 16-bit code units in host byte order. */
DIREXT_API int ldap_quor_to_ldap(LDAP *ld, const uint16_t *name, char **dn);
DIREXT_API int ldap_dns_to_x500_dn(LDAP *ld, const char *dnsName, char **dn);

/* Server refresh and background processes. */
DIREXT_API int ldap_refresh_server(LDAP *ld);
DIREXT_API int wrapper_ldap_trigger_backlink(LDAP *ld);
DIREXT_API int wrapper_ldap_trigger_janitor(LDAP *ld);
/* serverDN may be null: the request then carries no value. */
DIREXT_API int wrapper_ldap_trigger_limber(LDAP *ld, const char *serverDN);
DIREXT_API int wrapper_ldap_trigger_skulker(LDAP *ld);
DIREXT_API int wrapper_ldap_trigger_schema_sync(LDAP *ld);
DIREXT_API int wrapper_ldap_trigger_partition_purge(LDAP *ld);

/* Background processes for ldap_trigger_back_process, each the same as the
 * wrapper_ldap_trigger_ function of its name. */
#define LDAPX_TRIGGER_BACKLINK 1
#define LDAPX_TRIGGER_JANITOR 2
#define LDAPX_TRIGGER_LIMBER 3
#define LDAPX_TRIGGER_SKULKER 4
#define LDAPX_TRIGGER_SCHEMA_SYNC 5
#define LDAPX_TRIGGER_PARTITION_PURGE 6
/* process: one of LDAPX_TRIGGER_*; anything else gives LDAP_PARAM_ERROR.
 * serverDN is used by the limber trigger only. */
DIREXT_API int ldap_trigger_back_process(LDAP *ld, unsigned int process, const char *serverDN);

/*
 * Object backup and restore.  Both store their result in the handle
 * (LDAP_OPT_RESULT_CODE), except LDAP_PARAM_ERROR, an early LDAP_NO_MEMORY and
 * an invalid state text.
 *
 * *state is the continuation state "n+m" (two non-zero integers), or NULL
 * before the first backup; a successful backup replaces it (the old text is
 * freed; release the last one with ldapx_memfree).  On success *data (size
 * bytes) and *chunkList ("count;n1;n2;...;") are new blocks for ldapx_memfree;
 * on failure the outputs are left as they were.  A null extra is sent as "".
 */
DIREXT_API int ldap_backup_object(LDAP *ld, const char *dn, const char *extra, char **state, char **data,
                                  char **chunkList, int *size);
/* dn, data and chunkList required; size bytes of data are sent. */
DIREXT_API int ldap_restore_object(LDAP *ld, const char *dn, const char *extra, const char *data,
                                   const char *chunkList, int size);

/* Reads the next element of ber whatever its tag into a new NUL-terminated
 * buffer (*buffer, released with ber_memfree).  Returns the element's tag, or
 * LBER_ERROR ((ber_tag_t)-1) with *buffer NULL when there is no complete
 * element or memory runs out. */
DIREXT_API ber_tag_t get_returnedBuffer(BerElement *ber, char **buffer);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_EXTOPS_H */
