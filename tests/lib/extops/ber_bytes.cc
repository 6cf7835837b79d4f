#include "ber_bytes.h"

#include <cstdio>

namespace extops_test {

std::string L(unsigned n)
{
    char text[16];
    std::snprintf(text, sizeof text, "84%08x", n);
    return text;
}

Ber decoder(const std::string &bytes)
{
    struct berval value = {bytes.size(), const_cast<char *>(bytes.data())};
    return Ber(ber_init(&value));
}

std::string flatten(BerElement *encoder)
{
    struct berval *flat = nullptr;
    if (ber_flatten(encoder, &flat) == -1) return {};
    std::string out(flat->bv_val, flat->bv_len);
    ber_bvfree(flat);
    return out;
}

int encode(const std::function<int(BerElement *)> &encode, std::string &bytes)
{
    Ber e(ber_alloc());  // as the library does: sequence lengths in the four-byte form
    int rc = encode(e.get());
    if (rc == 0) bytes = flatten(e.get());
    return rc;
}

}  // namespace extops_test
