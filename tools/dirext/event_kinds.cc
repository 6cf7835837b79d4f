#include "event_kinds.h"

#include <cstddef>

namespace dirext_cli {
namespace {

#define AT(R, m) offsetof(R, m)
using M = Member;
constexpr bool kNotOnText = false;

constexpr MemberRow kEntry[] = {
    {"string1", M::kString, AT(EntryEventData, string1)}, {"string2", M::kString, AT(EntryEventData, string2)},
    {"string3", M::kString, AT(EntryEventData, string3)}, {"integer1", M::kInt, AT(EntryEventData, integer1)},
    {"integer2", M::kInt, AT(EntryEventData, integer2)},  {"triple", M::kTriple, AT(EntryEventData, triple)},
    {"data", M::kString, AT(EntryEventData, data)}};
constexpr MemberRow kValue[] = {
    {"integer1", M::kInt, AT(ValueEventData, integer1)}, {"string1", M::kString, AT(ValueEventData, string1)},
    {"string2", M::kString, AT(ValueEventData, string2)}, {"string3", M::kString, AT(ValueEventData, string3)},
    {"string4", M::kString, AT(ValueEventData, string4)}, {"string5", M::kString, AT(ValueEventData, string5)},
    {"triple", M::kTriple, AT(ValueEventData, triple)},
    {"data", M::kData, AT(ValueEventData, data), true, AT(ValueEventData, dataLength)}};
constexpr MemberRow kGeneral[] = {
    {"integer1", M::kInt, AT(GeneralEventData, integer1)}, {"integer2", M::kInt, AT(GeneralEventData, integer2)},
    {"integer3", M::kInt, AT(GeneralEventData, integer3)}, {"integer4", M::kInt, AT(GeneralEventData, integer4)},
    {"string1", M::kString, AT(GeneralEventData, string1)},
    {"int_values", M::kInts4, AT(GeneralEventData, intValues)},
    {"str_values", M::kStrings4, AT(GeneralEventData, strValues)}};
constexpr MemberRow kBindery[] = {
    {"string1", M::kString, AT(BinderyEventData, string1)}, {"integer1", M::kInt, AT(BinderyEventData, integer1)},
    {"integer2", M::kInt, AT(BinderyEventData, integer2)},  {"integer3", M::kInt, AT(BinderyEventData, integer3)},
    {"string2", M::kString, AT(BinderyEventData, string2)}};
constexpr MemberRow kSev[] = {
    {"string1", M::kString, AT(SEVEventData, string1)}, {"integer1", M::kInt, AT(SEVEventData, integer1)},
    {"string2", M::kString, AT(SEVEventData, string2)},
    {"referrals", M::kReferrals, AT(SEVEventData, referrals), true, AT(SEVEventData, referralCount)}};
constexpr MemberRow kModuleState[] = {
    {"string1", M::kString, AT(ModuleStateEventData, string1)},
    {"integer1", M::kInt, AT(ModuleStateEventData, integer1)},
    {"string2", M::kString, AT(ModuleStateEventData, string2)},
    {"short_text", M::kText, AT(ModuleStateEventData, shortText)},
    {"long_text", M::kText, AT(ModuleStateEventData, longText)}};
constexpr MemberRow kNetAddress[] = {
    {"net_address_type", M::kInt, AT(NetAddrEventData, type)},
    {"net_address", M::kBytes, AT(NetAddrEventData, address), true, AT(NetAddrEventData, length)}};
constexpr MemberRow kConnectionState[] = {
    {"string1", M::kString, AT(ConnectionStateData, string1)},
    {"integer1", M::kInt, AT(ConnectionStateData, integer1)},
    {"integer2", M::kInt, AT(ConnectionStateData, integer2)},
    {"string2", M::kString, AT(ConnectionStateData, string2)}};
constexpr MemberRow kServerAddress[] = {
    {"integer1", M::kInt, AT(ChangeServerAddressData, integer1)},
    {"integer2", M::kInt, AT(ChangeServerAddressData, integer2)},
    {"integer3", M::kInt, AT(ChangeServerAddressData, integer3)},
    {"data", M::kData, AT(ChangeServerAddressData, data), true, AT(ChangeServerAddressData, dataLength)},
    {"string1", M::kString, AT(ChangeServerAddressData, string1)},
    {"string2", M::kString, AT(ChangeServerAddressData, string2)}};
constexpr MemberRow kConfigParam[] = {
    {"param_type", M::kInt, AT(ChangeConfigParamData, paramType)},
    {"param_name", M::kString, AT(ChangeConfigParamData, paramName)},
    {"int_value", M::kInt, AT(ChangeConfigParamData, intValue)},
    {"str_value", M::kString, AT(ChangeConfigParamData, strValue)},
    {"data", M::kData, AT(ChangeConfigParamData, data), true, AT(ChangeConfigParamData, dataLength)}};
constexpr MemberRow kStatusLog[] = {
    {"integer1", M::kInt, AT(StatusLogEventData, integer1)}, {"string1", M::kString, AT(StatusLogEventData, string1)},
    {"string2", M::kString, AT(StatusLogEventData, string2)}, {"string3", M::kString, AT(StatusLogEventData, string3)},
    {"string4", M::kString, AT(StatusLogEventData, string4)}, {"string5", M::kString, AT(StatusLogEventData, string5)},
    {"string6", M::kString, AT(StatusLogEventData, string6)}};
constexpr MemberRow kDebug[] = {
    {"integer1", M::kInt, AT(DebugEventData, integer1)}, {"integer2", M::kInt, AT(DebugEventData, integer2)},
    {"string1", M::kString, AT(DebugEventData, string1)}, {"string2", M::kString, AT(DebugEventData, string2)},
    {"integer3", M::kInt, AT(DebugEventData, integer3)},
    {"params", M::kParams, AT(DebugEventData, params), true, AT(DebugEventData, paramCount)}};

// The operation events: names as the server fills the members.
constexpr MemberRow kAuth[] = {
    {"connection", M::kConnection, AT(AuthEventData, connection)},
    {"version", M::kInt, AT(AuthEventData, integer1), kNotOnText},
    {"result_code", M::kInt, AT(AuthEventData, integer2), kNotOnText},
    {"dn", M::kString, AT(AuthEventData, string1)},
    {"method", M::kInt, AT(AuthEventData, integer3)},
    {"mechanism", M::kString, AT(AuthEventData, string2)},
    {"list1", M::kList, AT(AuthEventData, list1)},
    {"integer4", M::kInt, AT(AuthEventData, integer4), kNotOnText}};
constexpr MemberRow kConnectionEvent[] = {
    {"connection", M::kInt, AT(ConnectionEventData, integer1)},
    {"opened", M::kInt, AT(ConnectionEventData, integer2)},
    {"remote_address", M::kString, AT(ConnectionEventData, string1)}};
constexpr MemberRow kSearch[] = {
    {"connection", M::kConnection, AT(SearchEventData, connection)},
    {"scope", M::kInt, AT(SearchEventData, integer1)},
    {"result_code", M::kInt, AT(SearchEventData, integer2), kNotOnText},
    {"base", M::kString, AT(SearchEventData, string1)},
    {"filter", M::kString, AT(SearchEventData, string2)},
    {"integer3", M::kInt, AT(SearchEventData, integer3), kNotOnText},
    {"diagnostic", M::kString, AT(SearchEventData, string3)},
    {"attributes", M::kList, AT(SearchEventData, list1)},
    {"list2", M::kList, AT(SearchEventData, list2)},
    {"integer4", M::kInt, AT(SearchEventData, integer4), kNotOnText}};
constexpr MemberRow kSearchEntry[] = {
    {"connection", M::kConnection, AT(SearchEntryResponseEventData, connection)},
    {"integer1", M::kInt, AT(SearchEntryResponseEventData, integer1)},
    {"integer2", M::kInt, AT(SearchEntryResponseEventData, integer2)},
    {"string1", M::kString, AT(SearchEntryResponseEventData, string1)},
    {"string2", M::kString, AT(SearchEntryResponseEventData, string2)},
    {"list1", M::kList, AT(SearchEntryResponseEventData, list1)},
    {"integer3", M::kInt, AT(SearchEntryResponseEventData, integer3)}};
constexpr MemberRow kUpdate[] = {
    {"connection", M::kConnection, AT(UpdateEventData, connection)},
    {"operation", M::kOperation, AT(UpdateEventData, integer1)},
    {"result_code", M::kInt, AT(UpdateEventData, integer2), kNotOnText},
    {"attribute_count", M::kInt, AT(UpdateEventData, integer3), kNotOnText},
    {"dn", M::kString, AT(UpdateEventData, string1)},
    {"matched_dn", M::kString, AT(UpdateEventData, string2)},
    {"diagnostic", M::kString, AT(UpdateEventData, string3)},
    {"attributes", M::kList, AT(UpdateEventData, list1)},
    {"integer4", M::kInt, AT(UpdateEventData, integer4), kNotOnText}};
constexpr MemberRow kCompare[] = {
    {"connection", M::kConnection, AT(CompareEventData, connection)},
    {"integer1", M::kInt, AT(CompareEventData, integer1), kNotOnText},
    {"result_code", M::kInt, AT(CompareEventData, integer2), kNotOnText},
    {"dn", M::kString, AT(CompareEventData, string1)},
    {"attribute", M::kString, AT(CompareEventData, string2)},
    {"value", M::kString, AT(CompareEventData, string3)},
    {"matched_dn", M::kString, AT(CompareEventData, string4)},
    {"diagnostic", M::kString, AT(CompareEventData, string5)},
    {"integer3", M::kInt, AT(CompareEventData, integer3), kNotOnText}};
constexpr MemberRow kModDn[] = {
    {"connection", M::kConnection, AT(ModDNEventData, connection)},
    {"delete_old_rdn", M::kInt, AT(ModDNEventData, integer1)},
    {"result_code", M::kInt, AT(ModDNEventData, integer2), kNotOnText},
    {"dn", M::kString, AT(ModDNEventData, string1)},
    {"new_rdn", M::kString, AT(ModDNEventData, string2)},
    {"new_superior", M::kString, AT(ModDNEventData, string3)},
    {"diagnostic", M::kString, AT(ModDNEventData, string4)},
    {"list1", M::kList, AT(ModDNEventData, list1)},
    {"integer3", M::kInt, AT(ModDNEventData, integer3), kNotOnText}};
constexpr MemberRow kAbandon[] = {
    {"connection", M::kConnection, AT(AbandonEventData, connection)},
    {"abandoned_message_id", M::kInt, AT(AbandonEventData, integer1)},
    {"integer2", M::kInt, AT(AbandonEventData, integer2), kNotOnText},
    {"integer3", M::kInt, AT(AbandonEventData, integer3), kNotOnText},
    {"string1", M::kString, AT(AbandonEventData, string1)},
    {"integer4", M::kInt, AT(AbandonEventData, integer4), kNotOnText}};
constexpr MemberRow kExtOp[] = {
    {"connection", M::kConnection, AT(ExtOpEventData, connection)},
    {"integer1", M::kInt, AT(ExtOpEventData, integer1), kNotOnText},
    {"result_code", M::kInt, AT(ExtOpEventData, integer2), kNotOnText},
    {"value_length", M::kInt, AT(ExtOpEventData, integer3), kNotOnText},
    {"request_name", M::kString, AT(ExtOpEventData, string1)},
    {"response_name", M::kString, AT(ExtOpEventData, string2)},
    {"integer4", M::kInt, AT(ExtOpEventData, integer4), kNotOnText}};
constexpr MemberRow kSysExtOp[] = {
    {"connection", M::kConnection, AT(SysExtOpEventData, connection)},
    {"integer1", M::kInt, AT(SysExtOpEventData, integer1)}, {"integer2", M::kInt, AT(SysExtOpEventData, integer2)},
    {"integer3", M::kInt, AT(SysExtOpEventData, integer3)}, {"string1", M::kString, AT(SysExtOpEventData, string1)},
    {"string2", M::kString, AT(SysExtOpEventData, string2)}, {"string3", M::kString, AT(SysExtOpEventData, string3)},
    {"string4", M::kString, AT(SysExtOpEventData, string4)}, {"string5", M::kString, AT(SysExtOpEventData, string5)},
    {"string6", M::kString, AT(SysExtOpEventData, string6)}, {"integer4", M::kInt, AT(SysExtOpEventData, integer4)}};
constexpr MemberRow kResponse[] = {
    {"connection", M::kConnection, AT(ResponseEventData, connection)},
    {"integer1", M::kInt, AT(ResponseEventData, integer1)}, {"integer2", M::kInt, AT(ResponseEventData, integer2)},
    {"integer3", M::kInt, AT(ResponseEventData, integer3)}, {"integer4", M::kInt, AT(ResponseEventData, integer4)},
    {"string1", M::kString, AT(ResponseEventData, string1)}, {"list1", M::kList, AT(ResponseEventData, list1)}};
constexpr MemberRow kPasswordModify[] = {
    {"connection", M::kConnection, AT(PasswordModifyData, connection)},
    {"integer1", M::kInt, AT(PasswordModifyData, integer1)}, {"integer2", M::kInt, AT(PasswordModifyData, integer2)},
    {"string1", M::kString, AT(PasswordModifyData, string1)}, {"string2", M::kString, AT(PasswordModifyData, string2)},
    {"integer3", M::kInt, AT(PasswordModifyData, integer3)}, {"integer4", M::kInt, AT(PasswordModifyData, integer4)}};
constexpr MemberRow kUnknownOp[] = {
    {"integer1", M::kInt, AT(UnknownOpData, integer1)}, {"string1", M::kString, AT(UnknownOpData, string1)}};
#undef AT

constexpr KindRow kKinds[] = {
    {DIREXT_EVENT_ENTRY, "entry", kEntry},
    {DIREXT_EVENT_VALUE, "value", kValue},
    {DIREXT_EVENT_GENERAL, "general", kGeneral},
    {DIREXT_EVENT_BINDERY, "bindery", kBindery},
    {DIREXT_EVENT_SEV, "sev", kSev},
    {DIREXT_EVENT_MODULE_STATE, "module_state", kModuleState},
    {DIREXT_EVENT_NET_ADDRESS, "net_address", kNetAddress},
    {DIREXT_EVENT_CONNECTION_STATE, "connection_state", kConnectionState},
    {DIREXT_EVENT_CHANGE_SERVER_ADDRESS, "change_server_address", kServerAddress},
    {DIREXT_EVENT_CHANGE_CONFIG_PARAM, "change_config_param", kConfigParam},
    {DIREXT_EVENT_STATUS_LOG, "status_log", kStatusLog},
    {DIREXT_EVENT_DEBUG, "debug", kDebug},
    {DIREXT_EVENT_AUTH, "auth", kAuth},
    {DIREXT_EVENT_CONNECTION, "connection", kConnectionEvent},
    {DIREXT_EVENT_SEARCH, "search", kSearch},
    {DIREXT_EVENT_SEARCH_ENTRY_RESPONSE, "search_entry_response", kSearchEntry},
    {DIREXT_EVENT_UPDATE, "update", kUpdate},
    {DIREXT_EVENT_COMPARE, "compare", kCompare},
    {DIREXT_EVENT_MODDN, "moddn", kModDn},
    {DIREXT_EVENT_ABANDON, "abandon", kAbandon},
    {DIREXT_EVENT_EXTOP, "extop", kExtOp},
    {DIREXT_EVENT_SYS_EXTOP, "sys_extop", kSysExtOp},
    {DIREXT_EVENT_RESPONSE, "response", kResponse},
    {DIREXT_EVENT_PASSWORD_MODIFY, "password_modify", kPasswordModify},
    {DIREXT_EVENT_UNKNOWN_OP, "unknown_op", kUnknownOp},
};

}  // namespace

const MemberRow kAddressBytes = kNetAddress[1];

const KindRow *event_kind(const void *record)
{
    if (!record) return nullptr;
    for (const auto &row : kKinds)
        if (row.kind == DIREXT_EVENT_KIND(record)) return &row;
    return nullptr;
}

}  // namespace dirext_cli
