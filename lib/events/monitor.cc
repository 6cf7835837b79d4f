// Monitor requests (plain and filtered registrations) and the final response,
// which lists registrations in the same form.
#include "core/handles.h"  // first: reads <ldap.h> the library's way

#include "core/alloc.h"
#include "core/ber_seam.h"
#include "core/result.h"
#include "events/records.h"

#include <cstring>
#include <memory>

namespace dirext::events {
namespace {

// The plain request value:
//
//   MonitorEventsRequest ::= SEQUENCE {
//       count   INTEGER,          -- the caller's count, as given
//       events  SET OF SEQUENCE {
//           eventType    INTEGER,
//           eventStatus  ENUMERATED } }
//
// The filtered request's elements carry a third member:
//           filter       OCTET STRING
void write_spec(BerElement *ber, const EventSpecifier &s, int &rc)
{
    if (ber_printf(ber, "{ie}", static_cast<ber_int_t>(s.eventType), static_cast<ber_int_t>(s.eventStatus)) ==
        -1)
        rc = LDAP_ENCODING_ERROR;
}

void write_spec(BerElement *ber, const FilteredEventSpecifier &s, int &rc)
{
    if (ber_printf(ber, "{ies}", static_cast<ber_int_t>(s.eventType), static_cast<ber_int_t>(s.eventStatus),
                   s.filter) == -1)
        rc = LDAP_ENCODING_ERROR;
}

bool arguments_complete(int count, const EventSpecifier *) { return count != 0; }

bool arguments_complete(int count, const FilteredEventSpecifier *specs)
{
    if (count == 0) return false;
    for (int i = 0; i < count; ++i)
        if (!specs[i].filter) return false;  // liblber would take strlen(NULL)
    return true;
}

template <typename Spec>
int send_registration(LDAP *ld, int count, Spec *specs, int *msgid, const char *oid)
{
    if (!ld || !specs || !msgid || !arguments_complete(count, specs)) return LDAP_PARAM_ERROR;
    BerPtr ber(lber::alloc_t(LBER_USE_DER));
    if (!ber) return LDAP_NO_MEMORY;

    int rc = LDAP_SUCCESS;
    if (ber_printf(ber.get(), "{i[", static_cast<ber_int_t>(count)) == -1) rc = LDAP_ENCODING_ERROR;
    for (int i = 0; rc == LDAP_SUCCESS && i < count; ++i) write_spec(ber.get(), specs[i], rc);
    if (rc == LDAP_SUCCESS && ber_printf(ber.get(), "]}") == -1) rc = LDAP_ENCODING_ERROR;

    struct berval *flat = nullptr;
    if (rc == LDAP_SUCCESS && lber::flatten(ber.get(), &flat) == -1) rc = LDAP_NO_MEMORY;
    BervalPtr value(flat);
    if (rc == LDAP_SUCCESS) rc = ldap_extended_operation(ld, oid, value.get(), nullptr, nullptr, msgid);
    store_result(ld, rc);
    return rc;
}

}  // namespace

// The final response value, when present, in the plain request's form:
//
//   MonitorEventsResponse ::= SEQUENCE {
//       count   INTEGER,
//       events  SET OF SEQUENCE {
//           eventType    INTEGER,
//           eventStatus  ENUMERATED } }
int read_registrations(BerElement *ber, int *specCount, EventSpecifier **specList)
{
    ber_int_t n = 0;
    // A head that does not read is not an error: there is just no list.
    LberReader reader(ber);
    if (ber_scanf(ber, "{i", &n) == LBER_ERROR || peek(reader) != kTagSet) return LDAP_SUCCESS;
    struct berval set;
    if (!open(reader, &set)) return LDAP_DECODING_ERROR;
    if (n < 0) return LDAP_NO_MEMORY;  // no array of that size
    if (n == 0) return LDAP_SUCCESS;
    if (static_cast<ber_len_t>(n) > set.bv_len) return LDAP_DECODING_ERROR;

    MallocPtr<EventSpecifier> list(
        static_cast<EventSpecifier *>(dirext::alloc_zeroed(n, sizeof(EventSpecifier))));
    if (!list) return LDAP_NO_MEMORY;
    Scoped<LberReader> elements(set);
    for (ber_int_t i = 0; i < n; ++i) {
        struct berval one;
        if (!open(elements.get(), &one)) return LDAP_DECODING_ERROR;
        Scoped<LberReader> fields(one);
        EventSpecifier &spec = list.get()[i];
        if (!read_int(fields.get(), &spec.eventType) || !read_int(fields.get(), &spec.eventStatus))
            return LDAP_DECODING_ERROR;
    }
    *specList = list.release();
    *specCount = n;
    return LDAP_SUCCESS;
}

namespace {

bool is_oid(const char *name, const char *oid)
{
    return name && std::strcmp(name, oid) == 0;  // the terminator counts: no prefix matches
}

int parse_final_response(LDAP *ld, LDAPMessage *result, int *resultCode, char **errorMessage, int *specCount,
                         EventSpecifier **specList)
{
    int rc = ldap_parse_result(ld, result, resultCode, nullptr, errorMessage, nullptr, nullptr, 0);
    if (rc != LDAP_SUCCESS) return rc;
    char *oid = nullptr;
    struct berval *raw = nullptr;
    rc = ldap_parse_extended_result(ld, result, &oid, &raw, 0);
    LdapStringPtr name(oid);
    BervalPtr value(raw);
    if (rc != LDAP_SUCCESS) return rc;
    if (!name) return LDAP_SUCCESS;
    if (!is_oid(name.get(), LDAP_MONITOR_EVENT_RESPONSE)) return LDAP_DECODING_ERROR;
    if (!value || !specCount || !specList) return LDAP_SUCCESS;

    BerBuffer buffer;
    BerElement *ber = open_buffer(buffer, value.get());
    return read_registrations(ber, specCount, specList);
}

}  // namespace
}  // namespace dirext::events

using namespace dirext;
using namespace dirext::events;

extern "C" {

int ldap_monitor_events(LDAP *ld, int count, EventSpecifier *specs, int *msgid)
{
    return send_registration(ld, count, specs, msgid, LDAP_MONITOR_EVENT_REQUEST);
}

int ldap_monitor_events_filtered(LDAP *ld, int count, FilteredEventSpecifier *specs, int *msgid)
{
    return send_registration(ld, count, specs, msgid, LDAP_MONITOR_EVENT_FILTERED_REQUEST);
}

int ldap_parse_monitor_events_response(LDAP *ld, LDAPMessage *result, int *resultCode, char **errorMessage,
                                       int *specCount, EventSpecifier **specList, int freeit)
{
    // libldap is always asked to keep the message; with freeit it is released
    // here, on every path.
    MessagePtr consumed(freeit ? result : nullptr);
    if (!ld || !result || !resultCode) {
        store_result(ld, LDAP_PARAM_ERROR);
        return LDAP_PARAM_ERROR;
    }
    if (specList) *specList = nullptr;
    if (specCount) *specCount = 0;
    if (errorMessage) *errorMessage = nullptr;
    int rc = parse_final_response(ld, result, resultCode, errorMessage, specCount, specList);
    store_result(ld, rc);
    EVENTS_ASSERT(rc == LDAP_SUCCESS || !specList || !*specList);
    return rc;
}

}  // extern "C"
