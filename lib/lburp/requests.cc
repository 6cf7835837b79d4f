// LBURP start, update and end requests: asynchronous extended operations
// whose message ids go back to the caller.
#include "core/ber_seam.h"
#include "core/result.h"
#include "lburp/internal.h"

namespace dirext::lburp {
namespace {

// liblber's plain BER element: sequences carry four-byte lengths, the form
// these requests have always had on the wire (valid BER; servers accept it).
BerPtr new_request() { return BerPtr(lber::alloc_t(0)); }  // ber_alloc()

// Flattens the request value and sends it.  The element stays the caller's.
int send(LDAP *ld, const char *oid, BerElement *ber, int *msgid)
{
    berval *raw = nullptr;
    if (lber::flatten(ber, &raw) == -1) return LDAP_NO_MEMORY;
    const BervalPtr value(raw);
    return ldap_extended_operation(ld, oid, value.get(), nullptr, nullptr, msgid);
}

//   StartLBURPRequestValue ::= SEQUENCE {
//       updateStyleOID  LDAPOID }
int start_request(LDAP *ld, int *msgid)
{
    if (!msgid) return store_result(ld, LDAP_PARAM_ERROR);
    const BerPtr ber = new_request();
    if (!ber) return LDAP_NO_MEMORY;
    if (ber_printf(ber.get(), "{s}", kUpdateStyleOid) == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    return store_result(ld, send(ld, kStartRequestOid, ber.get(), msgid));
}

//   LBURPUpdateRequestValue ::= SEQUENCE {
//       sequenceNumber  INTEGER,
//       operation       SEQUENCE {
//           request   CHOICE { AddRequest, DelRequest, ModifyRequest, ModifyDNRequest },
//           controls  [0] Controls OPTIONAL },
//       ... }
//
// The operations follow the number directly, with no SEQUENCE OF around
// the list; each is written by its operation encoder.
int update_request(LDAP *ld, int sequence_number, LBURPOperation **operations, int *msgid)
{
    if (!operations || !msgid) return store_result(ld, LDAP_PARAM_ERROR);
    BerPtr ber = new_request();
    if (!ber) return LDAP_NO_MEMORY;
    if (ber_printf(ber.get(), "{i", ber_int_t(sequence_number)) == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    for (LBURPOperation **op = operations; *op; ++op) {
        // On failure the encoder has released the element already.
        if (const int rc = encode_operation(**op, ber.get()); rc != LDAP_SUCCESS) {
            (void)ber.release();
            return store_result(ld, rc);
        }
    }
    if (ber_printf(ber.get(), "}") == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    return store_result(ld, send(ld, kUpdateRequestOid, ber.get(), msgid));
}

//   EndLBURPRequestValue ::= SEQUENCE {
//       sequenceNumber  INTEGER }
int end_request(LDAP *ld, int sequence_number, int *msgid)
{
    if (!msgid) return store_result(ld, LDAP_PARAM_ERROR);
    const BerPtr ber = new_request();
    if (!ber) return LDAP_NO_MEMORY;
    if (ber_printf(ber.get(), "{i}", ber_int_t(sequence_number)) == -1) return store_result(ld, LDAP_ENCODING_ERROR);
    return store_result(ld, send(ld, kEndRequestOid, ber.get(), msgid));
}

}  // namespace
}  // namespace dirext::lburp

extern "C" {

int ldap_lburp_start_request(LDAP *ld, int *msgid)
{
    return ld ? dirext::lburp::start_request(ld, msgid) : LDAP_PARAM_ERROR;
}

int ldap_lburp_operation_request(LDAP *ld, int sequenceNumber, LBURPOperation **operations, int *msgid)
{
    return ld ? dirext::lburp::update_request(ld, sequenceNumber, operations, msgid) : LDAP_PARAM_ERROR;
}

int ldap_lburp_end_request(LDAP *ld, int sequenceNumber, int *msgid)
{
    return ld ? dirext::lburp::end_request(ld, sequenceNumber, msgid) : LDAP_PARAM_ERROR;
}

}  // extern "C"
