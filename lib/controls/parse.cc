// Response controls: entry change, status and reference.
#include <cstring>

#include "controls/internal.h"

namespace dirext::controls {
namespace {

constexpr ber_tag_t kOctetString = 0x04;

// The first control whose OID is exactly oid, or null.
const LDAPControl *find(LDAPControl **ctrls, const char *oid)
{
    for (; *ctrls; ++ctrls)
        if ((*ctrls)->ldctl_oid && std::strcmp((*ctrls)->ldctl_oid, oid) == 0) return *ctrls;
    return nullptr;
}

// A reader over a copy of the control's value.
BerPtr reader(const LDAPControl &control)
{
    berval value = control.ldctl_value;
    if (!value.bv_val) value = {0, const_cast<char *>("")};  // no value: nothing to read
    return BerPtr(ber_init(&value));
}

ber_tag_t peek(BerElement *ber)
{
    ber_len_t len = 0;
    return ber_peek_tag(ber, &len);
}

int parse_status(LDAP *ld, LDAPControl **ctrls, int *values[4])
{
    if (!ctrls) return store(ld, LDAP_CONTROL_NOT_FOUND);
    const LDAPControl *control = find(ctrls, kStatusOid);
    if (!control) return store(ld, LDAP_CONTROL_NOT_FOUND);
    const BerPtr ber = reader(*control);
    if (!ber) return store(ld, LDAP_NO_MEMORY);
    if (ber_scanf(ber.get(), "{") == LBER_ERROR) return store(ld, LDAP_DECODING_ERROR);
    for (unsigned i = 0; i < 4; ++i) {
        if (peek(ber.get()) != 0x80 + i) continue;
        ber_int_t number = 0;
        if (ber_get_int(ber.get(), &number) == LBER_ERROR) return store(ld, LDAP_DECODING_ERROR);
        if (values[i]) *values[i] = number;
    }
    return store(ld, LDAP_SUCCESS);
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

int parse_reference(LDAP *ld, LDAPControl **ctrls, ReferenceOut &out)
{
    if (!ctrls) return store(ld, LDAP_CONTROL_NOT_FOUND);
    const LDAPControl *control = find(ctrls, kReferenceOid);
    if (!control) return store(ld, LDAP_CONTROL_NOT_FOUND);
    const BerPtr ber = reader(*control);
    if (!ber) return store(ld, LDAP_NO_MEMORY);
    ber_len_t len = 0;
    char *last = nullptr;
    ber_tag_t tag = ber_first_element(ber.get(), &len, &last);
    if (!last) return store(ld, LDAP_DECODING_ERROR);  // no SET at all (an empty one is fine)
    for (; tag != LBER_DEFAULT; tag = ber_next_element(ber.get(), &len, last)) {
        if (int rc = read_reference_field(ber.get(), tag, out); rc != LDAP_SUCCESS) return store(ld, rc);
    }
    return store(ld, LDAP_SUCCESS);
}

}  // namespace

int parse_entry_change(LDAP *ld, LDAPControl **ctrls, int *change_type, char **prev_dn,
                       int *change_number_present, int *change_number)
{
    if (!change_type || (change_number_present == nullptr) != (change_number == nullptr))
        return store(ld, LDAP_PARAM_ERROR);
    if (!ctrls) return store(ld, LDAP_CONTROL_NOT_FOUND);
    if (prev_dn) *prev_dn = nullptr;
    const LDAPControl *control = find(ctrls, kEntryChangeOid);
    if (!control) return store(ld, LDAP_CONTROL_NOT_FOUND);
    const BerPtr ber = reader(*control);
    if (!ber) return store(ld, LDAP_NO_MEMORY);
    ber_int_t type = 0;
    if (ber_scanf(ber.get(), "{e", &type) == LBER_ERROR) return store(ld, LDAP_DECODING_ERROR);
    *change_type = type;
    // The previous DN is stepped over even when not wanted, so that the
    // change number after it is still found.
    if (peek(ber.get()) == kOctetString) {
        char *dn = nullptr;
        if (ber_get_stringa(ber.get(), &dn) == LBER_ERROR) return store(ld, LDAP_DECODING_ERROR);
        if (prev_dn) *prev_dn = dn;
        else ldap_memfree(dn);
    }
    if (change_number_present) {
        *change_number_present = 0;
        if (peek(ber.get()) == 0x80) {
            ber_int_t number = 0;
            if (ber_get_int(ber.get(), &number) == LBER_ERROR) return store(ld, LDAP_DECODING_ERROR);
            *change_number = number;
            *change_number_present = 1;
        }
    }
    return store(ld, LDAP_SUCCESS);
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
