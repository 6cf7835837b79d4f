// Server refresh and the background-process triggers.
#include "extops/runner.h"

using namespace dirext::extops;

namespace {

// Without a server DN the request carries no value.
int trigger_limber(LDAP *ld, const char *serverDN)
{
    if (!serverDN) return call_without_value<Op::TriggerLimber>(ld);
    return call<Op::TriggerLimber>(ld, nullptr, serverDN);
}

}  // namespace

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
    return trigger_limber(ld, serverDN);
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
    case LDAPX_TRIGGER_BACKLINK: return call_without_value<Op::TriggerBacklink>(ld);
    case LDAPX_TRIGGER_JANITOR: return call_without_value<Op::TriggerJanitor>(ld);
    case LDAPX_TRIGGER_LIMBER: return trigger_limber(ld, serverDN);
    case LDAPX_TRIGGER_SKULKER: return call_without_value<Op::TriggerSkulker>(ld);
    case LDAPX_TRIGGER_SCHEMA_SYNC: return call_without_value<Op::TriggerSchemaSync>(ld);
    case LDAPX_TRIGGER_PARTITION_PURGE: return call_without_value<Op::TriggerPartitionPurge>(ld);
    default: return LDAP_PARAM_ERROR;
    }
}

}  // extern "C"
