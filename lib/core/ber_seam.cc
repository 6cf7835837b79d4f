#include "core/ber_seam.h"

#include "core/alloc.h"

namespace dirext::lber {

BerElement *alloc_t(int options) { return alloc_fails(sizeof(void *)) ? nullptr : ber_alloc_t(options); }

BerElement *init(struct berval *bv) { return alloc_fails(bv ? bv->bv_len : 0) ? nullptr : ber_init(bv); }

int flatten(BerElement *ber, struct berval **bvPtr)
{
    return alloc_fails(sizeof(struct berval)) ? -1 : ber_flatten(ber, bvPtr);
}

void *memalloc(std::size_t size) { return alloc_fails(size) ? nullptr : ber_memalloc(size); }

}  // namespace dirext::lber
