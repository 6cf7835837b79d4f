// Replica operations.
#include <cstring>

#include "core/handles.h"
#include "extops/codecs.h"
#include "extops/runner.h"

namespace dirext::extops {

int decode_replica_info(BerElement *ber, ReplicaInfo *info)
{
    char *raw = nullptr;
    int rc = scan<Op::GetReplicaInfo>(ber, &info->leadingValue1, &info->leadingValue2, &info->leadingValue3,
                                      &info->leadingValue4, &info->leadingValue5, &raw, &info->trailingValue1,
                                      &info->trailingValue2);
    LdapStringPtr dn(raw);
    if (rc != LDAP_SUCCESS) return rc;
    if (dn) {
        std::size_t n = strnlen(dn.get(), sizeof info->dn - 1);
        std::memcpy(info->dn, dn.get(), n);
        info->dn[n] = '\0';
    }
    return LDAP_SUCCESS;
}

int decode_replica_list(BerElement *ber, char ***names)
{
    char **raw = nullptr;
    int rc = scan<Op::ListReplicas>(ber, &raw);
    if (rc == LDAP_SUCCESS) *names = raw;
    return rc;
}

}  // namespace dirext::extops

using namespace dirext::extops;

extern "C" {

int ldap_add_replica(LDAP *ld, const char *dn, const char *serverDN, int replicaType, int flags)
{
    return call<Op::AddReplica>(ld, nullptr, flags, replicaType, serverDN, dn);
}

int ldap_remove_replica(LDAP *ld, const char *dn, const char *serverDN, int flags)
{
    return call<Op::RemoveReplica>(ld, nullptr, flags, serverDN, dn);
}

int ldap_change_replica_type(LDAP *ld, const char *dn, const char *serverDN, int replicaType, int flags)
{
    return call<Op::ChangeReplicaType>(ld, nullptr, flags, replicaType, serverDN, dn);
}

int ldap_get_replica_info(LDAP *ld, const char *dn, const char *serverDN, ReplicaInfo *info)
{
    if (!info) return LDAP_PARAM_ERROR;
    return call<Op::GetReplicaInfo>(
        ld, [info](BerElement *ber) { return decode_replica_info(ber, info); }, serverDN, dn);
}

int ldap_list_replicas(LDAP *ld, const char *dn, char ***names)
{
    if (!names) return LDAP_PARAM_ERROR;
    return call<Op::ListReplicas>(
        ld, [names](BerElement *ber) { return decode_replica_list(ber, names); }, dn);
}

int ldap_receive_all_updates(LDAP *ld, const char *dn, const char *serverDN, const char *reserved)
{
    if (!dn || !serverDN) return LDAP_PARAM_ERROR;
    return call<Op::ReceiveAllUpdates>(ld, nullptr, dn, serverDN, reserved ? reserved : "unusedParam");
}

int ldap_send_all_updates(LDAP *ld, const char *dn, const char *serverDN)
{
    return call<Op::SendAllUpdates>(ld, nullptr, dn, serverDN ? serverDN : "");
}

}  // extern "C"
