/*
 * schema_browser: fetches a directory server's subschema and prints either one
 * element's fields, found by name or OID, or every element of one kind.
 *
 *   schema_browser [-D binddn -w password] ldap://host:port KIND [NAME-OR-OID]
 *
 * KIND is a subschema attribute name (attributeTypes, objectClasses,
 * ldapSyntaxes, matchingRules, matchingRuleUse, nameForms, dITContentRules,
 * dITStructureRules) or its number, 0 to 7.  Exit status: 0, 1 for a usage
 * error, 2 when the server or the lookup fails.
 */
#include <dirext.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

static const char *const kinds[] = {"attributeTypes",  "objectClasses",   "ldapSyntaxes",    "matchingRules",
                                    "matchingRuleUse", "nameForms",       "dITContentRules", "dITStructureRules"};

static int usage(void)
{
    fprintf(stderr, "usage: schema_browser [-D binddn -w password] ldap://host:port KIND [NAME-OR-OID]\n");
    return 1;
}

static int kind_of(const char *text)
{
    int kind;
    for (kind = 0; kind < LDAP_SCHEMA_KIND_COUNT; ++kind)
        if (strcasecmp(text, kinds[kind]) == 0) return kind;
    if (text[0] >= '0' && text[0] <= '7' && text[1] == '\0') return text[0] - '0';
    return -1;
}

/* One line per field: "NAME: cn, commonName"; flags print alone. */
static int print_fields(LDAPSchemaElement *element)
{
    char **names = NULL;
    int rc = ldap_schema_get_field_names(element, &names);
    int i, j;
    if (rc != LDAP_SUCCESS) return rc;
    for (i = 0; names[i]; ++i) {
        char **values = NULL;
        rc = ldap_schema_get_field_values(element, names[i], &values);
        if (rc != LDAP_SUCCESS) break;
        if (!values[0] || (values[0][0] == '\0' && !values[1])) {
            printf("%s\n", names[i]);
        } else {
            printf("%s:", names[i]);
            for (j = 0; values[j]; ++j) printf("%s %s", j ? "," : "", values[j]);
            printf("\n");
        }
        ber_memvfree((void **)values);
    }
    ber_memvfree((void **)names);
    return rc;
}

int main(int argc, char **argv)
{
    const char *bind_dn = NULL, *password = NULL, *url, *key;
    LDAP *ld = NULL;
    LDAPSubschema *schema = NULL;
    int version = LDAP_VERSION3;
    int arg = 1, kind, rc;

    while (arg + 1 < argc && argv[arg][0] == '-') {
        if (strcmp(argv[arg], "-D") == 0)
            bind_dn = argv[arg + 1];
        else if (strcmp(argv[arg], "-w") == 0)
            password = argv[arg + 1];
        else
            return usage();
        arg += 2;
    }
    if (argc - arg < 2 || argc - arg > 3) return usage();
    url = argv[arg];
    kind = kind_of(argv[arg + 1]);
    key = argc - arg == 3 ? argv[arg + 2] : NULL;
    if (kind < 0) return usage();

    if (ldap_initialize(&ld, url) != LDAP_SUCCESS) {
        fprintf(stderr, "schema_browser: cannot use %s\n", url);
        return 2;
    }
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    if (bind_dn) {
        struct berval cred;
        cred.bv_val = (char *)(password ? password : "");
        cred.bv_len = strlen(cred.bv_val);
        rc = ldap_sasl_bind_s(ld, bind_dn, LDAP_SASL_SIMPLE, &cred, NULL, NULL, NULL);
        if (rc != LDAP_SUCCESS) {
            fprintf(stderr, "schema_browser: bind: %s\n", ldap_err2string(rc));
            ldap_unbind_ext_s(ld, NULL, NULL);
            return 2;
        }
    }

    /* A null DN: the library asks the root DSE where the subschema is. */
    rc = ldap_schema_fetch(ld, &schema, NULL);
    if (rc != LDAP_SUCCESS) {
        fprintf(stderr, "schema_browser: fetch: %s\n", ldap_err2string(rc));
        ldap_unbind_ext_s(ld, NULL, NULL);
        return 2;
    }

    if (key) {
        LDAPSchemaElement *element = NULL;
        rc = ldap_schema_get_by_name(schema, key, kind, &element);
        if (rc == LDAP_SUCCESS) rc = print_fields(element);
        else fprintf(stderr, "schema_browser: %s: %s\n", key, ldap_err2string(rc));
    } else {
        int i, count = ldap_schema_get_count(schema, kind);
        for (i = 0; i < count && rc == LDAP_SUCCESS; ++i) {
            LDAPSchemaElement *element = NULL;
            char *text = NULL;
            rc = ldap_schema_get_by_index(schema, i, kind, &element);
            if (rc == LDAP_SUCCESS) rc = ldap_schema_element_to_string(element, &text, NULL);
            if (rc == LDAP_SUCCESS) printf("%s\n", text);
            ldap_memfree(text);
        }
    }

    ldap_schema_free(schema);
    ldap_unbind_ext_s(ld, NULL, NULL);
    return rc == LDAP_SUCCESS ? 0 : 2;
}
