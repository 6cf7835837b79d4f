// The library's own allocations fail one after another (white-box, through
// the allocation seam), for the cases the allocation sweep does not reach:
// how many allocations a call makes, an output left untouched until the
// answer is decoded, and a chunk list that outgrows its first buffer.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "alloc_failures.h"
#include "ber_bytes.h"
#include "extops_fixture.h"

using namespace extops_test;

namespace {

class extopsAllocSeamTest : public ExtopsTest {
protected:
    void SetUp() override
    {
        ExtopsTest::SetUp();
        ld_ = open(false);
        ASSERT_TRUE(ld_);
    }

    void succeed(int arc, const std::string &value)
    {
        dirsim::Reply r;
        r.response_name = oid(arc + 1);
        r.response_value = value;
        answer(oid(arc), r);
    }

    // Runs `call` once to count its allocations, then once per allocation
    // with that one failing (`failed` checks the outputs after each), then
    // once more without failures.
    void fail_each(const std::function<int()> &call, const std::function<void(int nth)> &failed,
                   int expected_allocations)
    {
        allocfail::arm(0);  // counts, fails none
        ASSERT_EQ(call(), LDAP_SUCCESS);
        const int total = int(allocfail::seen());
        EXPECT_EQ(total, expected_allocations);
        for (int nth = 1; nth <= total; ++nth) {
            allocfail::arm(nth);
            EXPECT_EQ(call(), LDAP_NO_MEMORY) << "allocation " << nth;
            failed(nth);
        }
        allocfail::disarm();
        EXPECT_EQ(call(), LDAP_SUCCESS);
    }

    allocfail::Hooks hooks_;
    Session ld_;
};

TEST_F(extopsAllocSeamTest, NativeNameConversion)
{
    succeed(1, ber("s", "cn=admin,o=lab"));
    const uint16_t name[] = {'a', 0};
    char untouched[] = "untouched";
    char *dn = nullptr;
    fail_each(
        [&] {
            if (dn != untouched) ldapx_memfree(dn);
            dn = untouched;
            return ldap_quor_to_ldap(ld_.get(), name, &dn);
        },
        [&](int nth) {
            // The encoder, the request buffer and its flattened value fail
            // before anything is sent, the decoder before the output is
            // touched; the copy of the answer fails with the output null.
            EXPECT_EQ(dn, nth < 5 ? untouched : nullptr);
            dn = nullptr;
        },
        5);
    if (dn != untouched) ldapx_memfree(dn);
}

TEST_F(extopsAllocSeamTest, BackupWithAChunkListThatOutgrowsItsFirstBuffer)
{
    Ber value(ber_alloc_t(LBER_USE_DER));
    ber_printf(value.get(), "iiio{i[", 3, 7, 3, "abc", ber_len_t(3), 60);
    for (int i = 0; i < 60; ++i) ber_printf(value.get(), "{i}", 1000000000 + i);
    ber_printf(value.get(), "]}");
    succeed(96, flatten(value.get()));

    char *state = nullptr, *data = nullptr, *chunks = nullptr;
    int size = -1;
    fail_each(
        [&] {
            for (char *p : {state, data, chunks}) ldapx_memfree(p);
            state = data = chunks = nullptr;
            size = -1;
            return ldap_backup_object(ld_.get(), "o=lab", nullptr, &state, &data, &chunks, &size);
        },
        [&](int nth) {
            EXPECT_EQ(state, nullptr);
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(chunks, nullptr);
            EXPECT_EQ(size, -1);
            // All but the encoder's (the early one) reach the handle.
            int stored = 0;
            ldap_get_option(ld_.get(), LDAP_OPT_RESULT_CODE, &stored);
            EXPECT_EQ(stored, nth == 1 ? LDAP_SUCCESS : LDAP_NO_MEMORY);
        },
        // the encoder, the request value, the decoder, the element's copy,
        // the chunk list, its growth past 512 bytes, the data, the state
        8);
    EXPECT_STREQ(state, "7+3");
    EXPECT_EQ(std::string(chunks, 3), "60;");
    ldapx_memfree(data);
    ldapx_memfree(chunks);
    ldapx_memfree(state);
}

}  // namespace
