// Response controls: entry change, status and reference.
#include <cstring>

#include "controls/internal.h"
#include "core/ber_seam.h"

namespace dirext::controls {
namespace {

constexpr ber_tag_t kOctetString = 0x04;
constexpr ber_tag_t kChangeNumberTag = 0x80;  // [0]; a universal INTEGER does not count

// The first control whose OID is exactly oid, or null.
const LDAPControl *find(LDAPControl **ctrls, const char *oid)
{
    for (; *ctrls; ++ctrls)
        if ((*ctrls)->ldctl_oid && std::strcmp((*ctrls)->ldctl_oid, oid) == 0) return *ctrls;
    return nullptr;
}

// A reader over a copy of the control's value.  An empty or missing value
// cannot hold what any of these controls sends (and liblber must not be
// handed one: it reads through the null buffer).
int open_reader(const LDAPControl &control, BerPtr &ber)
{
    berval value = control.ldctl_value;
    if (!value.bv_val || !value.bv_len) return LDAP_DECODING_ERROR;
    ber.reset(lber::init(&value));
    return ber ? LDAP_SUCCESS : LDAP_NO_MEMORY;
}

ber_len_t remaining(BerElement *ber)
{
    ber_len_t left = 0;
    ber_get_option(ber, LBER_OPT_REMAINING_BYTES, &left);
    return left;
}

// The contents of one constructed element, read within its own length, so
// that a broken element inside is an error and not the silent end of the
// value.  (Elements after the ones a parser knows are left alone.)
class Contents {
public:
    // Steps into the element at the reader's position; false if it is broken.
    bool open(BerElement *ber)
    {
        ber_ = ber;
        ber_len_t len = 0;
        if (ber_skip_tag(ber, &len) == LBER_DEFAULT || len > remaining(ber)) return false;
        end_ = remaining(ber) - len;
        return true;
    }
    // 1 with the next element's tag, 0 at the end, -1 for a broken element.
    int next(ber_tag_t &tag) const
    {
        if (remaining(ber_) <= end_) return 0;
        ber_len_t len = 0;
        tag = ber_peek_tag(ber_, &len);
        return tag == LBER_DEFAULT || len > remaining(ber_) - end_ ? -1 : 1;
    }

private:
    BerElement *ber_ = nullptr;
    ber_len_t end_ = 0;  // what remains of the value after the element
};

// Status response:
//
//   StatusResponse ::= SEQUENCE {
//       value0  [0] IMPLICIT INTEGER OPTIONAL,
//       value1  [1] IMPLICIT INTEGER OPTIONAL,
//       value2  [2] IMPLICIT INTEGER OPTIONAL,
//       value3  [3] IMPLICIT INTEGER OPTIONAL }
int parse_status(LDAP *ld, LDAPControl **ctrls, int *values[4])
{
    if (!ctrls) return store_result(ld, LDAP_CONTROL_NOT_FOUND);
    const LDAPControl *control = find(ctrls, kStatusOid);
    if (!control) return store_result(ld, LDAP_CONTROL_NOT_FOUND);
    BerPtr ber;
    if (int rc = open_reader(*control, ber); rc != LDAP_SUCCESS) return store_result(ld, rc);
    Contents sequence;
    if (!sequence.open(ber.get())) return store_result(ld, LDAP_DECODING_ERROR);
    for (unsigned i = 0; i < 4; ++i) {
        ber_tag_t tag = LBER_DEFAULT;
        const int found = sequence.next(tag);
        if (found < 0) return store_result(ld, LDAP_DECODING_ERROR);
        if (found == 0) break;
        if (tag != 0x80 + i) continue;
        ber_int_t number = 0;
        if (ber_get_int(ber.get(), &number) == LBER_ERROR) return store_result(ld, LDAP_DECODING_ERROR);
        if (values[i]) *values[i] = number;
    }
    return store_result(ld, LDAP_SUCCESS);
}

// The reference response's outputs; a string or list read twice replaces
// (and releases) the one this call read before, never the caller's own.
struct ReferenceOut {
    char **s1;
    int *i2;
    char **s3;
    int *i4;
    char ***list5;
    char **s6;
    bool set1 = false, set3 = false, set5 = false, set6 = false;
};

void put_string(char **target, bool &set, char *value)
{
    if (!target) {
        ldap_memfree(value);
        return;
    }
    if (set) ldap_memfree(*target);
    *target = value;
    set = true;
}

int read_reference_field(BerElement *ber, ber_tag_t tag, ReferenceOut &out)
{
    switch (tag) {
    case 0x81:
    case 0x83:
    case 0x86: {
        char *text = nullptr;
        if (ber_get_stringa(ber, &text) == LBER_ERROR) return LDAP_DECODING_ERROR;
        if (tag == 0x81) put_string(out.s1, out.set1, text);
        else if (tag == 0x83) put_string(out.s3, out.set3, text);
        else put_string(out.s6, out.set6, text);
        return LDAP_SUCCESS;
    }
    case 0x82:
    case 0x84: {
        ber_int_t number = 0;
        if (ber_get_int(ber, &number) == LBER_ERROR) return LDAP_DECODING_ERROR;
        if (int *target = tag == 0x82 ? out.i2 : out.i4) *target = number;
        return LDAP_SUCCESS;
    }
    case 0x85:
    case 0xa5: {  // the SET OF strings, whether or not its tag says constructed
        char **list = nullptr;
        if (ber_scanf(ber, "[v]", &list) == LBER_ERROR) return LDAP_DECODING_ERROR;
        if (!out.list5) {
            ldap_value_free(list);
        } else {
            if (out.set5) ldap_value_free(*out.list5);
            *out.list5 = list;
            out.set5 = true;
        }
        return LDAP_SUCCESS;
    }
    default: {  // not one of ours: step over it
        berval skipped{};
        return ber_skip_element(ber, &skipped) == LBER_DEFAULT ? LDAP_DECODING_ERROR : LDAP_SUCCESS;
    }
    }
}

// Reference response:
//
//   ReferenceResponse ::= SET {
//       s1     [1] IMPLICIT OCTET STRING OPTIONAL,
//       i2     [2] IMPLICIT INTEGER OPTIONAL,
//       s3     [3] IMPLICIT OCTET STRING OPTIONAL,
//       i4     [4] IMPLICIT INTEGER OPTIONAL,
//       list5  [5] IMPLICIT SET OF OCTET STRING OPTIONAL,
//       s6     [6] IMPLICIT OCTET STRING OPTIONAL }
//
// Elements with other tags are stepped over.
int parse_reference(LDAP *ld, LDAPControl **ctrls, ReferenceOut &out)
{
    if (!ctrls) return store_result(ld, LDAP_CONTROL_NOT_FOUND);
    const LDAPControl *control = find(ctrls, kReferenceOid);
    if (!control) return store_result(ld, LDAP_CONTROL_NOT_FOUND);
    BerPtr ber;
    if (int rc = open_reader(*control, ber); rc != LDAP_SUCCESS) return store_result(ld, rc);
    Contents set;
    if (!set.open(ber.get())) return store_result(ld, LDAP_DECODING_ERROR);
    for (;;) {
        ber_tag_t tag = LBER_DEFAULT;
        const int found = set.next(tag);
        if (found < 0) return store_result(ld, LDAP_DECODING_ERROR);
        if (found == 0) return store_result(ld, LDAP_SUCCESS);
        if (int rc = read_reference_field(ber.get(), tag, out); rc != LDAP_SUCCESS) return store_result(ld, rc);
    }
}

}  // namespace

// Entry change notification:
//
//   EntryChangeNotification ::= SEQUENCE {
//       changeType    ENUMERATED,
//       previousDN    LDAPDN OPTIONAL,
//       changeNumber  [0] IMPLICIT INTEGER OPTIONAL }
int parse_entry_change(LDAP *ld, LDAPControl **ctrls, int *change_type, char **prev_dn,
                       int *change_number_present, int *change_number)
{
    if (!change_type || (change_number_present == nullptr) != (change_number == nullptr))
        return store_result(ld, LDAP_PARAM_ERROR);
    if (!ctrls) return store_result(ld, LDAP_CONTROL_NOT_FOUND);
    if (prev_dn) *prev_dn = nullptr;
    const LDAPControl *control = find(ctrls, kEntryChangeOid);
    if (!control) return store_result(ld, LDAP_CONTROL_NOT_FOUND);
    BerPtr ber;
    if (int rc = open_reader(*control, ber); rc != LDAP_SUCCESS) return store_result(ld, rc);
    Contents sequence;
    ber_int_t type = 0;
    if (!sequence.open(ber.get()) || ber_get_enum(ber.get(), &type) == LBER_ERROR)
        return store_result(ld, LDAP_DECODING_ERROR);
    *change_type = type;
    ber_tag_t tag = LBER_DEFAULT;
    int found = sequence.next(tag);
    // The previous DN is stepped over even when not wanted, so that the
    // change number after it is still found.
    if (found > 0 && tag == kOctetString) {
        char *dn = nullptr;
        if (ber_get_stringa(ber.get(), &dn) == LBER_ERROR) return store_result(ld, LDAP_DECODING_ERROR);
        if (prev_dn) *prev_dn = dn;
        else ldap_memfree(dn);
        found = sequence.next(tag);
    }
    if (found < 0) return store_result(ld, LDAP_DECODING_ERROR);
    if (change_number_present) {
        *change_number_present = 0;
        if (found > 0 && tag == kChangeNumberTag) {
            ber_int_t number = 0;
            if (ber_get_int(ber.get(), &number) == LBER_ERROR) return store_result(ld, LDAP_DECODING_ERROR);
            *change_number = number;
            *change_number_present = 1;
        }
    }
    return store_result(ld, LDAP_SUCCESS);
}

}  // namespace dirext::controls

extern "C" {

int ldap_parse_entrychange_control(LDAP *ld, LDAPControl **ctrls, int *change_type, char **prev_dn,
                                   int *change_number_present, int *change_number)
{
    if (!ld) return LDAP_PARAM_ERROR;
    return dirext::controls::parse_entry_change(ld, ctrls, change_type, prev_dn, change_number_present,
                                                change_number);
}

int ldap_parse_sstatus_control(LDAP *ld, LDAPControl **ctrls, int *value0, int *value1, int *value2, int *value3)
{
    if (!ld) return LDAP_PARAM_ERROR;
    int *values[4] = {value0, value1, value2, value3};
    return dirext::controls::parse_status(ld, ctrls, values);
}

int ldap_parse_reference_control(LDAP *ld, LDAPControl **ctrls, char **s1, int *i2, char **s3, int *i4,
                                 char ***list5, char **s6)
{
    if (!ld) return LDAP_PARAM_ERROR;
    dirext::controls::ReferenceOut out{s1, i2, s3, i4, list5, s6};
    return dirext::controls::parse_reference(ld, ctrls, out);
}

}  // extern "C"
