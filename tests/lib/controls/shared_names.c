/*
 * A C program that includes the library's header and links the library gets
 * the library's ldap_create_persistentsearch_control and
 * ldap_parse_entrychange_control, with the library's signatures, although
 * libldap (loaded too) defines functions of the same names.
 */
#define _GNU_SOURCE
#include <dirext.h>

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

static int failures;

static void check(int ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

static void check_home(void *function, const char *name)
{
    Dl_info info;
    char what[160];
    snprintf(what, sizeof what, "%s is defined in libdirext", name);
    check(dladdr(function, &info) && info.dli_fname && strstr(info.dli_fname, "libdirext.so") != NULL, what);
    snprintf(what, sizeof what, "libldap's %s is another function", name);
    void *theirs = dlvsym(RTLD_DEFAULT, name, "OPENLDAP_2.5");
    check(theirs != NULL && theirs != function, what);
}

int main(void)
{
    check_home((void *)&ldap_create_persistentsearch_control, "ldap_create_persistentsearch_control");
    check_home((void *)&ldap_parse_entrychange_control, "ldap_parse_entrychange_control");

    LDAP *ld = NULL;
    if (ldap_initialize(&ld, "ldap://127.0.0.1:9") != LDAP_SUCCESS) return 2;

    /* libldap's creator would stop at an assertion for a null session. */
    LDAPControl *control = NULL;
    check(ldap_create_persistentsearch_control(NULL, 15, 1, 0, 1, &control) == LDAP_PARAM_ERROR,
          "null session refused");
    check(ldap_create_persistentsearch_control(ld, 15, 1, 0, 1, &control) == LDAP_SUCCESS, "create");
    static const char expected[] = "\x30\x09\x02\x01\x0f\x01\x01\xff\x01\x01\x00";
    check(control && control->ldctl_value.bv_len == 11 &&
              memcmp(control->ldctl_value.bv_val, expected, 11) == 0 && control->ldctl_iscritical,
          "persistent-search value");
    ldap_control_free(control);

    /* The parser takes the array of controls, not one control, and gives
     * the previous DN as a string. */
    static char value[] = "\x30\x0e\x0a\x01\x08\x04\x06" "cn=old" "\x80\x01\x07";
    char oid[] = "2.16.840.1.113730.3.4.7";
    LDAPControl change = {oid, {sizeof value - 1, value}, 0};
    LDAPControl *list[] = {&change, NULL};
    int type = 0, present = 0, number = 0;
    char *prev = NULL;
    check(ldap_parse_entrychange_control(ld, list, &type, &prev, &present, &number) == LDAP_SUCCESS, "parse");
    check(type == 8 && prev && strcmp(prev, "cn=old") == 0 && present == 1 && number == 7, "entry-change fields");
    ldap_memfree(prev);

    ldap_unbind_ext(ld, NULL, NULL);
    if (failures == 0) printf("the library's definitions are the ones bound\n");
    return failures ? 1 : 0;
}
