// Bytes in and out of liblber for the extended-operation tests.
#pragma once

#include <lber.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bytes.h"

namespace extops_test {

using wire::hex;
using wire::unhex;

struct BerFree {
    void operator()(BerElement *b) const { ber_free(b, 1); }
};
using Ber = std::unique_ptr<BerElement, BerFree>;

// hex with the "30 84 xx xx xx xx" long-form lengths that liblber writes: L(n)
// in a pattern becomes "84" and n as four bytes, e.g. "30" + L(3).
std::string L(unsigned n);

// A decoder over a copy of `bytes`.
Ber decoder(const std::string &bytes);

// Runs `encode` on a fresh encoder and returns its result code; on success
// `bytes` receives the flattened value.
int encode(const std::function<int(BerElement *)> &encode, std::string &bytes);

// What an encoder holds.
std::string flatten(BerElement *encoder);

// A response value built with liblber's own encoder.
template <typename... Args>
std::string ber(const char *format, Args... args)
{
    Ber e(ber_alloc_t(LBER_USE_DER));
    ber_printf(e.get(), format, args...);
    return flatten(e.get());
}

}  // namespace extops_test
