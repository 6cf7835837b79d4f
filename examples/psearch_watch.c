/*
 * psearch_watch: print the changes under a base DN as a persistent search
 * reports them, until COUNT changes were seen (default: no limit) or the
 * program is interrupted (SIGINT, SIGTERM).
 *
 *   psearch_watch URL BIND-DN PASSWORD BASE [COUNT]
 *
 * The search covers the subtree under BASE and asks for adds, deletes,
 * modifications and renames, changes only, with entry-change notifications.
 * Standard output, one line per change:
 *
 *   watching ou=people,o=lab
 *   add cn=Dana,ou=people,o=lab (change 12)
 *   moddn cn=Dana Ross,ou=people,o=lab from cn=Dana,ou=people,o=lab (change 13)
 *
 * ("(change N)" only when the server numbers its changes).  On the way out
 * the search is abandoned.  Exit status 0, or 2 for a usage or connection
 * error or a search the server refuses (explained on standard error).
 */
#define _POSIX_C_SOURCE 200809L /* sigaction */

#include <dirext.h> /* before <ldap.h>, which it includes */

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int sig)
{
    (void)sig;
    stop_requested = 1;
}

static const char *change_name(int type)
{
    switch (type) {
    case LDAP_CONTROL_PERSIST_ENTRY_CHANGE_ADD:
        return "add";
    case LDAP_CONTROL_PERSIST_ENTRY_CHANGE_DELETE:
        return "delete";
    case LDAP_CONTROL_PERSIST_ENTRY_CHANGE_MODIFY:
        return "modify";
    case LDAP_CONTROL_PERSIST_ENTRY_CHANGE_RENAME:
        return "moddn";
    default:
        return "change";
    }
}

/* Prints one entry of the search; 1 when it was a change. */
static int print_change(LDAP *ld, LDAPMessage *entry)
{
    LDAPControl **controls = NULL;
    char *dn = ldap_get_dn(ld, entry), *previous = NULL;
    int type = 0, present = 0, number = 0, rc;

    ldap_get_entry_controls(ld, entry, &controls);
    rc = ldap_parse_entrychange_control(ld, controls, &type, &previous, &present, &number);
    if (rc == LDAP_SUCCESS) {
        printf("%s %s", change_name(type), dn ? dn : "");
        if (previous) printf(" from %s", previous);
        if (present) printf(" (change %d)", number);
        printf("\n");
        fflush(stdout);
    }
    ldap_memfree(previous);
    ldap_controls_free(controls);
    ldap_memfree(dn);
    return rc == LDAP_SUCCESS;
}

int main(int argc, char **argv)
{
    LDAP *ld = NULL;
    LDAPControl *psearch = NULL;
    LDAPControl *server_controls[2] = {NULL, NULL};
    struct berval password;
    struct sigaction action;
    long limit = -1;
    int seen = 0, msgid = -1, rc, status = 0, version = LDAP_VERSION3;

    if (argc != 5 && argc != 6) {
        fprintf(stderr, "usage: psearch_watch URL BIND-DN PASSWORD BASE [COUNT]\n");
        return 2;
    }
    if (argc == 6) {
        char *end = NULL;
        limit = strtol(argv[5], &end, 10);
        if (*argv[5] == '\0' || *end != '\0' || limit < 1) {
            fprintf(stderr, "psearch_watch: COUNT must be a positive number\n");
            return 2;
        }
    }
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGTERM, &action, NULL);

    password.bv_val = argv[3];
    password.bv_len = strlen(argv[3]);
    if (ldap_initialize(&ld, argv[1]) != LDAP_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_sasl_bind_s(ld, argv[2], LDAP_SASL_SIMPLE, &password, NULL, NULL, NULL) != LDAP_SUCCESS) {
        fprintf(stderr, "psearch_watch: cannot bind to %s as %s\n", argv[1], argv[2]);
        status = 2;
        goto done;
    }
    rc = ldap_create_persistentsearch_control(
        ld,
        LDAP_CONTROL_PERSIST_ENTRY_CHANGE_ADD | LDAP_CONTROL_PERSIST_ENTRY_CHANGE_DELETE |
            LDAP_CONTROL_PERSIST_ENTRY_CHANGE_MODIFY | LDAP_CONTROL_PERSIST_ENTRY_CHANGE_RENAME,
        1, 1, 1, &psearch);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "psearch_watch: %s\n", ldap_err2string(rc));
        status = 2;
        goto done;
    }
    server_controls[0] = psearch;
    rc = ldap_search_ext(ld, argv[4], LDAP_SCOPE_SUBTREE, "(objectClass=*)", NULL, 0, server_controls, NULL, NULL,
                         0, &msgid);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "psearch_watch: search: %s\n", ldap_err2string(rc));
        status = 2;
        goto done;
    }
    printf("watching %s\n", argv[4]);
    fflush(stdout);

    while (!stop_requested && (limit < 0 || seen < limit)) {
        LDAPMessage *res = NULL;
        struct timeval poll = {0, 200 * 1000}; /* look at the stop flag now and then */
        rc = ldap_result(ld, msgid, LDAP_MSG_ONE, &poll, &res);
        if (rc == 0) continue;
        if (rc < 0) {
            int code = LDAP_OTHER;
            ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
            if (stop_requested) break; /* interrupted while waiting */
            fprintf(stderr, "psearch_watch: %s\n", ldap_err2string(code));
            status = 2;
            break;
        }
        if (rc == LDAP_RES_SEARCH_ENTRY) {
            seen += print_change(ld, res);
        } else if (rc == LDAP_RES_SEARCH_RESULT) {
            /* A persistent search ends only when the server refuses or stops it. */
            int code = LDAP_OTHER;
            char *message = NULL;
            ldap_parse_result(ld, res, &code, NULL, &message, NULL, NULL, 0);
            fprintf(stderr, "psearch_watch: the search ended: %s (%d)%s%s\n", ldap_err2string(code), code,
                    message && *message ? ": " : "", message ? message : "");
            ldap_memfree(message);
            msgid = -1;
            status = 2;
        }
        ldap_msgfree(res);
        if (msgid < 0) break;
    }
    if (msgid >= 0) ldap_abandon_ext(ld, msgid, NULL, NULL);

done:
    ldap_control_free(psearch);
    if (ld) ldap_unbind_ext(ld, NULL, NULL);
    return status;
}
