// MD5 (RFC 1321) with 32-bit words.  The rounds are unrolled by macros and
// read the message straight from the caller's buffer, which keeps it within
// reach of libcrypto's assembly version.
#include "sasl/md5.h"

#include <bit>
#include <cstring>

namespace dirext::md5 {
namespace {

inline std::uint32_t load_le32(const unsigned char *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void store_le32(unsigned char *p, std::uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

// F and G in forms that shorten the dependency chain on b: F selects with one
// fewer operation, G's two terms are disjoint and may be added separately.
#define DIREXT_MD5_F(a, b, c, d, x, s, k)                 \
    a += ((d) ^ ((b) & ((c) ^ (d)))) + (x) + (k);          \
    a = std::rotl(a, s) + (b)
#define DIREXT_MD5_G(a, b, c, d, x, s, k)                 \
    a += (x) + (k) + (~(d) & (c));                         \
    a += (d) & (b);                                        \
    a = std::rotl(a, s) + (b)
#define DIREXT_MD5_H(a, b, c, d, x, s, k)                 \
    a += ((b) ^ (c) ^ (d)) + (x) + (k);                    \
    a = std::rotl(a, s) + (b)
#define DIREXT_MD5_I(a, b, c, d, x, s, k)                 \
    a += ((c) ^ ((b) | ~(d))) + (x) + (k);                 \
    a = std::rotl(a, s) + (b)

void transform(std::uint32_t state[4], const unsigned char *p, std::size_t blocks)
{
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks; --blocks, p += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = load_le32(p + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        DIREXT_MD5_F(a, b, c, d, x[0], 7, 0xd76aa478u);
        DIREXT_MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756u);
        DIREXT_MD5_F(c, d, a, b, x[2], 17, 0x242070dbu);
        DIREXT_MD5_F(b, c, d, a, x[3], 22, 0xc1bdceeeu);
        DIREXT_MD5_F(a, b, c, d, x[4], 7, 0xf57c0fafu);
        DIREXT_MD5_F(d, a, b, c, x[5], 12, 0x4787c62au);
        DIREXT_MD5_F(c, d, a, b, x[6], 17, 0xa8304613u);
        DIREXT_MD5_F(b, c, d, a, x[7], 22, 0xfd469501u);
        DIREXT_MD5_F(a, b, c, d, x[8], 7, 0x698098d8u);
        DIREXT_MD5_F(d, a, b, c, x[9], 12, 0x8b44f7afu);
        DIREXT_MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1u);
        DIREXT_MD5_F(b, c, d, a, x[11], 22, 0x895cd7beu);
        DIREXT_MD5_F(a, b, c, d, x[12], 7, 0x6b901122u);
        DIREXT_MD5_F(d, a, b, c, x[13], 12, 0xfd987193u);
        DIREXT_MD5_F(c, d, a, b, x[14], 17, 0xa679438eu);
        DIREXT_MD5_F(b, c, d, a, x[15], 22, 0x49b40821u);

        DIREXT_MD5_G(a, b, c, d, x[1], 5, 0xf61e2562u);
        DIREXT_MD5_G(d, a, b, c, x[6], 9, 0xc040b340u);
        DIREXT_MD5_G(c, d, a, b, x[11], 14, 0x265e5a51u);
        DIREXT_MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aau);
        DIREXT_MD5_G(a, b, c, d, x[5], 5, 0xd62f105du);
        DIREXT_MD5_G(d, a, b, c, x[10], 9, 0x02441453u);
        DIREXT_MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681u);
        DIREXT_MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8u);
        DIREXT_MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6u);
        DIREXT_MD5_G(d, a, b, c, x[14], 9, 0xc33707d6u);
        DIREXT_MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87u);
        DIREXT_MD5_G(b, c, d, a, x[8], 20, 0x455a14edu);
        DIREXT_MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905u);
        DIREXT_MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8u);
        DIREXT_MD5_G(c, d, a, b, x[7], 14, 0x676f02d9u);
        DIREXT_MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8au);

        DIREXT_MD5_H(a, b, c, d, x[5], 4, 0xfffa3942u);
        DIREXT_MD5_H(d, a, b, c, x[8], 11, 0x8771f681u);
        DIREXT_MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122u);
        DIREXT_MD5_H(b, c, d, a, x[14], 23, 0xfde5380cu);
        DIREXT_MD5_H(a, b, c, d, x[1], 4, 0xa4beea44u);
        DIREXT_MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9u);
        DIREXT_MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60u);
        DIREXT_MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70u);
        DIREXT_MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6u);
        DIREXT_MD5_H(d, a, b, c, x[0], 11, 0xeaa127fau);
        DIREXT_MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085u);
        DIREXT_MD5_H(b, c, d, a, x[6], 23, 0x04881d05u);
        DIREXT_MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039u);
        DIREXT_MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5u);
        DIREXT_MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8u);
        DIREXT_MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665u);

        DIREXT_MD5_I(a, b, c, d, x[0], 6, 0xf4292244u);
        DIREXT_MD5_I(d, a, b, c, x[7], 10, 0x432aff97u);
        DIREXT_MD5_I(c, d, a, b, x[14], 15, 0xab9423a7u);
        DIREXT_MD5_I(b, c, d, a, x[5], 21, 0xfc93a039u);
        DIREXT_MD5_I(a, b, c, d, x[12], 6, 0x655b59c3u);
        DIREXT_MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92u);
        DIREXT_MD5_I(c, d, a, b, x[10], 15, 0xffeff47du);
        DIREXT_MD5_I(b, c, d, a, x[1], 21, 0x85845dd1u);
        DIREXT_MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4fu);
        DIREXT_MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0u);
        DIREXT_MD5_I(c, d, a, b, x[6], 15, 0xa3014314u);
        DIREXT_MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1u);
        DIREXT_MD5_I(a, b, c, d, x[4], 6, 0xf7537e82u);
        DIREXT_MD5_I(d, a, b, c, x[11], 10, 0xbd3af235u);
        DIREXT_MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bbu);
        DIREXT_MD5_I(b, c, d, a, x[9], 21, 0xeb86d391u);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef DIREXT_MD5_F
#undef DIREXT_MD5_G
#undef DIREXT_MD5_H
#undef DIREXT_MD5_I

}  // namespace

void wipe(void *p, std::size_t n)
{
    volatile unsigned char *v = static_cast<volatile unsigned char *>(p);
    while (n--) *v++ = 0;
}

void init(MD5Context *ctx)
{
    ctx->state[0] = 0x67452301u;
    ctx->state[1] = 0xefcdab89u;
    ctx->state[2] = 0x98badcfeu;
    ctx->state[3] = 0x10325476u;
    ctx->count[0] = ctx->count[1] = 0;
}

void update(MD5Context *ctx, const void *data, std::size_t len)
{
    if (!len) return;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    std::size_t have = (ctx->count[0] >> 3) & 63;
    const std::uint64_t bits = ((std::uint64_t{ctx->count[1]} << 32) | ctx->count[0]) +
                               (std::uint64_t{len} << 3);
    ctx->count[0] = static_cast<std::uint32_t>(bits);
    ctx->count[1] = static_cast<std::uint32_t>(bits >> 32);

    if (have) {
        const std::size_t take = len < 64 - have ? len : 64 - have;
        std::memcpy(ctx->buffer + have, in, take);
        have += take;
        in += take;
        len -= take;
        if (have < 64) return;
        transform(ctx->state, ctx->buffer, 1);
    }
    if (len >= 64) {
        transform(ctx->state, in, len / 64);
        in += len & ~std::size_t{63};
        len &= 63;
    }
    if (len) std::memcpy(ctx->buffer, in, len);
}

void final(unsigned char out[kDigestSize], MD5Context *ctx)
{
    unsigned char length[8];
    store_le32(length, ctx->count[0]);
    store_le32(length + 4, ctx->count[1]);
    static const unsigned char padding[64] = {0x80};
    const std::size_t have = (ctx->count[0] >> 3) & 63;
    update(ctx, padding, have < 56 ? 56 - have : 120 - have);
    update(ctx, length, 8);
    for (int i = 0; i < 4; ++i) store_le32(out + 4 * i, ctx->state[i]);
    wipe(ctx, sizeof *ctx);
}

void digest(const void *data, std::size_t len, unsigned char out[kDigestSize])
{
    MD5Context ctx;
    init(&ctx);
    update(&ctx, data, len);
    final(out, &ctx);
}

}  // namespace dirext::md5

// The exported names.  Each only forwards, so that the library's own callers
// (which use dirext::md5 directly) never go through the dynamic symbol table.
extern "C" {

DIREXT_API void MD5Init(MD5Context *ctx)
{
    if (ctx) dirext::md5::init(ctx);
}

DIREXT_API void MD5Update(MD5Context *ctx, const unsigned char *data, size_t len)
{
    if (ctx && (data || len == 0)) dirext::md5::update(ctx, data, len);
}

DIREXT_API void MD5Final(unsigned char digest[16], MD5Context *ctx)
{
    if (!ctx) return;
    if (!digest) {
        dirext::md5::wipe(ctx, sizeof *ctx);
        return;
    }
    dirext::md5::final(digest, ctx);
}

DIREXT_API unsigned char *MD5(const unsigned char *data, size_t len, unsigned char *out)
{
    static unsigned char shared_out[16];
    if (!out) out = shared_out;
    if (!data && len) return nullptr;
    dirext::md5::digest(data ? data : reinterpret_cast<const unsigned char *>(""), len, out);
    return out;
}

}  // extern "C"
