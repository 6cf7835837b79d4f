// Event monitoring: records, element readers, body decoders, and the parse
// functions over messages that libldap delivers.  The bodies are the event
// tests' own samples, the richest of each kind.
#include <cstring>
#include <type_traits>

#include "samples.h"
#include "sweep.h"
#include "wire.h"

namespace allocsweep {
namespace {

using namespace wire;

// The sample of the kind with the most bytes: the most members to allocate.
const events_test::Sample &richest(int tag)
{
    const events_test::Sample *best = nullptr;
    for (const auto &s : events_test::samples())
        if (s.tag == tag && (!best || s.contents().size() > best->contents().size())) best = &s;
    if (!best) throw std::logic_error("no sample of tag " + std::to_string(tag));
    return *best;
}

int record(Env &)
{
    void *block = allocEventData(sizeof(EntryEventData), DIREXT_EVENT_ENTRY);
    if (block) std::memset(block, 0, sizeof(EntryEventData));  // the members are the caller's to set
    ldap_event_free(block);
    return block ? LDAP_SUCCESS : kNull;
}

// A reader's result; what it delivers must be null on failure.
template <typename T>
int delivered(int rc, T *out)
{
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(out, nullptr);
    }
    return rc;
}

int ldap_string(Env &)
{
    Ber ber = reader(octets("cn=a,o=lab"));
    char *out = nullptr;
    const int rc = delivered(parseLDAPString(ber.get(), &out, 0), out);
    std::free(out);
    return rc;
}

int octet_string(Env &)
{
    Ber ber = reader(octets(std::string("\0\1bin", 5)));
    char *out = nullptr;
    ber_len_t length = 0;
    const int rc = delivered(parseOctetString(ber.get(), &out, &length, 0), out);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(length, 0u);
    }
    std::free(out);
    return rc;
}

int string_sequence(Env &)
{
    Ber ber = reader(string_list({"a", "", "ccc"}));
    char **out = nullptr;
    const int rc = delivered(parseStringSequence(ber.get(), &out), out);
    freeStringSequence(out);
    return rc;
}

int referral_list(Env &)
{
    Ber ber = reader(seq({integer(2), seq({seq({integer(1), octets("10.1.1.1")}), seq({integer(9), octets("x")})})}));
    int count = -1;
    ReferralAddress *list = nullptr;
    const int rc = delivered(parseReferralList(ber.get(), &count, &list), list);
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(count, 0);
    }
    freeReferralList(count, list);
    return rc;
}

int connection_data(Env &)
{
    Ber ber = reader(connection(11, 12, "conn"));
    ConnectionData *out = nullptr;
    const int rc = delivered(parseConnectionData(ber.get(), &out), out);
    freeConnectionData(out);
    return rc;
}

int net_address(Env &env)
{
    Ber ber = reader(address(1, "10.0.0.1"));
    NetAddrEventData *out = nullptr;
    const int rc = delivered(stored(env.ld(), parseNetAddrEventData(env.ld(), ber.get(), &out)), out);
    ldap_event_free(out);
    return rc;
}

int trailing_address(Env &env)
{
    Ber ber = reader(address(1, "10.0.0.1"));
    NetAddrEventData *out = nullptr;
    const int rc = delivered(stored(env.ld(), ber_get_IP(env.ld(), ber.get(), &out)), out);
    ldap_event_free(out);
    return rc;
}

// A body decoder over the richest sample of its kind.  If only the trailing
// address fails, the record stays with the caller (and is released here).
using BodyDecoder = int (*)(LDAP *, BerElement *, void **, NetAddrEventData **);

template <BodyDecoder decoder, int Tag>
int body(Env &env)
{
    Ber ber = reader(richest(Tag).contents());
    void *out = nullptr;
    NetAddrEventData *address = nullptr;
    const int rc = delivered(stored(env.ld(), decoder(env.ld(), ber.get(), &out, &address)), address);
    ldap_event_free(out);
    ldap_event_free(address);
    return rc;
}

int update_body(LDAP *ld, BerElement *ber, void **out, NetAddrEventData **address)
{
    return parseUpdateEventData(ld, ber, 4, out, address);
}

// A notification of the richest search event, with its trailing address.
LDAPMessage *notification(Env &env)
{
    return env.message("event notification", [](int msgid) { return wire::notification(msgid, richest(0x73).value()); });
}

int ds_event_ip(Env &env)
{
    int type = -1, result = -1;
    void *data = nullptr;
    NetAddrEventData *address = nullptr;
    const int rc =
        stored(env.ld(), ldap_parse_ds_event_IP(env.ld(), notification(env), &type, &result, &data, 0, &address));
    if (rc != LDAP_SUCCESS) {  // no record is left
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(address, nullptr);
    }
    ldap_event_free(data);
    ldap_event_free(address);
    return rc;
}

int ds_event(Env &env)
{
    int type = -1, result = -1;
    void *data = nullptr;
    const int rc = stored(env.ld(), ldap_parse_ds_event(env.ld(), notification(env), &type, &result, &data, 0));
    if (rc != LDAP_SUCCESS) {
        EXPECT_EQ(data, nullptr);
    }
    ldap_event_free(data);
    return rc;
}

int final_response(Env &env)
{
    static const std::string kName = LDAP_MONITOR_EVENT_RESPONSE;
    static const std::string kValue =
        seq({integer(2), set({seq({integer(1), enumerated(0)}), seq({integer(4), enumerated(1)})})});
    LDAPMessage *response = env.message("monitor final response", [](int msgid) {
        return extended_response(msgid, LDAP_CANCELLED, &kName, &kValue);
    });
    int code = -1, count = -1;
    EventSpecifier *list = nullptr;
    char *message = nullptr;
    const int rc =
        stored(env.ld(), ldap_parse_monitor_events_response(env.ld(), response, &code, &message, &count, &list, 0));
    if (rc == LDAP_SUCCESS) {
        EXPECT_EQ(count, 2);
    } else {
        EXPECT_EQ(list, nullptr);
        EXPECT_EQ(count, 0);
    }
    ldapx_memfree(list);
    ldap_memfree(message);
    return rc;
}

// The request element is the call's first allocation: running out there
// leaves the handle's result code alone; the flattening's failure is stored.
template <typename Spec, int (*Request)(LDAP *, int, Spec *, int *)>
int registration(Env &env)
{
    Session ld = env.open();
    char filter[] = "(objectClass=*)";
    Spec specs[2];
    if constexpr (std::is_same_v<Spec, FilteredEventSpecifier>) {
        specs[0] = {4, 0, filter};
        specs[1] = {6, 1, filter};
    } else {
        specs[0] = {4, 0};
        specs[1] = {6, 1};
    }
    int msgid = -1;
    const int rc = Request(ld.get(), 2, specs, &msgid);
    if (rc == LDAP_SUCCESS) ldap_abandon_ext(ld.get(), msgid, nullptr, nullptr);
    return stored_unless_early(ld.get(), rc);
}

}  // namespace

const std::vector<Row> &events_rows()
{
    static const std::vector<Row> rows = {
        {"ldap_monitor_events", LDAP_NO_MEMORY, registration<EventSpecifier, ldap_monitor_events>},
        {"ldap_monitor_events_filtered", LDAP_NO_MEMORY,
         registration<FilteredEventSpecifier, ldap_monitor_events_filtered>},
        {"ldap_parse_monitor_events_response", LDAP_NO_MEMORY, final_response},
        {"ldap_parse_ds_event_IP", LDAP_NO_MEMORY, ds_event_ip},
        {"ldap_parse_ds_event", LDAP_NO_MEMORY, ds_event},
        {"allocEventData", kNull, record},
        {"parseLDAPString", LDAP_NO_MEMORY, ldap_string},
        {"parseOctetString", LDAP_NO_MEMORY, octet_string},
        {"parseStringSequence", LDAP_NO_MEMORY, string_sequence},
        {"parseReferralList", LDAP_NO_MEMORY, referral_list},
        {"parseConnectionData", LDAP_NO_MEMORY, connection_data},
        {"parseNetAddrEventData", LDAP_NO_MEMORY, net_address},
        {"ber_get_IP", LDAP_NO_MEMORY, trailing_address},
        {"parseEntryEventData", LDAP_NO_MEMORY, body<parseEntryEventData, 0x61>},
        {"parseValueEventData", LDAP_NO_MEMORY, body<parseValueEventData, 0x62>},
        {"parseGeneralEventData", LDAP_NO_MEMORY, body<parseGeneralEventData, 0x63>},
        {"parseBinderyEventData", LDAP_NO_MEMORY, body<parseBinderyEventData, 0x65>},
        {"parseSEVEventData", LDAP_NO_MEMORY, body<parseSEVEventData, 0x66>},
        {"parseModuleStateEventData", LDAP_NO_MEMORY, body<parseModuleStateEventData, 0x67>},
        {"parseConnectionStateData", LDAP_NO_MEMORY, body<parseConnectionStateData, 0x69>},
        {"parseChangeServerAddressData", LDAP_NO_MEMORY, body<parseChangeServerAddressData, 0x6c>},
        {"parseChangeConfigParamData", LDAP_NO_MEMORY, body<parseChangeConfigParamData, 0x6d>},
        {"parseStatusLogEventData", LDAP_NO_MEMORY, body<parseStatusLogEventData, 0x6f>},
        {"parseDebugEventData", LDAP_NO_MEMORY, body<parseDebugEventData, 0x70>},
        {"parseAuthEventData", LDAP_NO_MEMORY, body<parseAuthEventData, 0x71>},
        {"parseConnectionEventData", LDAP_NO_MEMORY, body<parseConnectionEventData, 0x72>},
        {"parseSearchEventData", LDAP_NO_MEMORY, body<parseSearchEventData, 0x73>},
        {"parseSearchEntryResponseEventData", LDAP_NO_MEMORY, body<parseSearchEntryResponseEventData, 0x74>},
        {"parseUpdateEventData", LDAP_NO_MEMORY, body<update_body, 0x75>},
        {"parseCompareEventData", LDAP_NO_MEMORY, body<parseCompareEventData, 0x76>},
        {"parseModDNEventData", LDAP_NO_MEMORY, body<parseModDNEventData, 0x77>},
        {"parseAbandonEventData", LDAP_NO_MEMORY, body<parseAbandonEventData, 0x78>},
        {"parseExtOpEventData", LDAP_NO_MEMORY, body<parseExtOpEventData, 0x79>},
        {"parseSysExtOpEventData", LDAP_NO_MEMORY, body<parseSysExtOpEventData, 0x7a>},
        {"parseResponseEventData", LDAP_NO_MEMORY, body<parseResponseEventData, 0x7b>},
        {"parsePasswordModifyData", LDAP_NO_MEMORY, body<parsePasswordModifyData, 0x7c>},
        {"parseUnknownOp", LDAP_NO_MEMORY, body<parseUnknownOp, 0x7d>},
    };
    return rows;
}

}  // namespace allocsweep
