/* The schema header as strict C99, after and before <ldap_schema.h>: the
 * shared names are declared alike in both. */
#include <ldap_schema.h>
#include <dirext/schema.h>
#include <ldap_schema.h>

#include <stddef.h>

int main(void)
{
    int code = 0;
    const char *errp = NULL;
    LDAPAttributeType *at = ldap_str2attributetype("( 1.2.3 NAME 'x' )", &code, &errp, LDAP_SCHEMA_ALLOW_NONE);
    LDAPDITContentRule *cr = ldap_str2ditcontentrule("( 1.2.3 )", &code, &errp, 0);
    LDAPSubschema *schema = NULL;
    int ok = at && cr && ldap_schema_get_count(schema, LDAP_SCHEMA_ATTRIBUTE_TYPE) == -1 &&
             ldap_scherr2str(LDAP_SCHERR_DUPOPT)[0] == 'D';
    ldap_attributetype_free(at);
    ldap_ditcontentrule_free(cr);
    return ok ? 0 : 1;
}
