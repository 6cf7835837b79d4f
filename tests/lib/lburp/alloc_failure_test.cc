// Allocations of the encoders (growing the caller's element) and of the
// failure list may fail: the result says so and nothing leaks (the sanitizer
// build checks the leaks, and a double release would crash there).
#include "failing_memory.h"
#include "lburp/internal.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using failing_memory::sweep;

char kCn[] = "cn", kValue[] = "a";
char *kValues[] = {kValue, nullptr};
LDAPMod kMod = {LDAP_MOD_REPLACE, kCn, {kValues}};
LDAPMod *kMods[] = {&kMod, nullptr};
char kOid[] = "1.2.3";
LDAPControl kControl = {kOid, {2, const_cast<char *>("xy")}, 1};
LDAPControl *kControls[] = {&kControl, nullptr};

TEST(AllocationFailures, Installed) { EXPECT_TRUE(failing_memory::installed); }

TEST(AllocationFailures, EncodersReleaseTheElement)
{
    using Encode = int (*)(BerElement *);
    const Encode encoders[] = {
        [](BerElement *b) { return LBURPEncodeAdd(nullptr, "cn=a,o=x", kMods, kControls, b); },
        [](BerElement *b) { return LBURPEncodeDelete(nullptr, "cn=a,o=x", kControls, b); },
        [](BerElement *b) { return LBURPEncodeMod(nullptr, "cn=a,o=x", kMods, kControls, b); },
        [](BerElement *b) { return LBURPEncodeModRDN(nullptr, "cn=a,o=x", "cn=b", "o=y", 1, kControls, b); },
    };
    for (Encode encode : encoders) {
        for (long n = 0;; ++n) {
            BerElement *ber = ber_alloc_t(LBER_USE_DER);
            ASSERT_NE(ber, nullptr);
            failing_memory::watch(ber);
            failing_memory::fail_from(n);
            const int rc = encode(ber);
            const bool failed = failing_memory::tripped;
            failing_memory::stop();
            if (!failed) {
                EXPECT_EQ(rc, LDAP_SUCCESS);
                EXPECT_GT(n, 0);  // the element did have to grow
                ber_free(ber, 1);
                break;
            }
            EXPECT_EQ(rc, LDAP_ENCODING_ERROR);  // and the encoder released ber
            ASSERT_LT(n, 1000);
        }
    }
}

TEST(AllocationFailures, FailureListDecoder)
{
    // Two failures with messages, as an update response carries them.
    const std::string value("\x30\x12\x02\x01\x03\x30\x0d\x0a\x01\x44\x04\x00\x04\x06" "exists"
                            "\x30\x11\x02\x01\x09\x30\x0c\x0a\x01\x20\x04\x05" "o=lab\x04\x00",
                            39);
    const berval bv{value.size(), const_cast<char *>(value.data())};
    int count = -1;
    LBURPFailedOperation *list = nullptr;
    const int runs = sweep([&] { return dirext::lburp::decode_failure_list(bv, &count, &list); },
                           [&](int rc, bool failed) {
                               if (!failed) {
                                   ASSERT_EQ(rc, LDAP_SUCCESS);
                                   ASSERT_EQ(count, 2);
                                   for (int i = 0; i < count; ++i) ldap_memfree(list[i].diagnosticMessage);
                                   ldapx_memfree(list);
                                   return;
                               }
                               EXPECT_EQ(rc, LDAP_NO_MEMORY);  // the messages read so far are released
                               EXPECT_EQ(count, -1);
                               EXPECT_EQ(list, nullptr);
                           });
    EXPECT_EQ(runs, 4);  // a reader for the value and one per entry, and the list
}

}  // namespace
