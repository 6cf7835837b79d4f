#include "core/result.h"

namespace dirext {

int store_result(LDAP *ld, int rc)
{
    // libldap keeps a result code only on a handle.
    if (ld) ldap_set_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
}

int stored_result(LDAP *ld)
{
    int rc = LDAP_OTHER;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
}

}  // namespace dirext
