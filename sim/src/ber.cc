#include "ber.h"

namespace dirsim::detail {

std::string to_hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0f];
    }
    return out;
}

Reader::Reader(const berval &contents)
    : ber_(reinterpret_cast<BerElement *>(room_.bytes)), end_(contents.bv_val + contents.bv_len)
{
    // The bytes stay whoever handed them in; ber_init2 only points at them.
    berval copy = contents;
    ber_init2(ber_, &copy, LBER_USE_DER);
}

Reader::Reader(BerElement *borrowed) : ber_(borrowed) {}

Reader::~Reader() = default;

bool Reader::at_end() const
{
    return !ber_ || ber_remaining(ber_) <= 0;
}

ber_tag_t Reader::peek() const
{
    if (at_end()) return LBER_DEFAULT;
    berval contents;
    return ber_peek_element(ber_, &contents);
}

bool Reader::any(ber_tag_t &tag, berval &contents)
{
    if (at_end()) return false;
    tag = ber_skip_element(ber_, &contents);
    return tag != LBER_DEFAULT;
}

bool Reader::element(ber_tag_t tag, berval &contents)
{
    if (!end_) {  // borrowed: look before taking
        ber_tag_t got;
        return peek() == tag && any(got, contents);
    }
    // Over contents of its own the Reader takes the element and, on the
    // rare wrong tag, starts again where it stood: one read of the header
    // where looking first would read it twice.
    if (at_end()) return false;
    const ber_len_t left = ber_remaining(ber_);
    const ber_tag_t got = ber_skip_element(ber_, &contents);
    if (got == tag) return true;
    if (got != LBER_DEFAULT) {
        berval rest{left, const_cast<char *>(end_ - left)};
        ber_init2(ber_, &rest, LBER_USE_DER);
    }
    return false;
}

bool Reader::string(ber_tag_t tag, std::string &out)
{
    berval contents;
    if (!element(tag, contents)) return false;
    out = to_string(contents);
    return true;
}

bool Reader::integer(ber_tag_t tag, ber_int_t &out)
{
    if (peek() != tag) return false;
    ber_int_t v = 0;
    if (ber_get_int(ber_, &v) == LBER_DEFAULT) return false;
    out = v;
    return true;
}

bool Reader::boolean(ber_tag_t tag, bool &out)
{
    ber_int_t v = 0;
    if (!integer(tag, v)) return false;
    out = v != 0;
    return true;
}

}  // namespace dirsim::detail
