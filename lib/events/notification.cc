// Opening one event notification: its head, then the body by its tag.
//
// The value of every notification (an IntermediateResponse):
//
//   EventNotification ::= SEQUENCE {
//       eventType    INTEGER,
//       eventResult  INTEGER,
//       body         [APPLICATION n] IMPLICIT SEQUENCE { ... } OPTIONAL }
//
// n is 1 to 29 (tag octets 0x61 to 0x7D); the tag names the record kind and
// the fields inside follow that kind's description.  Directly behind the
// body's last field an optional network address may follow:
//   addressType INTEGER, address OCTET STRING.
#include "core/handles.h"  // first: reads <ldap.h> the library's way

#include "core/result.h"
#include "events/envelope.h"
#include "events/records.h"

namespace dirext::events {
namespace {

constexpr ber_tag_t kNetAddressBody = 0x68;

// The body behind the notification head, by its tag.
template <typename R>
int decode_body(R &ber, ber_tag_t tag, void **eventData, NetAddrEventData **address)
{
    if (tag == kNetAddressBody) {
        NetAddrEventData *body = nullptr;
        int rc = read_net_address(ber, &body);
        *eventData = body;
        return rc == kOk ? read_trailing_address(ber, address) : rc;
    }
    const Record *desc = record_for(static_cast<long>(tag));
    if (!desc) return LDAP_SUCCESS;  // a kind without a decoder: no record
    return decode(*desc, ber, eventData, address);
}

int parse_notification(LDAP *ld, LDAPMessage *message, int *eventType, int *eventResult, void **eventData,
                       NetAddrEventData **address)
{
    struct berval value;
    int rc = intermediate_value(ld, message, LDAP_EVENT_NOTIFICATION, &value);
    if (rc != LDAP_SUCCESS) return rc;
    return parse_event_value(&value, eventType, eventResult, eventData, address);
}

}  // namespace

template <typename R>
int read_event(R &ber, int *eventType, int *eventResult, void **eventData, NetAddrEventData **address)
{
    // The head, as ber_scanf "{ii" reads it: entering the sequence does not
    // confine what follows to it.
    ber_len_t length = 0;
    if (ber.skip_tag(&length) == LBER_DEFAULT || !read_int(ber, eventType) || !read_int(ber, eventResult))
        return LDAP_DECODING_ERROR;
    if (!eventData) return LDAP_SUCCESS;
    if (remaining(ber) == 0) return LDAP_SUCCESS;  // no body at all
    ber_tag_t tag = ber.skip_tag(&length);
    if (tag == LBER_DEFAULT) return LDAP_DECODING_ERROR;  // a body that does not read
    return decode_body(ber, tag, eventData, address);
}

template int read_event<LberReader>(LberReader &, int *, int *, void **, NetAddrEventData **);
template int read_event<SpanReader>(SpanReader &, int *, int *, void **, NetAddrEventData **);

int parse_event_value(struct berval *value, int *eventType, int *eventResult, void **eventData,
                      NetAddrEventData **address)
{
    static_assert(sizeof(ber_int_t) == sizeof(int));
    SpanReader reader(*value);
    return read_event(reader, eventType, eventResult, eventData, address);
}

// The exported parsers' bodies, so that ldap_parse_ds_event reaches them
// without going through the library's exported name.
int parse_ds_event_ip(LDAP *ld, LDAPMessage *message, int *eventType, int *eventResult, void **eventData,
                      int freeit, NetAddrEventData **address)
{
    MessagePtr consumed(freeit ? message : nullptr);
    if (!ld || !message || !eventType || !eventResult || (eventData && !address)) {
        store_result(ld, LDAP_PARAM_ERROR);
        return LDAP_PARAM_ERROR;
    }
    if (eventData) *eventData = nullptr;
    int rc = parse_notification(ld, message, eventType, eventResult, eventData, address);
    store_result(ld, rc);
    if (rc != LDAP_SUCCESS && eventData) {
        free_record(*eventData);
        *eventData = nullptr;
    }
    return rc;
}

}  // namespace dirext::events

using namespace dirext;
using namespace dirext::events;

extern "C" {

int ldap_parse_ds_event_IP(LDAP *ld, LDAPMessage *message, int *eventType, int *eventResult, void **eventData,
                           int freeit, NetAddrEventData **address)
{
    return parse_ds_event_ip(ld, message, eventType, eventResult, eventData, freeit, address);
}

int ldap_parse_ds_event(LDAP *ld, LDAPMessage *message, int *eventType, int *eventResult, void **eventData,
                        int freeit)
{
    NetAddrEventData *address = nullptr;
    int rc = parse_ds_event_ip(ld, message, eventType, eventResult, eventData, freeit, &address);
    free_record(address);
    return rc;
}

}  // extern "C"
