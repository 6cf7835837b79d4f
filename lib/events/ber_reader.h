// Small helpers over liblber for the event decoders.
//
// liblber's "{" enters any element but never limits what follows to it, so a
// short or malformed constructed element would let the next read run on into
// its neighbours.  The decoders therefore read every constructed element
// through a Scoped reader over exactly its contents; what the format does not
// define behind the fields it reads is skipped.
#pragma once

#include "dirext/events.h"

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

// The tag of the next element, or LBER_DEFAULT when there is none that reads.
inline ber_tag_t peek(BerElement *ber, ber_len_t *length = nullptr)
{
    ber_len_t len = 0;
    ber_tag_t tag = ber_peek_tag(ber, &len);
    if (length) *length = len;
    return tag;
}

// Takes the next element whole; contents points into the decoder's buffer.
inline ber_tag_t take(BerElement *ber, struct berval *contents)
{
    return ber_skip_element(ber, contents);
}

inline bool read_int(BerElement *ber, int32_t *out)
{
    ber_int_t value = 0;
    if (ber_get_int(ber, &value) == LBER_DEFAULT) return false;
    *out = value;
    return true;
}

// A reader confined to one element's contents, over the same bytes.
class Scoped {
public:
    explicit Scoped(struct berval contents) : contents_(contents) { open_buffer(buffer_, &contents_); }
    Scoped(const Scoped &) = delete;
    Scoped &operator=(const Scoped &) = delete;

    BerElement *get() { return buffer_.get(); }
    bool empty() { return remaining(get()) == 0; }

    // Opens the next element of `ber`; false when it cannot be read.
    static bool open(BerElement *ber, struct berval *contents, ber_tag_t *tag = nullptr)
    {
        ber_tag_t t = take(ber, contents);
        if (tag) *tag = t;
        return t != LBER_DEFAULT;
    }

private:
    struct berval contents_;
    BerBuffer buffer_;
};

// An exact-size, NUL-terminated copy of `bytes` from the allocation seam;
// null when out of memory.
char *copy_bytes(const struct berval &bytes);

// Reads one primitive element whose tag must be `tag` into a fresh copy: an
// empty element delivers null.  Returns kOk, kNoMemory or kDecodingError;
// *out is null on failure.
int read_string(BerElement *ber, ber_tag_t tag, char **out, ber_len_t *length = nullptr);

// The trailing-address step and the network-address reader without touching
// a handle: the frame stores the final code once.
int read_net_address(BerElement *ber, NetAddrEventData **out);
int read_trailing_address(BerElement *ber, NetAddrEventData **out);

// Stores `code` as the handle's result code (no handle: nothing to do).
void store_result(LDAP *ld, int code);

}  // namespace dirext::events
