// The replication filter: flat text for callers, nested SEQUENCEs on the wire.
#include <cstring>

#include "core/handles.h"
#include "extops/codecs.h"
#include "extops/runner.h"
#include "extops/text.h"

namespace dirext::extops {
namespace {
// The BER value is always longer than the text it renders to; this bounds the
// text buffer's size arithmetic.
constexpr ber_len_t kLongestFilterValue = 2147483644;

int put_name(BerElement *ber, const char *format, const char *begin, const char *end)
{
    return ber_printf(ber, format, begin, static_cast<ber_len_t>(end - begin)) == -1 ? LDAP_ENCODING_ERROR
                                                                                     : LDAP_SUCCESS;
}
}  // namespace

// Walks "class$attr$...$$" entries until the "$" that ends the filter; a name
// without its closing "$" makes the text malformed.
int encode_replication_filter(BerElement *ber, const char *server_dn, const char *filter)
{
    if (ber_printf(ber, "s{", server_dn) == -1) return LDAP_ENCODING_ERROR;
    const char *cursor = filter;
    while (*cursor != '$') {
        const char *cut = std::strchr(cursor, '$');
        if (!cut) return LDAP_PARAM_ERROR;
        if (int rc = put_name(ber, "{o{", cursor, cut)) return rc;
        while (cut[1] != '$') {
            cursor = cut + 1;
            cut = std::strchr(cursor, '$');
            if (!cut) return LDAP_PARAM_ERROR;
            if (int rc = put_name(ber, "o", cursor, cut)) return rc;
        }
        if (ber_printf(ber, "}}") == -1) return LDAP_ENCODING_ERROR;
        cursor = cut + 2;
    }
    return ber_printf(ber, "}") == -1 ? LDAP_ENCODING_ERROR : LDAP_SUCCESS;
}

int decode_replication_filter(BerElement *ber, char **out)
{
    ber_len_t remaining = 0;
    ber_get_option(ber, LBER_OPT_REMAINING_BYTES, &remaining);
    if (remaining > kLongestFilterValue) return LDAP_DECODING_ERROR;

    Text text;
    if (!text.reserve(remaining + 2)) {
        *out = nullptr;
        return LDAP_NO_MEMORY;
    }
    // Whatever was rendered goes to the caller, on failure too.
    auto hand_over = [&](int rc) {
        *out = text.release().release();
        return rc;
    };

    ber_len_t length = 0;
    ber_tag_t tag = ber_peek_tag(ber, &length);
    if (tag == LBER_DEFAULT || !(tag & 0x20)) return hand_over(LDAP_DECODING_ERROR);
    char *last = nullptr;
    std::size_t entries = 0;
    for (tag = ber_first_element(ber, &length, &last); tag != LBER_DEFAULT;
         tag = ber_next_element(ber, &length, last)) {
        char *raw_class = nullptr;
        char **raw_attributes = nullptr;
        bool ok = scan_fields(ber, "{av}", &raw_class, &raw_attributes);
        LdapStringPtr object_class(raw_class);
        LdapValuesPtr attributes(raw_attributes);
        if (!ok) return hand_over(LDAP_DECODING_ERROR);
        bool fits = text.append(object_class ? object_class.get() : "") && text.append("$");
        for (char **a = attributes.get(); fits && a && *a; ++a) fits = text.append(*a) && text.append("$");
        if (!(fits && text.append("$"))) return hand_over(LDAP_NO_MEMORY);
        ++entries;
    }
    if (entries > 0 && !text.append("$")) return hand_over(LDAP_NO_MEMORY);
    return hand_over(LDAP_SUCCESS);
}

}  // namespace dirext::extops

using namespace dirext::extops;

extern "C" {

int ldap_set_replication_filter(LDAP *ld, const char *serverDN, const char *filter)
{
    if (!serverDN || !filter) return LDAP_PARAM_ERROR;
    return run(
        ld, operation(Op::SetReplicationFilter),
        [=](BerElement *ber) { return encode_replication_filter(ber, serverDN, filter); }, nullptr);
}

int ldap_get_replication_filter(LDAP *ld, const char *serverDN, char **filter)
{
    if (!serverDN || !filter) return LDAP_PARAM_ERROR;
    return call<Op::GetReplicationFilter>(
        ld, [filter](BerElement *ber) { return decode_replication_filter(ber, filter); }, serverDN);
}

}  // extern "C"
