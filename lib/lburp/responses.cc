// LBURP start, update and end responses.
#include <cstring>
#include <vector>

#include "core/alloc.h"
#include "core/ber_seam.h"
#include "core/boundary.h"
#include "core/result.h"
#include "lburp/internal.h"

namespace dirext::lburp {
namespace {

// A reader over memory it does not own.
BerViewPtr view(berval &bytes)
{
    BerViewPtr ber(lber::alloc_t(0));
    if (ber) ber_init2(ber.get(), &bytes, 0);
    return ber;
}

// Result and response name of an extended response; value receives the
// response value, if any.
int parse_extended(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg, const char *expected_oid,
                   BervalPtr &value)
{
    if (errmsg) *errmsg = nullptr;
    if (int rc = ldap_parse_result(ld, result, errcode, nullptr, errmsg, nullptr, nullptr, 0); rc != LDAP_SUCCESS)
        return rc;
    char *raw_oid = nullptr;
    berval *raw_value = nullptr;
    const int rc = ldap_parse_extended_result(ld, result, &raw_oid, &raw_value, 0);
    const LdapStringPtr oid(raw_oid);
    value.reset(raw_value);
    if (rc != LDAP_SUCCESS) return rc;
    if (!oid || std::strcmp(oid.get(), expected_oid) != 0) return LDAP_NOT_SUPPORTED;
    return LDAP_SUCCESS;
}

// The value, when present:
//
//   StartLBURPResponseValue ::= SEQUENCE {
//       maxOperations  INTEGER }
int start_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg, int *max_operations)
{
    BervalPtr value;
    if (int rc = parse_extended(ld, result, errcode, errmsg, kStartResponseOid, value); rc != LDAP_SUCCESS)
        return rc;
    if (!value) return LDAP_SUCCESS;
    const BerViewPtr ber = view(*value);
    if (!ber) return LDAP_NO_MEMORY;
    ber_int_t max = 0;
    if (ber_scanf(ber.get(), "{i}", &max) == LBER_ERROR) return LDAP_DECODING_ERROR;
    *max_operations = max;
    return LDAP_SUCCESS;
}

// The failures decoded so far; their messages are released unless handed on.
struct Failures {
    std::vector<LBURPFailedOperation> list;
    ~Failures()
    {
        for (LBURPFailedOperation &f : list) ldap_memfree(f.diagnosticMessage);
    }
};

// One entry's contents: INTEGER operationNumber, then an LDAPResult
// SEQUENCE { ENUMERATED resultCode, matchedDN, diagnosticMessage, ... }.
// Reading each entry within its own length keeps a trailing referral (or
// anything else a later server adds) from spilling into the next entry.
// Returns 1 when read, 0 for an entry holding only its number, or an error.
int decode_entry(berval &contents, Failures &out)
{
    const BerViewPtr ber = view(contents);
    if (!ber) return LDAP_NO_MEMORY;
    ber_int_t number = 0;
    if (ber_scanf(ber.get(), "i", &number) == LBER_ERROR) return LDAP_DECODING_ERROR;
    ber_len_t len = 0;
    if (ber_peek_tag(ber.get(), &len) == LBER_DEFAULT) return 0;
    ber_int_t code = 0;
    char *matched = nullptr;
    char *message = nullptr;
    if (ber_scanf(ber.get(), "{iaa", &code, &matched, &message) == LBER_ERROR) return LDAP_DECODING_ERROR;
    ldap_memfree(matched);
    const int rc = guard(LDAP_NO_MEMORY, LDAP_LOCAL_ERROR, [&] {
        out.list.push_back({number, code, message});
        return 1;
    });
    if (rc != 1) ldap_memfree(message);  // not handed on
    return rc;
}

// The update response value lists the failed operations one after another,
// with no SEQUENCE OF around them:
//
//   OperationResult ::= SEQUENCE {
//       operationNumber  INTEGER,
//       ldapResult       LDAPResult OPTIONAL }  -- absent: the list ends here
int decode_failures(const berval &value, Failures &out)
{
    berval bytes = value;
    const BerViewPtr ber = view(bytes);
    if (!ber) return LDAP_NO_MEMORY;
    for (;;) {
        ber_len_t left = 0;
        ber_get_option(ber.get(), LBER_OPT_REMAINING_BYTES, &left);
        if (left == 0) break;
        berval contents{};  // a truncated entry fails here rather than end the list unseen
        if (ber_skip_element(ber.get(), &contents) == LBER_DEFAULT) return LDAP_DECODING_ERROR;
        const int rc = decode_entry(contents, out);
        if (rc < 0) return rc;
        if (rc == 0) break;  // a number without its result ends the list
    }
    return LDAP_SUCCESS;
}

int update_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg, int *failed_count,
                    LBURPFailedOperation **failed_operations)
{
    BervalPtr value;
    if (int rc = parse_extended(ld, result, errcode, errmsg, kUpdateResponseOid, value); rc != LDAP_SUCCESS)
        return rc;
    if (!value) return LDAP_SUCCESS;
    return decode_failure_list(*value, failed_count, failed_operations);
}

}  // namespace

int decode_failure_list(const berval &value, int *count, LBURPFailedOperation **list)
{
    Failures failures;
    if (int rc = decode_failures(value, failures); rc != LDAP_SUCCESS) return rc;
    if (failures.list.empty()) return LDAP_SUCCESS;
    auto *out = static_cast<LBURPFailedOperation *>(alloc(failures.list.size() * sizeof(LBURPFailedOperation)));
    if (!out) return LDAP_NO_MEMORY;
    std::memcpy(out, failures.list.data(), failures.list.size() * sizeof(LBURPFailedOperation));
    *count = int(failures.list.size());
    *list = out;
    failures.list.clear();  // the messages now belong to the caller
    return LDAP_SUCCESS;
}

namespace {

int end_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg)
{
    BervalPtr value;  // not looked at
    return parse_extended(ld, result, errcode, errmsg, kEndResponseOid, value);
}

}  // namespace
}  // namespace dirext::lburp

// With freeIt the message is the parse function's to release, on every path,
// so a caller never has to guess.
extern "C" {

int ldap_parse_lburp_start_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg,
                                    int *maxOperations, int freeIt)
{
    const dirext::MessagePtr consumed(freeIt ? result : nullptr);
    if (!ld) return LDAP_PARAM_ERROR;
    if (!result || !maxOperations) return dirext::store_result(ld, LDAP_PARAM_ERROR);
    return dirext::store_result(ld, dirext::lburp::start_response(ld, result, errcode, errmsg, maxOperations));
}

int ldap_parse_lburp_operation_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg,
                                        int *failedCount, LBURPFailedOperation **failedOperations, int freeIt)
{
    const dirext::MessagePtr consumed(freeIt ? result : nullptr);
    if (failedOperations) *failedOperations = nullptr;
    if (failedCount) *failedCount = 0;
    if (!ld) return LDAP_PARAM_ERROR;
    if (!result || !failedCount || !failedOperations) return dirext::store_result(ld, LDAP_PARAM_ERROR);
    int rc = dirext::lburp::update_response(ld, result, errcode, errmsg, failedCount, failedOperations);
    // A failure leaves the list empty (nothing was handed on); libldap's
    // LDAP_OTHER there counts as no failure at all.
    if (rc == LDAP_OTHER) rc = LDAP_SUCCESS;
    return dirext::store_result(ld, rc);
}

int ldap_parse_lburp_end_response(LDAP *ld, LDAPMessage *result, int *errcode, char **errmsg, int freeIt)
{
    const dirext::MessagePtr consumed(freeIt ? result : nullptr);
    if (!ld) return LDAP_PARAM_ERROR;
    if (!result) return dirext::store_result(ld, LDAP_PARAM_ERROR);
    return dirext::store_result(ld, dirext::lburp::end_response(ld, result, errcode, errmsg));
}

}  // extern "C"
