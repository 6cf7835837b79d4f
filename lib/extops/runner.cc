#include "extops/runner.h"

#include <cstring>

#include "core/handles.h"
#include "core/ber_seam.h"
#include "core/boundary.h"
#include "core/result.h"

namespace dirext::extops {
namespace detail {

namespace {
constexpr ber_tag_t kConstructed = 0x20;

// The next element's tag, if its whole content is present.
ber_tag_t next_tag(BerElement *ber)
{
    ber_len_t len = 0;
    return ber_peek_tag(ber, &len);
}

bool tag_fits(char c, ber_tag_t tag)
{
    switch (c) {
    case 'i': return tag == LBER_INTEGER || tag == LBER_ENUMERATED;
    case 'a':
    case 'O': return tag == LBER_OCTETSTRING;
    case 'v':
    case '{':
    case '[': return tag != LBER_DEFAULT && (tag & kConstructed) != 0;
    default: return false;
    }
}
}  // namespace

bool enter_structure(BerElement *ber, const char *&format)
{
    for (; is_structure(*format); ++format) {
        if (*format == '}' || *format == ']') continue;
        if (!tag_fits(*format, next_tag(ber))) return false;
        if (ber_scanf(ber, *format == '{' ? "{" : "[") == LBER_ERROR) return false;
    }
    return true;
}

bool read_element(BerElement *ber, char c, void *out)
{
    if (!tag_fits(c, next_tag(ber))) return false;
    const char format[] = {c, '\0'};
    return ber_scanf(ber, format, out) != LBER_ERROR;
}

}  // namespace detail

namespace {

// ber_init copies the value; it must not see a null buffer, which libldap
// may hand over for an empty value.
BerElement *decoder_for(struct berval *value)
{
    static char empty[1];
    struct berval view = *value;
    if (!view.bv_val) view = {0, empty};
    return lber::init(&view);
}

int exchange(LDAP *ld, const Operation &op, BerElement *request, Decoder decode)
{
    BervalPtr request_value;
    if (request) {
        struct berval *flat = nullptr;
        if (lber::flatten(request, &flat) == -1) return LDAP_NO_MEMORY;
        request_value.reset(flat);
    }

    char *raw_name = nullptr;
    struct berval *raw_value = nullptr;
    int rc = ldap_extended_operation_s(ld, op.request_oid, request_value.get(), nullptr, nullptr, &raw_name,
                                       &raw_value);
    LdapStringPtr name(raw_name);
    BervalPtr value(raw_value);

    // Exact match, terminator included: a longer name sharing the prefix is another operation's.
    bool name_ok = name && (!op.response_oid || std::strcmp(name.get(), op.response_oid) == 0);
    if (op.conventions & kNameBeforeResult) {
        if (!name_ok) return LDAP_NOT_SUPPORTED;
        if (rc != LDAP_SUCCESS) return rc;
    } else {
        if (rc != LDAP_SUCCESS) return rc;
        if (!name_ok) return LDAP_NOT_SUPPORTED;
    }

    if (!decode) return LDAP_SUCCESS;
    if (!value) return LDAP_OPERATIONS_ERROR;
    BerPtr decoder(decoder_for(value.get()));
    if (!decoder) return op.no_decoder;
    return decode(decoder.get());
}

}  // namespace

int run(LDAP *ld, const Operation &op, Encoder encode, Decoder decode)
{
    return guard(LDAP_NO_MEMORY, LDAP_LOCAL_ERROR, [&] {
        if (!ld) return LDAP_PARAM_ERROR;
        BerPtr request;
        int rc = LDAP_SUCCESS;
        if (encode) {
            request.reset(lber::alloc_t(0));  // ber_alloc()
            if (!request) return LDAP_NO_MEMORY;
            rc = encode(request.get());
        }
        if (rc == LDAP_SUCCESS) rc = exchange(ld, op, request.get(), decode);
        // A refused argument never reaches the handle.
        if ((op.conventions & kStoresResult) && rc != LDAP_PARAM_ERROR) store_result(ld, rc);
        return rc;
    });
}

}  // namespace dirext::extops
