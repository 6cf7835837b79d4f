/*
 * digest_bind: a SASL DIGEST-MD5 bind in two steps.  The first shows the
 * realms the server offers; the second sends the response for the chosen
 * realm and checks that the server knows the password too (rspauth).
 *
 *   digest_bind URL USER PASSWORD [REALM-NUMBER]
 *
 * REALM-NUMBER counts from 1 in the list printed (default 1).
 * Exit status: 0 bound, 1 bind failed, 2 usage.
 */
#include <dirext.h> /* before <ldap.h>, which it includes */

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    LDAP *ld = NULL;
    DigestMD5Context *ctx = NULL;
    char **realms = NULL;
    int version = LDAP_VERSION3, rc, count = 0, choice = 1;

    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: %s URL USER PASSWORD [REALM-NUMBER]\n", argv[0]);
        return 2;
    }
    if (argc == 5) choice = atoi(argv[4]);

    rc = ldap_initialize(&ld, argv[1]);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "%s: %s\n", argv[1], ldap_err2string(rc));
        return 1;
    }
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);

    /* Step 1: fetch and check the server's challenge. */
    rc = ldap_bind_digest_md5_start(ld, &ctx);
    if (rc != 0) {
        fprintf(stderr, "no usable DIGEST-MD5 challenge: %d (%s)\n", rc,
                rc > 1000 ? "challenge refused" : ldap_err2string(rc));
        ldap_unbind_ext_s(ld, NULL, NULL);
        return 1;
    }
    rc = ldap_get_digest_md5_realms(ctx, &realms);
    if (rc == 0) {
        printf("realms offered:\n");
        for (count = 0; realms[count]; ++count) printf("  %d. %s\n", count + 1, realms[count]);
        if (count == 0) printf("  (none)\n");
    }
    if (choice < 1 || choice > count) {
        fprintf(stderr, "no realm number %d\n", choice);
        /* Cancelling releases the context and restarts the exchange. */
        ldap_bind_digest_md5_finish(&ctx, NULL, NULL, 0, 0, DIGEST_MD5_CANCEL);
        ldap_unbind_ext_s(ld, NULL, NULL);
        return 1;
    }

    /* Step 2: answer for the chosen realm.  The context, and the realm
     * array with it, is consumed. */
    printf("answering for realm %s\n", realms[choice - 1]);
    rc = ldap_bind_digest_md5_finish(&ctx, argv[2], argv[3], -1, choice - 1, DIGEST_MD5_PROCEED);
    if (ctx) /* only when waiting for the answer failed */
        ldap_bind_digest_md5_finish(&ctx, NULL, NULL, 0, 0, DIGEST_MD5_CANCEL);
    if (rc == 0)
        printf("bound as %s; the server proved its identity\n", argv[2]);
    else if (rc == LDAP_INVALID_CREDENTIALS)
        printf("bind refused (49): wrong user or password, or the server could not prove its identity\n");
    else
        printf("bind failed: %d (%s)\n", rc, ldap_err2string(rc));
    ldap_unbind_ext_s(ld, NULL, NULL);
    return rc == 0 ? 0 : 1;
}
