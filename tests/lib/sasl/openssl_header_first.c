/* A C99 program that includes OpenSSL's <openssl/md5.h> before the library's
 * header: the two MD5 declarations agree.  OPENSSL_API_COMPAT keeps OpenSSL 3
 * from marking MD5 deprecated, so the call compiles warning-free; linked with
 * the library first, the call reaches the library's MD5. */
#define OPENSSL_API_COMPAT 10101
#include <openssl/md5.h>

#include <dirext.h>

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(void)
{
    static const unsigned char expect[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                             0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    unsigned char out[16];
    MD5_CTX theirs; /* both context types coexist */
    MD5Context ours;
    Dl_info info;
    (void)theirs;
    if (MD5((const unsigned char *)"abc", 3, out) != out || memcmp(out, expect, 16) != 0) return 1;
    MD5Init(&ours);
    MD5Update(&ours, (const unsigned char *)"abc", 3);
    MD5Final(out, &ours);
    if (memcmp(out, expect, 16) != 0) return 2;
    if (!dladdr(MD5((const unsigned char *)"", 0, NULL), &info) || !info.dli_fname ||
        !strstr(info.dli_fname, "libdirext.so")) {
        fprintf(stderr, "MD5 resolved to %s\n", info.dli_fname ? info.dli_fname : "?");
        return 3;
    }
    return 0;
}
