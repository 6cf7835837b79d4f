// The library's MD5, for the library's own use.  The exported MD5* functions
// are thin wrappers over these; code inside the library calls these so that
// a same-named definition elsewhere in the process (libcrypto's MD5, a BSD
// libmd's MD5Init) can never be bound in their place.
#pragma once

#include "dirext/sasl.h"

#include <cstddef>
#include <cstdint>

namespace dirext::md5 {

constexpr std::size_t kDigestSize = 16;

void init(MD5Context *ctx);
void update(MD5Context *ctx, const void *data, std::size_t len);
void final(unsigned char digest[kDigestSize], MD5Context *ctx);
void digest(const void *data, std::size_t len, unsigned char out[kDigestSize]);

// Wipes memory in a way the optimiser may not drop.
void wipe(void *p, std::size_t n);

}  // namespace dirext::md5
