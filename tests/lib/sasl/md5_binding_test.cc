// A program that includes the library's header and links the library gets
// the library's MD5, not libcrypto's, although both export the name (the
// reference is bound to the library's version node at link time).
#include <dirext.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string object_of(const void *address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return "?";
    return info.dli_fname;
}

TEST(Md5Binding, MD5IsTheLibrarysFunction)
{
    EXPECT_NE(std::string::npos, object_of(reinterpret_cast<const void *>(&MD5)).find("libdirext.so"))
        << object_of(reinterpret_cast<const void *>(&MD5));
}

TEST(Md5Binding, NullOutputReturnsTheLibrarysStaticBuffer)
{
    // libcrypto's MD5 has a static buffer of its own; this one lives in the
    // library's data.
    unsigned char *out = MD5(reinterpret_cast<const unsigned char *>("abc"), 3, nullptr);
    EXPECT_NE(std::string::npos, object_of(out).find("libdirext.so")) << object_of(out);
}

TEST(Md5Binding, LibcryptoIsLoadedAlongside)
{
    // The test means something only if libcrypto's MD5 is in the process too.
    void *crypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, crypto);
    void *theirs = dlsym(crypto, "MD5");
    EXPECT_NE(nullptr, theirs);
    EXPECT_NE(theirs, reinterpret_cast<void *>(&MD5));
    dlclose(crypto);
}

}  // namespace
