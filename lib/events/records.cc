// The description of every record kind, and allocation and release of
// records.  A record is one malloc block behind a 64-bit kind word.
#include "events/records.h"

#include "core/alloc.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <type_traits>

namespace dirext::events {
namespace {

constexpr std::size_t kHeader = sizeof(int64_t);

// The member's offset, after checking at compile time that it has the type
// the field's operation writes.
template <typename Member, typename Expected>
consteval uint16_t member_at(std::size_t offset)
{
    static_assert(std::is_same_v<Member, Expected>, "field operation does not fit the member's type");
    return static_cast<uint16_t>(offset);
}
#define AT(R, m, T) member_at<decltype(R::m), T>(offsetof(R, m))

#define INT(R, m) Field{.op = Op::Int, .at = AT(R, m, int32_t)}
#define STR(R, m) Field{.op = Op::String, .tag = kTagOctetString, .at = AT(R, m, char *)}
#define STR_TAGGED(R, m, t) Field{.op = Op::String, .tag = (t), .at = AT(R, m, char *)}
#define TRIPLE(R, m) Field{.op = Op::Triple, .at = AT(R, m, EventTriple)}
#define CONNECTION(R) Field{.op = Op::Connection, .at = AT(R, connection, ConnectionData *)}
#define LIST(R, m) Field{.op = Op::List, .at = AT(R, m, char **)}
#define LIST_TAGGED(R, m, t) Field{.op = Op::TaggedList, .tag = (t), .at = AT(R, m, char **)}

constexpr Field kEntry[] = {
    STR(EntryEventData, string1),
    STR(EntryEventData, string2),
    STR(EntryEventData, string3),
    TRIPLE(EntryEventData, triple),
    INT(EntryEventData, integer1),
    INT(EntryEventData, integer2),
    {.op = Op::OptionalData, .tag = kTagOctetString, .at = AT(EntryEventData, data, char *)},
};

constexpr Field kValue[] = {
    STR(ValueEventData, string1),
    STR(ValueEventData, string2),
    STR(ValueEventData, string3),
    STR(ValueEventData, string4),
    STR(ValueEventData, string5),
    TRIPLE(ValueEventData, triple),
    {.op = Op::OptionalData,
     .tag = kTagOctetString,
     .at = AT(ValueEventData, data, char *),
     .at2 = AT(ValueEventData, dataLength, int32_t)},
    {.op = Op::TaggedInt, .tag = kTagInteger, .at = AT(ValueEventData, integer1, int32_t)},
};

// The third and fourth integers on the wire are declared the other way round.
constexpr Field kGeneral[] = {
    INT(GeneralEventData, integer1),
    INT(GeneralEventData, integer2),
    INT(GeneralEventData, integer3),
    INT(GeneralEventData, integer4),
    STR_TAGGED(GeneralEventData, string1, 0x85),
    {.op = Op::IntGroup, .tag = 0x86, .at = AT(GeneralEventData, intValues, int32_t[4])},
    {.op = Op::StringGroup, .tag = 0xa7, .at = AT(GeneralEventData, strValues, char *[4])},
};

constexpr Field kBindery[] = {
    STR(BinderyEventData, string1), INT(BinderyEventData, integer1), INT(BinderyEventData, integer2),
    INT(BinderyEventData, integer3), STR(BinderyEventData, string2),
};

constexpr Field kSev[] = {
    STR(SEVEventData, string1),
    INT(SEVEventData, integer1),
    STR(SEVEventData, string2),
    {.op = Op::Referrals,
     .at = AT(SEVEventData, referrals, ReferralAddress *),
     .at2 = AT(SEVEventData, referralCount, int32_t)},
};

constexpr Field kModuleState[] = {
    STR(ModuleStateEventData, string1),
    INT(ModuleStateEventData, integer1),
    {.op = Op::Text, .at = AT(ModuleStateEventData, shortText, char[32]), .min = 1, .size = 32},
    {.op = Op::Text, .at = AT(ModuleStateEventData, longText, char[128]), .min = 0, .size = 128},
    STR(ModuleStateEventData, string2),
};

constexpr Field kConnectionState[] = {
    STR(ConnectionStateData, string1),
    INT(ConnectionStateData, integer1),
    INT(ConnectionStateData, integer2),
    STR(ConnectionStateData, string2),
};

constexpr Field kChangeServerAddress[] = {
    INT(ChangeServerAddressData, integer1),
    INT(ChangeServerAddressData, integer2),
    INT(ChangeServerAddressData, integer3),
    {.op = Op::Data,
     .tag = kTagOctetString,
     .at = AT(ChangeServerAddressData, data, char *),
     .at2 = AT(ChangeServerAddressData, dataLength, int32_t)},
    STR(ChangeServerAddressData, string1),
    STR(ChangeServerAddressData, string2),
};

constexpr Field kChangeConfigParam[] = {
    INT(ChangeConfigParamData, paramType),
    STR(ChangeConfigParamData, paramName),
    {.op = Op::ConfigValue},
};

constexpr Field kStatusLog[] = {
    INT(StatusLogEventData, integer1), STR(StatusLogEventData, string1), STR(StatusLogEventData, string2),
    STR(StatusLogEventData, string3),  STR(StatusLogEventData, string4), STR(StatusLogEventData, string5),
    STR(StatusLogEventData, string6),
};

constexpr Field kDebug[] = {
    INT(DebugEventData, integer1), INT(DebugEventData, integer2),   STR(DebugEventData, string1),
    STR(DebugEventData, string2),  INT(DebugEventData, integer3),   INT(DebugEventData, paramCount),
    {.op = Op::DebugParams},
};

constexpr Field kAuth[] = {
    CONNECTION(AuthEventData),         INT(AuthEventData, integer1), INT(AuthEventData, integer2),
    STR(AuthEventData, string1),       INT(AuthEventData, integer3), STR(AuthEventData, string2),
    INT(AuthEventData, integer4),      LIST_TAGGED(AuthEventData, list1, 0x80),
};

constexpr Field kConnection[] = {
    INT(ConnectionEventData, integer1),
    INT(ConnectionEventData, integer2),
    STR(ConnectionEventData, string1),
};

constexpr Field kSearch[] = {
    CONNECTION(SearchEventData),   INT(SearchEventData, integer1), INT(SearchEventData, integer2),
    STR(SearchEventData, string1), STR(SearchEventData, string2),  INT(SearchEventData, integer3),
    STR(SearchEventData, string3), INT(SearchEventData, integer4), LIST(SearchEventData, list1),
    LIST_TAGGED(SearchEventData, list2, 0x80),
};

constexpr Field kSearchEntryResponse[] = {
    CONNECTION(SearchEntryResponseEventData),   INT(SearchEntryResponseEventData, integer1),
    INT(SearchEntryResponseEventData, integer2), STR(SearchEntryResponseEventData, string1),
    STR(SearchEntryResponseEventData, string2),  INT(SearchEntryResponseEventData, integer3),
    LIST(SearchEntryResponseEventData, list1),
};

constexpr Field kUpdate[] = {
    CONNECTION(UpdateEventData),   INT(UpdateEventData, integer1), INT(UpdateEventData, integer2),
    INT(UpdateEventData, integer3), STR(UpdateEventData, string1), STR(UpdateEventData, string2),
    STR(UpdateEventData, string3), INT(UpdateEventData, integer4), LIST_TAGGED(UpdateEventData, list1, 0x80),
};

constexpr Field kCompare[] = {
    CONNECTION(CompareEventData),   INT(CompareEventData, integer1), INT(CompareEventData, integer2),
    STR(CompareEventData, string1), STR(CompareEventData, string2),  STR(CompareEventData, string3),
    STR(CompareEventData, string4), STR(CompareEventData, string5),  INT(CompareEventData, integer3),
};

constexpr Field kModDn[] = {
    CONNECTION(ModDNEventData),   INT(ModDNEventData, integer1), INT(ModDNEventData, integer2),
    STR(ModDNEventData, string1), STR(ModDNEventData, string2),  STR(ModDNEventData, string3),
    STR(ModDNEventData, string4), INT(ModDNEventData, integer3), LIST_TAGGED(ModDNEventData, list1, 0x80),
};

constexpr Field kAbandon[] = {
    CONNECTION(AbandonEventData),    INT(AbandonEventData, integer1), INT(AbandonEventData, integer2),
    INT(AbandonEventData, integer3), STR(AbandonEventData, string1),  INT(AbandonEventData, integer4),
};

constexpr Field kExtOp[] = {
    CONNECTION(ExtOpEventData),    INT(ExtOpEventData, integer1), INT(ExtOpEventData, integer2),
    INT(ExtOpEventData, integer3), STR(ExtOpEventData, string1),  STR(ExtOpEventData, string2),
    INT(ExtOpEventData, integer4),
};

constexpr Field kSysExtOp[] = {
    CONNECTION(SysExtOpEventData),   INT(SysExtOpEventData, integer1), INT(SysExtOpEventData, integer2),
    INT(SysExtOpEventData, integer3), STR(SysExtOpEventData, string1), STR(SysExtOpEventData, string2),
    STR(SysExtOpEventData, string3), STR(SysExtOpEventData, string4),  STR(SysExtOpEventData, string5),
    STR(SysExtOpEventData, string6), INT(SysExtOpEventData, integer4),
};

constexpr Field kResponse[] = {
    CONNECTION(ResponseEventData),    INT(ResponseEventData, integer1), INT(ResponseEventData, integer2),
    INT(ResponseEventData, integer3), INT(ResponseEventData, integer4), STR(ResponseEventData, string1),
    LIST_TAGGED(ResponseEventData, list1, 0x81),
};

constexpr Field kPasswordModify[] = {
    CONNECTION(PasswordModifyData),   INT(PasswordModifyData, integer1), INT(PasswordModifyData, integer2),
    STR(PasswordModifyData, string1), STR(PasswordModifyData, string2),  INT(PasswordModifyData, integer3),
    INT(PasswordModifyData, integer4),
};

constexpr Field kUnknownOp[] = {
    INT(UnknownOpData, integer1),
    STR(UnknownOpData, string1),
};

#undef INT
#undef STR
#undef STR_TAGGED
#undef TRIPLE
#undef CONNECTION
#undef LIST
#undef LIST_TAGGED
#undef AT

template <typename R, std::size_t N>
constexpr Record describe(long kind, const char *name, const Field (&fields)[N])
{
    return Record{.kind = kind, .name = name, .size = sizeof(R), .fields = fields};
}

constexpr long kFirstKind = DIREXT_EVENT_ENTRY;
constexpr long kLastKind = DIREXT_EVENT_UNKNOWN_OP;

// Indexed by kind - kFirstKind.  Kinds without a record to decode (104, whose
// body is a network address, and 106, 107, 110) stay empty; skulk (100) is
// a record kind that yields no record.
constexpr auto kRecords = [] {
    std::array<Record, kLastKind - kFirstKind + 1> table{};
    auto put = [&](const Record &r) { table[r.kind - kFirstKind] = r; };
    put(describe<EntryEventData>(DIREXT_EVENT_ENTRY, "EntryEventData", kEntry));
    put(describe<ValueEventData>(DIREXT_EVENT_VALUE, "ValueEventData", kValue));
    put(describe<GeneralEventData>(DIREXT_EVENT_GENERAL, "GeneralEventData", kGeneral));
    put(Record{.kind = DIREXT_EVENT_SKULK, .name = "skulk", .size = 0, .trailing_address = false});
    put(describe<BinderyEventData>(DIREXT_EVENT_BINDERY, "BinderyEventData", kBindery));
    put(describe<SEVEventData>(DIREXT_EVENT_SEV, "SEVEventData", kSev));
    put(describe<ModuleStateEventData>(DIREXT_EVENT_MODULE_STATE, "ModuleStateEventData", kModuleState));
    put(describe<ConnectionStateData>(DIREXT_EVENT_CONNECTION_STATE, "ConnectionStateData", kConnectionState));
    put(describe<ChangeServerAddressData>(DIREXT_EVENT_CHANGE_SERVER_ADDRESS, "ChangeServerAddressData",
                                          kChangeServerAddress));
    put(describe<ChangeConfigParamData>(DIREXT_EVENT_CHANGE_CONFIG_PARAM, "ChangeConfigParamData",
                                        kChangeConfigParam));
    put(describe<StatusLogEventData>(DIREXT_EVENT_STATUS_LOG, "StatusLogEventData", kStatusLog));
    put(describe<DebugEventData>(DIREXT_EVENT_DEBUG, "DebugEventData", kDebug));
    put(describe<AuthEventData>(DIREXT_EVENT_AUTH, "AuthEventData", kAuth));
    put(describe<ConnectionEventData>(DIREXT_EVENT_CONNECTION, "ConnectionEventData", kConnection));
    put(describe<SearchEventData>(DIREXT_EVENT_SEARCH, "SearchEventData", kSearch));
    put(describe<SearchEntryResponseEventData>(DIREXT_EVENT_SEARCH_ENTRY_RESPONSE,
                                               "SearchEntryResponseEventData", kSearchEntryResponse));
    put(describe<UpdateEventData>(DIREXT_EVENT_UPDATE, "UpdateEventData", kUpdate));
    put(describe<CompareEventData>(DIREXT_EVENT_COMPARE, "CompareEventData", kCompare));
    put(describe<ModDNEventData>(DIREXT_EVENT_MODDN, "ModDNEventData", kModDn));
    put(describe<AbandonEventData>(DIREXT_EVENT_ABANDON, "AbandonEventData", kAbandon));
    put(describe<ExtOpEventData>(DIREXT_EVENT_EXTOP, "ExtOpEventData", kExtOp));
    put(describe<SysExtOpEventData>(DIREXT_EVENT_SYS_EXTOP, "SysExtOpEventData", kSysExtOp));
    put(describe<ResponseEventData>(DIREXT_EVENT_RESPONSE, "ResponseEventData", kResponse));
    put(describe<PasswordModifyData>(DIREXT_EVENT_PASSWORD_MODIFY, "PasswordModifyData", kPasswordModify));
    put(describe<UnknownOpData>(DIREXT_EVENT_UNKNOWN_OP, "UnknownOpData", kUnknownOp));
    return table;
}();

// Every member a description names lies inside its record.
consteval bool fields_inside_records()
{
    for (const Record &r : kRecords)
        for (const Field &f : r.fields)
            if (f.at >= r.size || (f.at2 != kNoMember && f.at2 >= r.size)) return false;
    return true;
}
static_assert(fields_inside_records());

void release_params(DebugEventData &debug)
{
    if (!debug.params) return;
    for (int32_t i = 0; i < debug.paramCount; ++i) {
        DebugParameter &p = debug.params[i];
        std::free(p.strValue);
        std::free(p.data);
        std::free(p.triples);
    }
    std::free(debug.params);
}

}  // namespace

const Record *record_for(long kind)
{
    if (kind < kFirstKind || kind > kLastKind) return nullptr;
    const Record &r = kRecords[kind - kFirstKind];
    if (!r.name) return nullptr;
    EVENTS_ASSERT(r.kind == kind);
    return &r;
}

void release_members(const Record &desc, void *record)
{
    for (const Field &f : desc.fields) {
        switch (f.op) {
        case Op::Int:
        case Op::TaggedInt:
        case Op::Triple:
        case Op::IntGroup:
        case Op::Text:
            break;
        case Op::String:
        case Op::OptionalData:
        case Op::Data:
            std::free(member<char *>(record, f.at));
            break;
        case Op::Connection:
            free_connection_data(member<ConnectionData *>(record, f.at));
            break;
        case Op::List:
        case Op::TaggedList:
            free_string_list(member<char **>(record, f.at));
            break;
        case Op::Referrals:
            free_referral_list(member<int32_t>(record, f.at2), member<ReferralAddress *>(record, f.at));
            break;
        case Op::StringGroup:
            for (char *s : member<char *[4]>(record, f.at)) std::free(s);
            break;
        case Op::ConfigValue: {
            // Only the member the type uses is set; the others are null.
            auto &config = *static_cast<ChangeConfigParamData *>(record);
            std::free(config.strValue);
            std::free(config.data);
            break;
        }
        case Op::DebugParams:
            release_params(*static_cast<DebugEventData *>(record));
            break;
        }
    }
}

void *allocate_record(std::size_t size, long kind)
{
    if (size > SIZE_MAX - kHeader) return nullptr;
    auto *block = static_cast<unsigned char *>(dirext::alloc(size + kHeader));
    if (!block) return nullptr;
    const int64_t word = kind;
    std::memcpy(block, &word, sizeof word);
    return block + kHeader;
}

void free_record(void *record)
{
    if (!record) return;
    unsigned char *block = static_cast<unsigned char *>(record) - kHeader;
    int64_t kind = 0;
    std::memcpy(&kind, block, sizeof kind);
    if (const Record *desc = record_for(static_cast<long>(kind))) release_members(*desc, record);
    std::free(block);
}

}  // namespace dirext::events

extern "C" {

void *allocEventData(size_t size, long kind)
{
    return dirext::events::allocate_record(size, kind);
}

void ldap_event_free(void *record)
{
    dirext::events::free_record(record);
}

}  // extern "C"
