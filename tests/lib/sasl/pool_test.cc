// The random pool's bookkeeping, seen through its snapshot (white-box).
#include <dirext.h>

#include "sasl/digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using dirext::sasl::pool_snapshot;
using dirext::sasl::PoolSnapshot;

std::string digest_of(const PoolSnapshot &s) { return std::string(reinterpret_cast<const char *>(s.digest), 16); }

class Pool : public ::testing::Test {
protected:
    void SetUp() override { XRAND_cleanup(); }
    void TearDown() override { XRAND_cleanup(); }
};

TEST_F(Pool, CleanupReturnsToTheUnpolledState)
{
    unsigned char buf[32];
    ASSERT_EQ(0, XRAND_bytes(buf, sizeof buf));
    XRAND_cleanup();
    const PoolSnapshot s = pool_snapshot();
    EXPECT_EQ(0, s.pos);
    EXPECT_EQ(0, s.fill);
    EXPECT_EQ(std::string(16, '\0'), digest_of(s));
    EXPECT_EQ(0u, s.counters[0]);
    EXPECT_EQ(0u, s.counters[1]);
    EXPECT_EQ(0.0, s.entropy);
    EXPECT_FALSE(s.polled);
    EXPECT_FALSE(s.stirred);
}

TEST_F(Pool, StatusPollsAndThePollCreditsExactlyTwenty)
{
    EXPECT_EQ(1, XRAND_status());
    const PoolSnapshot s = pool_snapshot();
    EXPECT_TRUE(s.polled);
    EXPECT_EQ(20.0, s.entropy);
    // Twenty 4-byte process facts, one block each, and the operating
    // system's 32 bytes (two blocks, no credit).
    EXPECT_EQ(22u, s.counters[1]);
    EXPECT_EQ(1, XRAND_poll());
    EXPECT_EQ(20.0, pool_snapshot().entropy);  // crediting stops at twenty
}

TEST_F(Pool, AddKeepsTheIndicesAsTheAlgorithmSays)
{
    unsigned char data[1100] = {};
    XRAND_add(data, 100, 0.0);
    PoolSnapshot s = pool_snapshot();
    EXPECT_EQ(100, s.pos);
    EXPECT_EQ(100, s.fill);
    EXPECT_EQ(7u, s.counters[1]);  // 6 whole blocks and a part
    XRAND_add(data, 50, 0.0);
    s = pool_snapshot();
    EXPECT_EQ(150, s.pos);
    EXPECT_EQ(150, s.fill);
    XRAND_add(data, 1000, 0.0);
    s = pool_snapshot();
    EXPECT_EQ(1150 % 1023, s.pos);
    EXPECT_EQ(1023, s.fill);
    XRAND_add(data, 10, 0.0);  // below the fill: only the position moves
    EXPECT_EQ(1023, pool_snapshot().fill);
}

TEST_F(Pool, AddCreditsEntropyUntilTwenty)
{
    const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    XRAND_add(data, 8, 12.5);
    EXPECT_EQ(12.5, pool_snapshot().entropy);
    XRAND_seed(data, 8);  // credits its length
    EXPECT_EQ(20.5, pool_snapshot().entropy);
    XRAND_add(data, 8, 3.0);
    EXPECT_EQ(20.5, pool_snapshot().entropy);
}

TEST_F(Pool, AddOfNothingChangesNothing)
{
    const unsigned char data[4] = {1, 2, 3, 4};
    XRAND_add(data, 4, 0.0);
    const PoolSnapshot before = pool_snapshot();
    XRAND_add(data, 0, 5.0);
    XRAND_add(data, -3, 5.0);
    XRAND_add(nullptr, 4, 5.0);
    const PoolSnapshot after = pool_snapshot();
    EXPECT_EQ(digest_of(before), digest_of(after));  // the fold would have cancelled it
    EXPECT_EQ(before.entropy, after.entropy);
    EXPECT_EQ(before.pos, after.pos);
}

TEST_F(Pool, FirstBytesPollAndStir)
{
    unsigned char buf[32];
    EXPECT_EQ(0, XRAND_bytes(buf, sizeof buf));
    const PoolSnapshot s = pool_snapshot();
    EXPECT_TRUE(s.polled);
    EXPECT_TRUE(s.stirred);
    EXPECT_EQ(1023, s.fill);
    EXPECT_EQ(1u, s.counters[0]);
    EXPECT_EQ(22u + 64u, s.counters[1]);
    // The stir runs once.
    EXPECT_EQ(0, XRAND_bytes(buf, sizeof buf));
    EXPECT_EQ(22u + 64u, pool_snapshot().counters[1]);
}

TEST_F(Pool, BytesOfZeroLengthStillCountAndRemix)
{
    unsigned char buf[4] = {0xaa, 0xaa, 0xaa, 0xaa};
    ASSERT_EQ(0, XRAND_bytes(buf, 1));
    const PoolSnapshot before = pool_snapshot();
    buf[1] = 0xaa;
    EXPECT_EQ(0, XRAND_bytes(buf + 1, 0));
    const PoolSnapshot after = pool_snapshot();
    EXPECT_EQ(0xaa, buf[1]);
    EXPECT_EQ(before.counters[0] + 1, after.counters[0]);
    EXPECT_NE(digest_of(before), digest_of(after));
    EXPECT_EQ(before.pos, after.pos);
    EXPECT_EQ(0, XRAND_bytes(nullptr, 0));
}

TEST_F(Pool, PositionAdvancesByTheCountWithinTheFill)
{
    unsigned char buf[1000];
    ASSERT_EQ(0, XRAND_bytes(buf, 10));
    const int start = pool_snapshot().pos;
    ASSERT_EQ(0, XRAND_bytes(buf, 1000));
    EXPECT_EQ((start + 1000) % 1023, pool_snapshot().pos);
}

TEST_F(Pool, UnderSeededPoolStillWritesAndSaysSo)
{
    dirext::sasl::pool_set_for_testing(true, 5.0);
    unsigned char buf[16];
    std::memset(buf, 0x5a, sizeof buf);
    EXPECT_EQ(XRAND_NOT_SEEDED, XRAND_bytes(buf, 4));
    EXPECT_EQ(1.0, pool_snapshot().entropy);  // 5 - 4
    EXPECT_FALSE(pool_snapshot().stirred);    // stirred only with enough entropy
    EXPECT_NE(0, std::memcmp(buf, "\x5a\x5a\x5a\x5a", 4));
    EXPECT_EQ(XRAND_NOT_SEEDED, XRAND_pseudo_bytes(buf, 16));
    EXPECT_EQ(0.0, pool_snapshot().entropy);  // floored
    EXPECT_EQ(0, XRAND_status());

    char nonce[65];
    std::memset(nonce, 'z', sizeof nonce);
    EXPECT_EQ(XRAND_NOT_SEEDED, getNonce(nonce));
    EXPECT_EQ('\0', nonce[64]);
    EXPECT_EQ('z', nonce[0]);  // not converted
}

TEST_F(Pool, OutputsDiffer)
{
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        unsigned char buf[32];
        ASSERT_EQ(0, XRAND_bytes(buf, sizeof buf));
        seen.insert(std::string(reinterpret_cast<char *>(buf), sizeof buf));
    }
    EXPECT_EQ(200u, seen.size());
}

TEST_F(Pool, BadArguments)
{
    EXPECT_EQ(LDAP_PARAM_ERROR, XRAND_bytes(nullptr, 4));
    unsigned char buf[1];
    EXPECT_EQ(LDAP_PARAM_ERROR, XRAND_bytes(buf, -1));
    XRAND_seed(nullptr, 10);
    XRAND_seed(buf, -10);
    EXPECT_EQ(0.0, pool_snapshot().entropy);
    EXPECT_EQ(LDAP_PARAM_ERROR, getNonce(nullptr));
}

TEST_F(Pool, NonceIsSixtyFourUpperCaseHexCharacters)
{
    char a[65], b[65];
    ASSERT_EQ(0, getNonce(a));
    ASSERT_EQ(0, getNonce(b));
    EXPECT_EQ(64u, std::strlen(a));
    EXPECT_EQ(64u, std::strspn(a, "0123456789ABCDEF"));
    EXPECT_STRNE(a, b);
}

}  // namespace
