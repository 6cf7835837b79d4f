// A C++ program that includes the library's header before <openssl/md5.h>
// with OpenSSL 3's default API level: the declarations agree, and the
// MD5Init family (which OpenSSL does not declare) needs no compatibility
// setting.
#include <dirext.h>

#include <openssl/md5.h>

#include <cstring>

int main()
{
    static const unsigned char expect[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                             0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    unsigned char out[16];
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char *>("abc"), 3);
    MD5Final(out, &ctx);
    return std::memcmp(out, expect, 16) == 0 ? 0 : 1;
}
