// BER helpers shared by the core and the handlers: owning pointers, bounded
// reading of one element's contents, hex for the request log.
#pragma once

#include <lber.h>

#include <memory>
#include <string>
#include <string_view>

namespace dirsim::detail {

struct BerFree {
    void operator()(BerElement *ber) const { ber_free(ber, 1); }
};
using BerPtr = std::unique_ptr<BerElement, BerFree>;

// A berval that points at s (no copy); valid while s lives.
inline berval as_berval(std::string_view s)
{
    berval v;
    v.bv_len = s.size();
    v.bv_val = const_cast<char *>(s.data());
    return v;
}

inline std::string to_string(const berval &v)
{
    return v.bv_len ? std::string(v.bv_val, v.bv_len) : std::string();
}

std::string to_hex(std::string_view bytes);

// Reads the elements inside one BER value without ever running past its end.
// It never writes into the buffer (liblber's in-place string reads would), so
// contents handed out stay valid and may be read by nested Readers.  A Reader
// over contents keeps its decoder in itself: requests nest a Reader per
// element, and a heap decoder for each was a good part of their cost.
class Reader {
public:
    explicit Reader(const berval &contents);  // reads those bytes (not copied)
    explicit Reader(BerElement *borrowed);    // reads on from where ber stands
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    bool at_end() const;
    ber_tag_t peek() const;  // LBER_DEFAULT at the end or on a broken header
    bool any(ber_tag_t &tag, berval &contents);
    bool element(ber_tag_t tag, berval &contents);
    bool string(ber_tag_t tag, std::string &out);
    bool integer(ber_tag_t tag, ber_int_t &out);
    bool boolean(ber_tag_t tag, bool &out);

private:
    // Room for a BerElement: liblber's private headers reserve 256 bytes for
    // one (LBER_ELEMENT_SIZEOF), for decoders that live on the stack.
    union Room {
        unsigned char bytes[256];
        void *align_pointer;
        long double align_any;
    };
    Room room_;
    BerElement *ber_;
    const char *end_ = nullptr;  // the end of the contents; null when borrowed
};

}  // namespace dirsim::detail
