// An inline BER reader over bytes in memory, for the notification path.
//
// liblber spends several out-of-line calls on every element (peek, tag and
// rest, length, skip, decode); decoding a notification reads dozens of
// elements, so that cost dominated.  This reader does the same steps inline
// and accepts and refuses exactly what liblber's ber_peek_element,
// ber_skip_element, ber_skip_tag and ber_get_int accept and refuse: tags of
// up to eight octets, definite lengths of one to eight octets (no indefinite
// length, nothing beyond the bytes present), INTEGERs of at most four octets,
// sign-extended.  Unlike liblber it never looks at the byte behind the last
// element.  The readers_test compares the two on every input shape.
#pragma once

#include "dirext/events.h"

#include <cstddef>
#include <cstdint>

namespace dirext::events {

class SpanReader {
public:
    SpanReader() = default;
    explicit SpanReader(const struct berval &bytes)
        : ptr_(reinterpret_cast<const unsigned char *>(bytes.bv_val)), end_(ptr_ + bytes.bv_len)
    {
    }

    ber_len_t remaining() const { return static_cast<ber_len_t>(end_ - ptr_); }
    bool empty() const { return ptr_ == end_; }

    // The next element's tag and its contents in place, without moving
    // (ber_peek_element); LBER_DEFAULT when no whole element is there.
    ber_tag_t peek_element(struct berval *contents) const
    {
        const unsigned char *p = ptr_;
        std::size_t length = 0;
        ber_tag_t tag = read_header(p, &length);
        if (tag == LBER_DEFAULT) return LBER_DEFAULT;
        contents->bv_val = const_cast<char *>(reinterpret_cast<const char *>(p));
        contents->bv_len = length;
        return tag;
    }

    // The next element's tag (and contents length), or LBER_DEFAULT.
    ber_tag_t peek(ber_len_t *length = nullptr) const
    {
        struct berval contents;
        ber_tag_t tag = peek_element(&contents);
        if (length) *length = tag == LBER_DEFAULT ? 0 : contents.bv_len;
        return tag;
    }

    // Steps over the next element whole (ber_skip_element).
    ber_tag_t take(struct berval *contents)
    {
        ber_tag_t tag = peek_element(contents);
        if (tag != LBER_DEFAULT) ptr_ = reinterpret_cast<const unsigned char *>(contents->bv_val) + contents->bv_len;
        return tag;
    }

    // Steps into the next element: what follows is its contents, then
    // whatever comes behind it (ber_skip_tag, as "{" does).  As there, a
    // header that does not read is stepped over as far as it was read.
    ber_tag_t skip_tag(ber_len_t *length)
    {
        std::size_t len = 0;
        ber_tag_t tag = read_header(ptr_, &len);
        *length = tag == LBER_DEFAULT ? 0 : len;
        return tag;
    }

    // The next element, of any tag, as an INTEGER (ber_get_int).  As there,
    // an element too long for 32 bits is stepped over and fails.
    bool read_int(int32_t *out)
    {
        struct berval contents;
        if (take(&contents) == LBER_DEFAULT || contents.bv_len > sizeof(int32_t)) return false;
        const auto *p = reinterpret_cast<const unsigned char *>(contents.bv_val);
        uint32_t value = 0;
        if (contents.bv_len) value = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(p[0])));
        for (std::size_t i = 1; i < contents.bv_len; ++i) value = (value << 8) | p[i];
        *out = static_cast<int32_t>(value);
        return true;
    }

private:
    // Advances p over the tag and length octets, as far as they read; the
    // tag, or LBER_DEFAULT when they do not read or the contents would not
    // fit before end_.
    ber_tag_t read_header(const unsigned char *&p, std::size_t *length) const
    {
        ber_tag_t tag = read_tag(p);
        if (tag == LBER_DEFAULT || !read_length(p, length)) return LBER_DEFAULT;
        return tag;
    }

    // Advances p over the tag octets.
    ber_tag_t read_tag(const unsigned char *&p) const
    {
        if (p == end_) return LBER_DEFAULT;
        ber_tag_t tag = *p++;
        if ((tag & 0x1f) != 0x1f) return tag;
        for (;;) {  // high-tag-number form: more octets while bit 8 is set
            if (p == end_) return LBER_DEFAULT;
            tag = (tag << 8) | *p++;
            if (!(tag & 0x80)) return tag;
            if (tag > LBER_DEFAULT / 256) return LBER_DEFAULT;  // no room for another octet
        }
    }

    // Advances p over a definite length whose contents fit before end_.
    bool read_length(const unsigned char *&p, std::size_t *length) const
    {
        if (p == end_) return false;
        std::size_t len = *p++;
        std::size_t rest = static_cast<std::size_t>(end_ - p);
        if (len & 0x80) {
            const std::size_t octets = len & 0x7f;
            // 0x80 (indefinite) and more octets than a length holds fail.
            if (octets == 0 || octets > sizeof(ber_len_t) || rest < octets) return false;
            rest -= octets;
            len = 0;
            for (std::size_t i = 0; i < octets; ++i) len = (len << 8) | *p++;
        }
        if (len > rest) return false;
        *length = len;
        return true;
    }

    const unsigned char *ptr_ = nullptr;
    const unsigned char *end_ = nullptr;
};

}  // namespace dirext::events
