// The liblber calls that allocate on the library's behalf, behind the same
// failure hook as alloc(), so that a test reaches the out-of-memory paths
// that follow them too.  Each does what the liblber function of the same name
// does, or fails as it would when memory runs out.  (What liblber allocates
// inside its other calls stays out of reach: see core/alloc.h.)
#pragma once

#include <lber.h>

#include <cstddef>

namespace dirext::lber {

BerElement *alloc_t(int options);                 // ber_alloc_t; null on failure
BerElement *init(struct berval *bv);               // ber_init; null on failure
int flatten(BerElement *ber, struct berval **bvPtr);  // ber_flatten; -1 on failure
void *memalloc(std::size_t size);                  // ber_memalloc; null on failure

}  // namespace dirext::lber
