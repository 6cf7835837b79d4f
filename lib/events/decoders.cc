// The common decoder frame and the field operations it runs; the exported
// body decoders are thin entries into it.
#include "core/alloc.h"
#include "core/handles.h"
#include "core/result.h"
#include "events/records.h"

#include <cstring>
#include <memory>

namespace dirext::events {
namespace {

template <typename R>
int read_triple(R &ber, EventTriple *out)
{
    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;
    Scoped<R> fields(contents);
    if (!read_int(fields.get(), &out->integer1) || !read_int(fields.get(), &out->integer2) ||
        !read_int(fields.get(), &out->integer3))
        return kDecodingError;
    return kOk;
}

// An octet copy with its length (an empty element: null and 0).
template <typename R>
int read_data(R &ber, ber_tag_t tag, char **data, int32_t *length)
{
    ber_len_t n = 0;
    int rc = read_string(ber, tag, data, &n);
    if (rc == kOk && length) *length = static_cast<int32_t>(n);
    return rc;
}

template <typename R>
int read_int_group(R &ber, int32_t (&values)[4])
{
    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;
    Scoped<R> group(contents);
    for (int i = 0; peek(group.get()) == kTagInteger; ++i) {
        if (i == 4 || !read_int(group.get(), &values[i])) return kDecodingError;
    }
    return kOk;
}

template <typename R>
int read_string_group(R &ber, char *(&values)[4])
{
    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;
    Scoped<R> group(contents);
    for (int i = 0; peek(group.get()) == kTagOctetString; ++i) {
        if (i == 4) return kDecodingError;
        int rc = read_string(group.get(), kTagOctetString, &values[i]);  // empty: slot stays null
        if (rc != kOk) return rc;
    }
    return kOk;
}

template <typename R>
int read_text(R &ber, const Field &f, char *text)
{
    struct berval contents;
    if (take(ber, &contents) != kTagOctetString) return kDecodingError;
    if (contents.bv_len < f.min || contents.bv_len >= f.size) return kDecodingError;
    if (contents.bv_len) std::memcpy(text, contents.bv_val, contents.bv_len);
    text[contents.bv_len] = '\0';
    return kOk;
}

// The configuration value: its tag must be the one its type is sent with.
template <typename R>
int read_config_value(R &ber, ChangeConfigParamData &config)
{
    static constexpr struct {
        int32_t type;
        ber_tag_t tag;
    } kAccepted[] = {{0, 0x85}, {1, 0x83}, {2, 0x82}, {3, 0x84}, {5, 0x81}};
    const ber_tag_t tag = peek(ber);
    bool accepted = false;
    for (const auto &a : kAccepted) accepted = accepted || (a.type == config.paramType && a.tag == tag);
    if (!accepted) return kDecodingError;
    switch (tag) {
    case 0x81:
    case 0x82:
        return read_int(ber, &config.intValue) ? kOk : kDecodingError;
    case 0x83:
        return read_data(ber, tag, &config.data, &config.dataLength);
    case 0x84:
        return read_string(ber, tag, &config.strValue);
    default: {  // 0x85: no value
        struct berval skipped;
        return take(ber, &skipped) == tag ? kOk : kDecodingError;
    }
    }
}

template <typename R>
int read_triple_list(R &ber, DebugParameter &p)
{
    struct berval contents, list;
    if (!open(ber, &contents)) return kDecodingError;
    Scoped<R> fields(contents);
    int32_t n = 0;
    if (!read_int(fields.get(), &n) || !open(fields.get(), &list)) return kDecodingError;
    if (n < 0 || static_cast<ber_len_t>(n) > list.bv_len) return kDecodingError;
    if (n > 0) {
        p.triples = static_cast<EventTriple *>(dirext::alloc_zeroed(n, sizeof(EventTriple)));
        if (!p.triples) return kNoMemory;
    }
    p.tripleCount = n;
    Scoped<R> triples(list);
    for (int32_t i = 0; i < n; ++i) {
        int rc = read_triple(triples.get(), &p.triples[i]);
        if (rc != kOk) return rc;
    }
    return kOk;
}

template <typename R>
int read_debug_parameter(R &ber, DebugParameter &p)
{
    const ber_tag_t tag = peek(ber);
    int rc = kDecodingError;
    switch (tag) {
    case 0x81:
    case 0x84:
        rc = read_int(ber, &p.intValue) ? kOk : kDecodingError;
        break;
    case 0x82:
        rc = read_string(ber, tag, &p.strValue);
        break;
    case 0x83:
        rc = read_data(ber, tag, &p.data, &p.dataLength);
        break;
    case 0x85: {
        struct berval contents;
        if (!open(ber, &contents)) return kDecodingError;
        Scoped<R> fields(contents);
        if (!read_int(fields.get(), &p.intValue)) return kDecodingError;
        rc = read_data(fields.get(), kTagOctetString, &p.data, &p.dataLength);
        break;
    }
    case 0x86:
        rc = read_triple(ber, &p.triple);
        break;
    case 0x87:
        rc = read_triple_list(ber, p);
        break;
    default:
        return kDecodingError;
    }
    if (rc == kOk) p.type = static_cast<int32_t>(tag - 0x80);
    return rc;
}

template <typename R>
int read_debug_parameters(R &ber, DebugEventData &debug)
{
    if (debug.paramCount <= 0) return kOk;  // no list is read at all
    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;
    if (static_cast<ber_len_t>(debug.paramCount) > contents.bv_len) return kDecodingError;
    debug.params = static_cast<DebugParameter *>(dirext::alloc_zeroed(debug.paramCount, sizeof(DebugParameter)));
    if (!debug.params) return kNoMemory;
    Scoped<R> list(contents);
    for (int32_t i = 0; i < debug.paramCount; ++i) {
        int rc = read_debug_parameter(list.get(), debug.params[i]);
        if (rc != kOk) return rc;
    }
    return kOk;
}

bool is_optional(Op op)
{
    return op == Op::TaggedInt || op == Op::TaggedList || op == Op::OptionalData || op == Op::IntGroup ||
           op == Op::StringGroup;
}

template <typename R>
int read_field(R &ber, const Field &f, void *record)
{
    if (is_optional(f.op)) {
        // Absent is fine; present but unreadable fails here, not later.
        const ber_tag_t next = peek(ber);
        if (next == LBER_DEFAULT && remaining(ber) != 0) return kDecodingError;
        if (next != f.tag) return kOk;
    }
    switch (f.op) {
    case Op::Int:
    case Op::TaggedInt:
        return read_int(ber, &member<int32_t>(record, f.at)) ? kOk : kDecodingError;
    case Op::String:
        return read_string(ber, f.tag, &member<char *>(record, f.at));
    case Op::Triple:
        return read_triple(ber, &member<EventTriple>(record, f.at));
    case Op::Connection:
        return read_connection(ber, &member<ConnectionData *>(record, f.at));
    case Op::List:
    case Op::TaggedList:
        return read_string_list(ber, &member<char **>(record, f.at));
    case Op::OptionalData:
        return read_data(ber, f.tag, &member<char *>(record, f.at),
                         f.at2 == kNoMember ? nullptr : &member<int32_t>(record, f.at2));
    case Op::Data:
        return read_data(ber, f.tag, &member<char *>(record, f.at), &member<int32_t>(record, f.at2));
    case Op::Referrals: {
        int count = 0;
        int rc = read_referral_list(ber, &count, &member<ReferralAddress *>(record, f.at));
        member<int32_t>(record, f.at2) = count;
        return rc;
    }
    case Op::IntGroup:
        return read_int_group(ber, member<int32_t[4]>(record, f.at));
    case Op::StringGroup:
        return read_string_group(ber, member<char *[4]>(record, f.at));
    case Op::Text:
        return read_text(ber, f, &member<char>(record, f.at));
    case Op::ConfigValue:
        return read_config_value(ber, *static_cast<ChangeConfigParamData *>(record));
    case Op::DebugParams:
        return read_debug_parameters(ber, *static_cast<DebugEventData *>(record));
    }
    EVENTS_ASSERT(!"field operation without a reader");
    return kDecodingError;
}

// Exported decoders store their final code as the handle's result code;
// inside the frame nothing touches the handle, so it is stored once.
int decode_and_store(LDAP *ld, long kind, BerElement *ber, void **out, NetAddrEventData **address)
{
    if (!ber || !out) {
        store_result(ld, LDAP_PARAM_ERROR);
        return LDAP_PARAM_ERROR;
    }
    const Record *desc = record_for(kind);
    EVENTS_ASSERT(desc != nullptr);
    LberReader reader(ber);
    int rc = decode(*desc, reader, out, address);
    store_result(ld, rc);
    return rc;
}

}  // namespace

template <typename R>
int decode(const Record &desc, R &ber, void **out, NetAddrEventData **address)
{
    *out = nullptr;
    if (desc.size == 0) return kOk;  // a kind without a record: nothing is read

    std::unique_ptr<void, Deleter<free_record>> record(allocate_record(desc.size, desc.kind));
    if (!record) return kNoMemory;
    std::memset(record.get(), 0, desc.size);  // null, 0, and empty inline texts
    for (const Field &f : desc.fields) {
        int rc = read_field(ber, f, record.get());
        if (rc != kOk) return rc;  // the partial record goes with `record`
    }
    EVENTS_ASSERT(DIREXT_EVENT_KIND(record.get()) == desc.kind);
    // A failed trailing address leaves the complete record to the caller.
    *out = record.release();
    return desc.trailing_address && address ? read_trailing_address(ber, address) : kOk;
}

template int decode<LberReader>(const Record &, LberReader &, void **, NetAddrEventData **);
template int decode<SpanReader>(const Record &, SpanReader &, void **, NetAddrEventData **);

}  // namespace dirext::events

using namespace dirext::events;

#define DECODER(name, kind)                                                                \
    extern "C" int name(LDAP *ld, BerElement *ber, void **out, NetAddrEventData **address) \
    {                                                                                      \
        return decode_and_store(ld, kind, ber, out, address);                              \
    }

DECODER(parseEntryEventData, DIREXT_EVENT_ENTRY)
DECODER(parseValueEventData, DIREXT_EVENT_VALUE)
DECODER(parseGeneralEventData, DIREXT_EVENT_GENERAL)
DECODER(parseSkulkEventData, DIREXT_EVENT_SKULK)
DECODER(parseBinderyEventData, DIREXT_EVENT_BINDERY)
DECODER(parseSEVEventData, DIREXT_EVENT_SEV)
DECODER(parseModuleStateEventData, DIREXT_EVENT_MODULE_STATE)
DECODER(parseConnectionStateData, DIREXT_EVENT_CONNECTION_STATE)
DECODER(parseChangeServerAddressData, DIREXT_EVENT_CHANGE_SERVER_ADDRESS)
DECODER(parseChangeConfigParamData, DIREXT_EVENT_CHANGE_CONFIG_PARAM)
DECODER(parseStatusLogEventData, DIREXT_EVENT_STATUS_LOG)
DECODER(parseDebugEventData, DIREXT_EVENT_DEBUG)
DECODER(parseAuthEventData, DIREXT_EVENT_AUTH)
DECODER(parseConnectionEventData, DIREXT_EVENT_CONNECTION)
DECODER(parseSearchEventData, DIREXT_EVENT_SEARCH)
DECODER(parseSearchEntryResponseEventData, DIREXT_EVENT_SEARCH_ENTRY_RESPONSE)
DECODER(parseCompareEventData, DIREXT_EVENT_COMPARE)
DECODER(parseModDNEventData, DIREXT_EVENT_MODDN)
DECODER(parseAbandonEventData, DIREXT_EVENT_ABANDON)
DECODER(parseExtOpEventData, DIREXT_EVENT_EXTOP)
DECODER(parseSysExtOpEventData, DIREXT_EVENT_SYS_EXTOP)
DECODER(parseResponseEventData, DIREXT_EVENT_RESPONSE)
DECODER(parsePasswordModifyData, DIREXT_EVENT_PASSWORD_MODIFY)
DECODER(parseUnknownOp, DIREXT_EVENT_UNKNOWN_OP)
#undef DECODER

extern "C" int parseUpdateEventData(LDAP *ld, BerElement *ber, int /*eventType*/, void **out,
                                    NetAddrEventData **address)
{
    return decode_and_store(ld, DIREXT_EVENT_UPDATE, ber, out, address);
}
