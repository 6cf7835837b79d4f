/*
 * replicas: list the replicas of a partition and print each one's
 * information.
 *
 *   replicas URL BIND-DN PASSWORD PARTITION-DN
 *
 * PARTITION-DN is the DN of the partition's root entry.  For each server that
 * holds a replica, prints the server's DN and what the server reports about
 * its replica: the DN of the partition it belongs to and the seven numbers
 * of the information record (partition ID, state, modification time, purge
 * time, local partition ID, replica type, replica number on the directory
 * simulator).
 */
#include <dirext.h> /* before <ldap.h>, which it includes */

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: %s URL BIND-DN PASSWORD PARTITION-DN\n", argv[0]);
        return 2;
    }
    const char *partition = argv[4];

    LDAP *ld = NULL;
    int rc = ldap_initialize(&ld, argv[1]);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "ldap_initialize: %s\n", ldap_err2string(rc));
        return 1;
    }
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    struct berval password = {strlen(argv[3]), argv[3]};
    rc = ldap_sasl_bind_s(ld, argv[2], LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "bind: %s\n", ldap_err2string(rc));
        ldap_unbind_ext_s(ld, NULL, NULL);
        return 1;
    }

    char **servers = NULL; /* released with ber_memvfree (libldap's ldap_value_free) */
    rc = ldap_list_replicas(ld, partition, &servers);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "ldap_list_replicas: %s\n", ldap_err2string(rc));
    } else if (servers == NULL) {
        printf("%s has no replicas\n", partition);
    }
    for (char **server = servers; server != NULL && *server != NULL; ++server) {
        ReplicaInfo info; /* the caller's record; the library fills it */
        int info_rc = ldap_get_replica_info(ld, partition, *server, &info);
        if (info_rc != LDAP_SUCCESS) {
            printf("%s: %s\n", *server, ldap_err2string(info_rc));
            continue;
        }
        printf("%s\n  partition %s\n  values %d %d %d %d %d %d %d\n", *server, info.dn, info.leadingValue1,
               info.leadingValue2, info.leadingValue3, info.leadingValue4, info.leadingValue5, info.trailingValue1,
               info.trailingValue2);
    }
    ber_memvfree((void **)servers);

    ldap_unbind_ext_s(ld, NULL, NULL);
    return rc == LDAP_SUCCESS ? 0 : 1;
}
