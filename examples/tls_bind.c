/*
 * tls_bind: a simple bind over ldaps://, trusting one CA certificate file.
 *
 *   tls_bind HOST PORT CA-FILE BIND-DN PASSWORD
 *
 * CA-FILE is PEM (one or more certificates) or DER.  A server certificate that
 * does not verify against it is shown and refused.
 */
#include <dirext.h> /* before <ldap.h>, which it includes */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Asked about a certificate that failed verification: show it, refuse it. */
static int show_and_refuse(void *cert_handle)
{
    char subject[512] = "", issuer[512] = "";
    int len, error = 0;

    len = sizeof subject - 1; /* the last byte stays 0: always terminated */
    ldapssl_get_cert_attribute(cert_handle, LDAPSSL_CERT_SUBJECT, subject, &len);
    len = sizeof issuer - 1;
    ldapssl_get_cert_attribute(cert_handle, LDAPSSL_CERT_ISSUER, issuer, &len);
    len = sizeof error;
    ldapssl_get_cert_attribute(cert_handle, LDAPSSL_CERT_VERIFY_ERROR, &error, &len);
    printf("certificate refused: %s\n  subject: %s\n  issuer:  %s\n",
           X509_verify_cert_error_string(error), subject, issuer);
    return 1; /* 0 would accept it */
}

int main(int argc, char **argv)
{
    LDAP *ld;
    struct berval password;
    int version = LDAP_VERSION3, rc;

    if (argc != 6) {
        fprintf(stderr, "usage: %s HOST PORT CA-FILE BIND-DN PASSWORD\n", argv[0]);
        return 2;
    }
    rc = ldapssl_client_init(NULL, NULL);
    if (rc != 0) {
        fprintf(stderr, "ldapssl_client_init: %d\n", rc);
        return 1;
    }
    if (ldapssl_add_trusted_cert(argv[3], LDAPSSL_CERT_FILE_PEM) != 0 &&
        ldapssl_add_trusted_cert(argv[3], LDAPSSL_CERT_FILE_DER) != 0) {
        fprintf(stderr, "%s: no certificate\n", argv[3]);
        ldapssl_client_deinit();
        return 1;
    }
    ldapssl_set_verify_callback(show_and_refuse);

    ld = ldapssl_init(argv[1], atoi(argv[2]), 1);
    if (ld == NULL) {
        fprintf(stderr, "ldapssl_init failed\n");
        ldapssl_client_deinit();
        return 1;
    }
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    password.bv_val = argv[5];
    password.bv_len = strlen(argv[5]);
    rc = ldap_sasl_bind_s(ld, argv[4], LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL);
    printf("bind: %s\n", ldap_err2string(rc));

    ldap_unbind_ext_s(ld, NULL, NULL);
    ldapssl_client_deinit();
    return rc == LDAP_SUCCESS ? 0 : 1;
}
