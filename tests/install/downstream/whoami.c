/*
 * A program of a library user, built outside the project against the
 * installed library: binds, asks the server who it is bound as, and says
 * which TLS package the libldap it runs on was built with.
 *
 *   whoami URL BIND-DN PASSWORD
 */
#include <dirext.h> /* before <ldap.h>, which it includes */

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s URL BIND-DN PASSWORD\n", argv[0]);
        return 2;
    }
    char *package = NULL;
    if (ldap_get_option(NULL, LDAP_OPT_X_TLS_PACKAGE, &package) != LDAP_OPT_SUCCESS || package == NULL) {
        fprintf(stderr, "libldap has no TLS package\n");
        return 1;
    }
    printf("libldap TLS: %s\n", package);
    ldap_memfree(package);

    LDAP *ld = NULL;
    if (ldap_initialize(&ld, argv[1]) != LDAP_SUCCESS) return 1;
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    struct berval password = {strlen(argv[3]), argv[3]};
    int rc = ldap_sasl_bind_s(ld, argv[2], LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL);
    char *dn = NULL; /* ldapx_memfree */
    if (rc == LDAP_SUCCESS) rc = ldap_get_bind_dn(ld, &dn);
    if (rc == LDAP_SUCCESS) printf("bound as: %s\n", dn);
    else fprintf(stderr, "%s\n", ldap_err2string(rc));
    ldapx_memfree(dn);
    ldap_unbind_ext_s(ld, NULL, NULL);
    return rc == LDAP_SUCCESS ? 0 : 1;
}
