// MD5 against RFC 1321's test suite and against OpenSSL's MD5 as an
// independent reference.
#include <dirext.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"

namespace {

std::string hex(const unsigned char *d, size_t n = 16)
{
    return wire::hex(std::string_view(reinterpret_cast<const char *>(d), n));
}

std::string lib_md5(const std::string &m)
{
    unsigned char out[16];
    MD5(reinterpret_cast<const unsigned char *>(m.data()), m.size(), out);
    return hex(out);
}

std::string openssl_md5(const std::string &m)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EXPECT_EQ(1, EVP_Digest(m.data(), m.size(), out, &n, EVP_md5(), nullptr));
    return hex(out, n);
}

TEST(Md5, Rfc1321TestSuite)
{
    const struct {
        const char *message;
        const char *digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.digest, lib_md5(c.message)) << '"' << c.message << '"';
}

// The lengths around the padding boundaries, and a few multi-block ones.
TEST(Md5, PaddingBoundariesMatchOpenSsl)
{
    for (size_t len : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 16384}) {
        std::string m(len, '\0');
        for (size_t i = 0; i < len; ++i) m[i] = static_cast<char>(i * 7 + 3);
        EXPECT_EQ(openssl_md5(m), lib_md5(m)) << "length " << len;
    }
}

TEST(Md5, UpdatesSplitAtEveryOffsetEqualTheOneShotDigest)
{
    std::string m(200, '\0');
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<char>(i * 31 + 1);
    const auto *p = reinterpret_cast<const unsigned char *>(m.data());
    const std::string whole = lib_md5(m);
    for (size_t cut = 0; cut <= m.size(); ++cut) {
        MD5Context ctx;
        unsigned char out[16];
        MD5Init(&ctx);
        MD5Update(&ctx, p, cut);
        MD5Update(&ctx, p + cut, m.size() - cut);
        MD5Final(out, &ctx);
        ASSERT_EQ(whole, hex(out)) << "cut at " << cut;
    }
    // And byte by byte.
    MD5Context ctx;
    unsigned char out[16];
    MD5Init(&ctx);
    for (size_t i = 0; i < m.size(); ++i) MD5Update(&ctx, p + i, 1);
    MD5Final(out, &ctx);
    EXPECT_EQ(whole, hex(out));
}

TEST(Md5, InitSetsTheChainingWordsAndFinalWipesTheContext)
{
    MD5Context ctx;
    std::memset(&ctx, 0xa5, sizeof ctx);
    MD5Init(&ctx);
    EXPECT_EQ(0x67452301u, ctx.state[0]);
    EXPECT_EQ(0xefcdab89u, ctx.state[1]);
    EXPECT_EQ(0x98badcfeu, ctx.state[2]);
    EXPECT_EQ(0x10325476u, ctx.state[3]);
    EXPECT_EQ(0u, ctx.count[0]);
    EXPECT_EQ(0u, ctx.count[1]);
    MD5Update(&ctx, reinterpret_cast<const unsigned char *>("abc"), 3);
    EXPECT_EQ(24u, ctx.count[0]);  // bits, low word first
    unsigned char out[16];
    MD5Final(out, &ctx);
    const MD5Context zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &ctx, sizeof ctx));
}

TEST(Md5, BitCountCarriesIntoTheHighWord)
{
    MD5Context ctx;
    MD5Init(&ctx);
    ctx.count[0] = 0xfffffff8u;
    const unsigned char byte = 'x';
    MD5Update(&ctx, &byte, 1);
    EXPECT_EQ(0u, ctx.count[0]);
    EXPECT_EQ(1u, ctx.count[1]);
}

TEST(Md5, NullOutputUsesOneStaticBuffer)
{
    unsigned char *first = MD5(reinterpret_cast<const unsigned char *>("abc"), 3, nullptr);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", hex(first));
    unsigned char *second = MD5(reinterpret_cast<const unsigned char *>(""), 0, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", hex(second));
    unsigned char mine[16];
    EXPECT_EQ(mine, MD5(reinterpret_cast<const unsigned char *>("a"), 1, mine));
}

TEST(Md5, BadArgumentsDoNotCrash)
{
    EXPECT_EQ(nullptr, MD5(nullptr, 5, nullptr));
    unsigned char out[16];
    EXPECT_EQ(out, MD5(nullptr, 0, out));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", hex(out));
    MD5Init(nullptr);
    MD5Update(nullptr, out, 1);
    MD5Final(out, nullptr);
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, nullptr, 0);
    MD5Update(&ctx, nullptr, 4);  // ignored
    MD5Final(out, &ctx);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", hex(out));
}

}  // namespace
