// Element readers shared by every body decoder: strings, string lists,
// referral lists, the connection block and network addresses.
//
// Every reader is all-or-nothing: on failure it releases what it allocated
// and delivers null, so a caller never has to clean up after a failed read.
#include "core/alloc.h"
#include "core/handles.h"
#include "core/result.h"
#include "events/records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace dirext::events {

void invariant_failed(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "events: %s:%d: invariant failed: %s\n", file, line, condition);
    std::abort();
}

char *copy_bytes(const struct berval &bytes)
{
    return dup_bytes(bytes.bv_val, bytes.bv_len);
}

template <typename R>
int read_string(R &ber, ber_tag_t tag, char **out, ber_len_t *length)
{
    *out = nullptr;
    if (length) *length = 0;
    struct berval contents;
    ber_tag_t found = take(ber, &contents);
    if (found == LBER_DEFAULT || found != tag) return kDecodingError;
    if (contents.bv_len == 0) return kOk;
    char *copy = copy_bytes(contents);
    if (!copy) return kNoMemory;
    *out = copy;
    if (length) *length = contents.bv_len;
    return kOk;
}

void free_string_list(char **list)
{
    if (!list) return;
    for (char **s = list; *s; ++s) std::free(*s);
    std::free(list);
}

void free_referral_list(int count, ReferralAddress *list)
{
    if (!list) return;
    for (int i = 0; i < count; ++i) std::free(list[i].data);
    std::free(list);
}

void free_connection_data(ConnectionData *block)
{
    if (!block) return;
    std::free(block->string1);
    std::free(block);
}

namespace {

using StringList = std::unique_ptr<char *[], Deleter<free_string_list>>;

struct ReferralsFree {
    int count;
    void operator()(ReferralAddress *list) const { free_referral_list(count, list); }
};

// One list member: a wrapper (any tag) whose contents begin with an OCTET
// STRING; delivers the string's bytes in place.
template <typename R>
int wrapped_string(R &list, struct berval *bytes)
{
    struct berval wrapper;
    if (!open(list, &wrapper)) return kDecodingError;
    Scoped<R> inner(wrapper);
    ber_tag_t tag = take(inner.get(), bytes);
    return tag == kTagOctetString ? kOk : kDecodingError;
}

}  // namespace

template <typename R>
int read_net_address(R &ber, NetAddrEventData **out)
{
    *out = nullptr;
    int32_t type = 0;
    if (!read_int(ber, &type)) return kDecodingError;
    struct berval bytes;
    if (take(ber, &bytes) != kTagOctetString) return kDecodingError;
    std::unique_ptr<NetAddrEventData, Deleter<free_record>> record(static_cast<NetAddrEventData *>(
        allocate_record(sizeof(NetAddrEventData) + bytes.bv_len + 1, DIREXT_EVENT_NET_ADDRESS)));
    if (!record) return kNoMemory;
    record->type = type;
    record->length = static_cast<int32_t>(bytes.bv_len);
    if (bytes.bv_len) std::memcpy(record->address, bytes.bv_val, bytes.bv_len);
    record->address[bytes.bv_len] = '\0';
    *out = record.release();
    return kOk;
}

// Whatever follows the body's fields is left alone unless it is an address,
// but bytes that do not even form an element mean the body is damaged.
template <typename R>
int read_trailing_address(R &ber, NetAddrEventData **out)
{
    const ber_tag_t tag = peek(ber);
    if (tag == LBER_DEFAULT) return remaining(ber) ? kDecodingError : kOk;
    if (tag != kTagInteger) return kOk;
    return read_net_address(ber, out);
}

template <typename R>
int read_string_list(R &ber, char ***out)
{
    if (remaining(ber) == 0) return kOk;  // absent: the caller's preset stays

    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;

    // One pass finds the members in place, so that the array is allocated
    // once, exactly; only lists longer than kRemembered are read twice.
    constexpr std::size_t kRemembered = 16;
    struct berval found[kRemembered];
    std::size_t count = 0;
    for (Scoped<R> scan(contents); !scan.empty(); ++count) {
        struct berval bytes;
        if (wrapped_string(scan.get(), &bytes) != kOk) return kDecodingError;
        if (count < kRemembered) found[count] = bytes;
    }
    StringList list(static_cast<char **>(dirext::alloc_zeroed(count + 1, sizeof(char *))));
    if (!list) return kNoMemory;
    Scoped<R> again(contents);
    for (std::size_t i = 0; i < count; ++i) {
        struct berval bytes;
        if (count <= kRemembered) bytes = found[i];
        else if (wrapped_string(again.get(), &bytes) != kOk) return kDecodingError;
        // An empty member is kept as "": a null would end the list.
        list[i] = copy_bytes(bytes);
        if (!list[i]) return kNoMemory;
    }
    EVENTS_ASSERT(list[count] == nullptr);
    *out = list.release();
    return kOk;
}

template <typename R>
int read_referral_list(R &ber, int *count, ReferralAddress **list)
{
    *count = 0;
    *list = nullptr;
    // Nothing left, or the trailing address already: no referrals.
    if (remaining(ber) == 0 || peek(ber) == kTagInteger) return kOk;

    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;
    Scoped<R> body(contents);
    if (body.empty()) return kOk;

    int32_t n = 0;
    struct berval entries;
    if (!read_int(body.get(), &n) || !open(body.get(), &entries)) return kDecodingError;
    // Every entry takes several bytes: a count beyond the bytes present
    // cannot be read, and must not turn into a huge allocation.
    if (n < 0 || static_cast<ber_len_t>(n) > entries.bv_len) return kDecodingError;
    if (n == 0) return kOk;

    std::unique_ptr<ReferralAddress, ReferralsFree> addresses(
        static_cast<ReferralAddress *>(dirext::alloc_zeroed(n, sizeof(ReferralAddress))), ReferralsFree{n});
    if (!addresses) return kNoMemory;
    Scoped<R> each(entries);
    for (int32_t i = 0; i < n; ++i) {
        ReferralAddress &entry = addresses.get()[i];
        struct berval one;
        if (!open(each.get(), &one)) return kDecodingError;
        Scoped<R> fields(one);
        if (!read_int(fields.get(), &entry.type)) return kDecodingError;
        ber_len_t length = 0;
        int rc = read_string(fields.get(), kTagOctetString, &entry.data, &length);
        if (rc != kOk) return rc;
        entry.length = static_cast<int32_t>(length);
    }
    *count = n;
    *list = addresses.release();
    return kOk;
}

template <typename R>
int read_connection(R &ber, ConnectionData **out)
{
    *out = nullptr;
    if (remaining(ber) == 0) return kOk;
    struct berval contents;
    if (!open(ber, &contents)) return kDecodingError;
    Scoped<R> fields(contents);
    if (fields.empty()) return kOk;

    std::unique_ptr<ConnectionData, Deleter<free_connection_data>> block(
        static_cast<ConnectionData *>(dirext::alloc_zeroed(1, sizeof(ConnectionData))));
    if (!block) return kNoMemory;
    if (!read_int(fields.get(), &block->integer1) || !read_int(fields.get(), &block->integer2))
        return kDecodingError;
    int rc = read_string(fields.get(), kTagOctetString, &block->string1);
    if (rc != kOk) return rc;
    *out = block.release();
    return kOk;
}

#define INSTANTIATE(R)                                                          \
    template int read_string<R>(R &, ber_tag_t, char **, ber_len_t *);         \
    template int read_net_address<R>(R &, NetAddrEventData **);                \
    template int read_trailing_address<R>(R &, NetAddrEventData **);           \
    template int read_string_list<R>(R &, char ***);                           \
    template int read_referral_list<R>(R &, int *, ReferralAddress **);        \
    template int read_connection<R>(R &, ConnectionData **);
INSTANTIATE(LberReader)
INSTANTIATE(SpanReader)
#undef INSTANTIATE

}  // namespace dirext::events

using namespace dirext::events;
using dirext::store_result;

extern "C" {

int parseLDAPString(BerElement *ber, char **out, ber_tag_t expectedTag)
{
    if (!ber || !out) return LDAP_PARAM_ERROR;
    LberReader reader(ber);
    return read_string(reader, expectedTag ? expectedTag : kTagOctetString, out);
}

int parseOctetString(BerElement *ber, char **out, ber_len_t *length, ber_tag_t expectedTag)
{
    if (!ber || !out || !length) return LDAP_PARAM_ERROR;
    LberReader reader(ber);
    return read_string(reader, expectedTag ? expectedTag : kTagOctetString, out, length);
}

int parseStringSequence(BerElement *ber, char ***out)
{
    if (!ber || !out) return LDAP_PARAM_ERROR;
    LberReader reader(ber);
    return read_string_list(reader, out);
}

void freeStringSequence(char **list)
{
    free_string_list(list);
}

int parseReferralList(BerElement *ber, int *count, ReferralAddress **list)
{
    if (!ber || !count || !list) return LDAP_PARAM_ERROR;
    LberReader reader(ber);
    return read_referral_list(reader, count, list);
}

void freeReferralList(int count, ReferralAddress *list)
{
    free_referral_list(count, list);
}

int parseConnectionData(BerElement *ber, ConnectionData **out)
{
    if (!ber || !out) return LDAP_PARAM_ERROR;
    LberReader reader(ber);
    return read_connection(reader, out);
}

void freeConnectionData(ConnectionData *block)
{
    free_connection_data(block);
}

int parseNetAddrEventData(LDAP *ld, BerElement *ber, NetAddrEventData **out)
{
    if (!ber || !out) {
        store_result(ld, LDAP_PARAM_ERROR);
        return LDAP_PARAM_ERROR;
    }
    LberReader reader(ber);
    int rc = read_net_address(reader, out);
    store_result(ld, rc);
    return rc;
}

int ber_get_IP(LDAP *ld, BerElement *ber, NetAddrEventData **out)
{
    if (!ber || !out) {
        store_result(ld, LDAP_PARAM_ERROR);
        return LDAP_PARAM_ERROR;
    }
    NetAddrEventData *address = nullptr;
    LberReader reader(ber);
    int rc = read_trailing_address(reader, &address);
    if (address) *out = address;
    if (rc != kOk || address) store_result(ld, rc);
    return rc;
}

}  // extern "C"
