// Small helpers over liblber for the event decoders.
//
// liblber's "{" enters any element but never limits what follows to it, so a
// short or malformed constructed element would let the next read run on into
// its neighbours.  The decoders therefore read every constructed element
// through a Scoped reader over exactly its contents; what the format does not
// define behind the fields it reads is skipped.
//
// The decoders are templates over the reader: LberReader (liblber, for the
// exported BerElement entry points) or SpanReader (inline, for whole
// notifications).  Both instantiations run the same descriptions.
#pragma once

#include "dirext/events.h"
#include "events/span_reader.h"

#include <cstddef>
#include <cstdint>

namespace dirext::events {

static_assert(sizeof(ber_int_t) == sizeof(int32_t), "record integers are ber_int_t");

constexpr ber_tag_t kTagInteger = 0x02;
constexpr ber_tag_t kTagOctetString = 0x04;
constexpr ber_tag_t kTagSet = 0x31;

// Result codes of the readers.
constexpr int kOk = LDAP_SUCCESS;
constexpr int kNoMemory = LDAP_NO_MEMORY;
constexpr int kDecodingError = LDAP_DECODING_ERROR;

[[noreturn]] void invariant_failed(const char *condition, const char *file, int line);

// Internal invariants: always checked, and the report names the source unit.
#define EVENTS_ASSERT(cond) \
    ((cond) ? static_cast<void>(0) : ::dirext::events::invariant_failed(#cond, __FILE__, __LINE__))

// Room for a decoder on the stack: liblber's private headers reserve 256
// bytes for a BerElement (LBER_ELEMENT_SIZEOF) for exactly this use.
union BerBuffer {
    unsigned char bytes[256];
    void *align_pointer;
    long double align_any;
    BerElement *get() { return reinterpret_cast<BerElement *>(bytes); }
};

// A decoder over `bytes` without copying them (they must outlive it).
inline BerElement *open_buffer(BerBuffer &buffer, struct berval *bytes)
{
    ber_init2(buffer.get(), bytes, LBER_USE_DER);
    return buffer.get();
}

inline ber_len_t remaining(BerElement *ber)
{
    ber_len_t left = 0;
    if (ber_get_option(ber, LBER_OPT_BER_REMAINING_BYTES, &left) != LBER_OPT_SUCCESS) return 0;
    return left;
}

// liblber behind the reader interface the decoders are written against (see
// SpanReader): the exported BerElement entry points read through it, so
// they step over exactly what liblber steps over.
class LberReader {
public:
    explicit LberReader(BerElement *ber) : ber_(ber) {}

    ber_len_t remaining() const { return events::remaining(ber_); }
    bool empty() const { return remaining() == 0; }
    ber_tag_t peek(ber_len_t *length = nullptr) const
    {
        ber_len_t len = 0;
        ber_tag_t tag = ber_peek_tag(ber_, &len);
        if (length) *length = len;
        return tag;
    }
    ber_tag_t take(struct berval *contents) { return ber_skip_element(ber_, contents); }
    ber_tag_t skip_tag(ber_len_t *length) { return ber_skip_tag(ber_, length); }
    bool read_int(int32_t *out)
    {
        ber_int_t value = 0;
        if (ber_get_int(ber_, &value) == LBER_DEFAULT) return false;
        *out = value;
        return true;
    }

private:
    BerElement *ber_;
};

// The same verbs as free functions, for either reader.
template <typename R>
ber_tag_t peek(R &r, ber_len_t *length = nullptr)
{
    return r.peek(length);
}
template <typename R>
ber_tag_t take(R &r, struct berval *contents)
{
    return r.take(contents);
}
template <typename R>
bool read_int(R &r, int32_t *out)
{
    return r.read_int(out);
}
template <typename R>
ber_len_t remaining(const R &r)
{
    return r.remaining();
}

// A reader confined to one element's contents, over the same bytes.
template <typename R>
class Scoped;

template <>
class Scoped<LberReader> {
public:
    explicit Scoped(struct berval contents) : contents_(contents), reader_(open_buffer(buffer_, &contents_)) {}
    Scoped(const Scoped &) = delete;
    Scoped &operator=(const Scoped &) = delete;

    LberReader &get() { return reader_; }
    bool empty() const { return reader_.empty(); }

private:
    struct berval contents_;
    BerBuffer buffer_;
    LberReader reader_;
};

template <>
class Scoped<SpanReader> {
public:
    explicit Scoped(struct berval contents) : reader_(contents) {}
    SpanReader &get() { return reader_; }
    bool empty() const { return reader_.empty(); }

private:
    SpanReader reader_;
};

// Opens the next element of `r`; false when it cannot be read.
template <typename R>
bool open(R &r, struct berval *contents, ber_tag_t *tag = nullptr)
{
    ber_tag_t t = r.take(contents);
    if (tag) *tag = t;
    return t != LBER_DEFAULT;
}

// An exact-size, NUL-terminated copy of `bytes` from the allocation seam;
// null when out of memory.
char *copy_bytes(const struct berval &bytes);

// Reads one primitive element whose tag must be `tag` into a fresh copy: an
// empty element delivers null.  Returns kOk, kNoMemory or kDecodingError;
// *out is null on failure.
template <typename R>
int read_string(R &ber, ber_tag_t tag, char **out, ber_len_t *length = nullptr);

// The trailing-address step and the network-address reader without touching
// a handle: the frame stores the final code once.
template <typename R>
int read_net_address(R &ber, NetAddrEventData **out);
template <typename R>
int read_trailing_address(R &ber, NetAddrEventData **out);

// The element readers behind the exported parse* functions, for either
// reader; each is all-or-nothing, as the exported ones are.
template <typename R>
int read_string_list(R &ber, char ***out);
template <typename R>
int read_referral_list(R &ber, int *count, ReferralAddress **list);
template <typename R>
int read_connection(R &ber, ConnectionData **out);

}  // namespace dirext::events
