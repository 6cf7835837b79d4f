// Reading an IntermediateResponse in place.
//
// ldap_parse_intermediate duplicates the message's decoder and copies the
// name and the value; for an event notification those copies cost as much as
// decoding the event.  This reads the same elements, with the same rules,
// straight from the message's own bytes.
#include "events/envelope.h"

#include "events/span_reader.h"

#include <cstring>

// libldap 2.5 exports this (version node OPENLDAP_2.5) without declaring it
// in <ldap.h>: the message's decoder, positioned at the protocol op.
extern "C" BerElement *ldap_get_message_ber(LDAPMessage *message);

namespace dirext::events {
namespace {

// The bytes from the decoder's position to its end, without moving it.
bool unread_bytes(BerElement *ber, struct berval *bytes)
{
    struct berval read;  // from the start of the buffer to the position
    ber_len_t left = 0;
    if (!ber || ber_flatten2(ber, &read, 0) != 0 ||
        ber_get_option(ber, LBER_OPT_BER_REMAINING_BYTES, &left) != LBER_OPT_SUCCESS)
        return false;
    bytes->bv_val = read.bv_val + read.bv_len;
    bytes->bv_len = left;
    return true;
}

// libldap reads the name with ber_scanf "a" (refused when a NUL comes before
// the last octet) and the caller compares the copy with strcmp, so one
// final NUL is allowed.
bool name_is(const struct berval &found, const char *name)
{
    std::size_t n = found.bv_len;
    if (n && found.bv_val[n - 1] == '\0') --n;
    return n == std::strlen(name) && n != 0 && std::memcmp(found.bv_val, name, n) == 0;
}

bool is_name_tag(ber_tag_t tag) { return tag == LDAP_TAG_IM_RES_OID || tag == LDAP_TAG_EXOP_RES_OID; }
bool is_value_tag(ber_tag_t tag) { return tag == LDAP_TAG_IM_RES_VALUE || tag == LDAP_TAG_EXOP_RES_VALUE; }

}  // namespace

int intermediate_value(LDAP *ld, LDAPMessage *message, const char *name, struct berval *value)
{
    int version = 0;
    if (ldap_get_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS || version < LDAP_VERSION3)
        return LDAP_NOT_SUPPORTED;
    if (ldap_msgtype(message) != LDAP_RES_INTERMEDIATE) return LDAP_PARAM_ERROR;

    struct berval bytes;
    if (!unread_bytes(ldap_get_message_ber(message), &bytes)) return LDAP_DECODING_ERROR;
    SpanReader reader(bytes);
    // Entering the op, as "{" does, confines nothing: libldap reads the name
    // and the value from there on, and ignores whatever follows them.
    ber_len_t length = 0;
    if (reader.skip_tag(&length) == LBER_DEFAULT) return LDAP_DECODING_ERROR;
    struct berval found_name = {0, nullptr};
    ber_tag_t tag = reader.peek();
    if (is_name_tag(tag)) {
        if (reader.take(&found_name) == LBER_DEFAULT) return LDAP_DECODING_ERROR;
        if (found_name.bv_len > 1 && std::memchr(found_name.bv_val, 0, found_name.bv_len - 1))
            return LDAP_DECODING_ERROR;
        tag = reader.peek();
    }
    if (!is_value_tag(tag) || reader.take(value) == LBER_DEFAULT) return LDAP_DECODING_ERROR;
    // An empty name is refused too (libldap's own check of it is an assertion).
    if (!found_name.bv_val || !name_is(found_name, name)) return LDAP_DECODING_ERROR;
    return LDAP_SUCCESS;
}

}  // namespace dirext::events
