// Server refresh and the background-process triggers.
#include "extops/skeleton.h"

using namespace dirext::extops;

extern "C" {

int ldap_refresh_server(LDAP *ld)
{
    return call_without_value<Op::RefreshServer>(ld);
}

int wrapper_ldap_trigger_backlink(LDAP *ld)
{
    return call_without_value<Op::TriggerBacklink>(ld);
}

int wrapper_ldap_trigger_janitor(LDAP *ld)
{
    return call_without_value<Op::TriggerJanitor>(ld);
}

int wrapper_ldap_trigger_limber(LDAP *ld, const char *serverDN)
{
    if (!serverDN) return call_without_value<Op::TriggerLimber>(ld);
    return call<Op::TriggerLimber>(ld, nullptr, serverDN);
}

int wrapper_ldap_trigger_skulker(LDAP *ld)
{
    return call_without_value<Op::TriggerSkulker>(ld);
}

int wrapper_ldap_trigger_schema_sync(LDAP *ld)
{
    return call_without_value<Op::TriggerSchemaSync>(ld);
}

int wrapper_ldap_trigger_partition_purge(LDAP *ld)
{
    return call_without_value<Op::TriggerPartitionPurge>(ld);
}

int ldap_trigger_back_process(LDAP *ld, unsigned int process, const char *serverDN)
{
    switch (process) {
    case LDAPX_TRIGGER_BACKLINK: return wrapper_ldap_trigger_backlink(ld);
    case LDAPX_TRIGGER_JANITOR: return wrapper_ldap_trigger_janitor(ld);
    case LDAPX_TRIGGER_LIMBER: return wrapper_ldap_trigger_limber(ld, serverDN);
    case LDAPX_TRIGGER_SKULKER: return wrapper_ldap_trigger_skulker(ld);
    case LDAPX_TRIGGER_SCHEMA_SYNC: return wrapper_ldap_trigger_schema_sync(ld);
    case LDAPX_TRIGGER_PARTITION_PURGE: return wrapper_ldap_trigger_partition_purge(ld);
    default: return LDAP_PARAM_ERROR;
    }
}

}  // extern "C"
