// The exported element readers and the record allocation and release.
#include <gtest/gtest.h>

#include <cstring>

#include "decode.h"
#include "dump.h"
#include "wire.h"

namespace events_test {
namespace {

using namespace wire;

std::string rest(BerElement *ber, const std::string &bytes)
{
    ber_len_t left = 0;
    ber_get_option(ber, LBER_OPT_BER_REMAINING_BYTES, &left);
    return hex(bytes.substr(bytes.size() - left));
}

TEST(ParseLDAPString, TagZeroMeansOctetStringAndEmptyGivesNull)
{
    const std::string bytes = octets("abc") + octets("") + octets("z");
    Ber ber = reader(bytes);
    char *s = nullptr;
    ASSERT_EQ(parseLDAPString(ber.get(), &s, 0), 0);
    EXPECT_STREQ(s, "abc");
    free(s);
    s = reinterpret_cast<char *>(1);
    ASSERT_EQ(parseLDAPString(ber.get(), &s, 0x04), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(rest(ber.get(), bytes), hex(octets("z")));
}

TEST(ParseLDAPString, OtherTagFailsAndDeliversNull)
{
    Ber ber = reader(octets("abc", 0x80));
    char *s = reinterpret_cast<char *>(1);
    EXPECT_EQ(parseLDAPString(ber.get(), &s, 0), LDAP_DECODING_ERROR);
    EXPECT_EQ(s, nullptr);
    Ber empty = reader("");
    EXPECT_EQ(parseLDAPString(empty.get(), &s, LBER_DEFAULT), LDAP_DECODING_ERROR);
}

TEST(ParseOctetString, DeliversLengthAndKeepsEmbeddedNul)
{
    const std::string data("a\0b", 3);
    Ber ber = reader(octets(data, 0x83) + octets("", 0x83));
    char *s = nullptr;
    ber_len_t n = 99;
    ASSERT_EQ(parseOctetString(ber.get(), &s, &n, 0x83), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::memcmp(s, "a\0b\0", 4), 0);
    free(s);
    ASSERT_EQ(parseOctetString(ber.get(), &s, &n, 0x83), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(parseOctetString(ber.get(), &s, nullptr, 0), LDAP_PARAM_ERROR);
}

TEST(ParseStringSequence, AbsentLeavesTheOutputUntouched)
{
    Ber ber = reader("");
    char **list = reinterpret_cast<char **>(8);
    EXPECT_EQ(parseStringSequence(ber.get(), &list), 0);
    EXPECT_EQ(list, reinterpret_cast<char **>(8));
}

TEST(ParseStringSequence, EmptyListIsATerminatorOnly)
{
    Ber ber = reader(string_list({}, 0x80));
    char **list = nullptr;
    ASSERT_EQ(parseStringSequence(ber.get(), &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    freeStringSequence(list);
    freeStringSequence(nullptr);
}

TEST(ParseStringSequence, MembersInOrderAndTheListEndsAtItsElement)
{
    const std::string bytes = string_list({"one", "", "three"}) + integer(5);
    Ber ber = reader(bytes);
    char **list = nullptr;
    ASSERT_EQ(parseStringSequence(ber.get(), &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list[0], "one");
    EXPECT_STREQ(list[1], "");  // an empty member must not end the list
    EXPECT_STREQ(list[2], "three");
    EXPECT_EQ(list[3], nullptr);
    EXPECT_EQ(rest(ber.get(), bytes), hex(integer(5)));
    freeStringSequence(list);
}

TEST(ParseStringSequence, ABadMemberReleasesAllAndDeliversNull)
{
    Ber ber = reader(tlv(0x30, seq({octets("a")}) + seq({octets("b", 0x80)})));
    char **list = reinterpret_cast<char **>(8);
    EXPECT_EQ(parseStringSequence(ber.get(), &list), LDAP_DECODING_ERROR);
    EXPECT_EQ(list, reinterpret_cast<char **>(8));
}

TEST(ParseReferralList, ReadsEveryEntryWithItsLength)
{
    Ber ber = reader(seq({integer(2), seq({seq({integer(1), octets("h1")}), seq({integer(2), octets("")})})}));
    int count = -1;
    ReferralAddress *list = nullptr;
    ASSERT_EQ(parseReferralList(ber.get(), &count, &list), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(list[0].type, 1);
    EXPECT_EQ(list[0].length, 2);
    EXPECT_STREQ(list[0].data, "h1");
    EXPECT_EQ(list[1].type, 2);
    EXPECT_EQ(list[1].length, 0);
    EXPECT_EQ(list[1].data, nullptr);
    freeReferralList(count, list);
    freeReferralList(3, nullptr);
}

TEST(ParseReferralList, AbsentListGivesNothing)
{
    for (const std::string &bytes : {std::string(), integer(1) + octets("addr"), seq({})}) {
        Ber ber = reader(bytes);
        int count = -1;
        ReferralAddress *list = reinterpret_cast<ReferralAddress *>(8);
        EXPECT_EQ(parseReferralList(ber.get(), &count, &list), 0) << hex(bytes);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(list, nullptr);
    }
}

TEST(ParseConnectionData, ReadsTheBlockOrNothing)
{
    Ber ber = reader(connection(-1, 2, "x") + seq({}));
    ConnectionData *block = nullptr;
    ASSERT_EQ(parseConnectionData(ber.get(), &block), 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->integer1, -1);
    EXPECT_EQ(block->integer2, 2);
    EXPECT_STREQ(block->string1, "x");
    freeConnectionData(block);
    ASSERT_EQ(parseConnectionData(ber.get(), &block), 0);
    EXPECT_EQ(block, nullptr);
    freeConnectionData(nullptr);
}

TEST(NetAddress, ParsesAndStoresItsCode)
{
    Handle handle;
    handle.set_result_code(LDAP_OTHER);
    Ber ber = reader(address(9, "1.2.3.4"));
    NetAddrEventData *a = nullptr;
    ASSERT_EQ(parseNetAddrEventData(handle.ld, ber.get(), &a), 0);
    EXPECT_EQ(handle.result_code(), 0);
    EXPECT_EQ(dump(a), "NetAddrEventData type=9 length=7 address=\"1.2.3.4\"");
    EXPECT_EQ(DIREXT_EVENT_KIND(a), DIREXT_EVENT_NET_ADDRESS);
    ldap_event_free(a);

    Ber bad = reader(integer(9) + integer(1));
    a = reinterpret_cast<NetAddrEventData *>(8);
    EXPECT_EQ(parseNetAddrEventData(handle.ld, bad.get(), &a), LDAP_DECODING_ERROR);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(handle.result_code(), LDAP_DECODING_ERROR);
}

TEST(BerGetIP, NoAddressLeavesOutputAndHandleAndReturnsZero)
{
    Handle handle;
    handle.set_result_code(LDAP_OTHER);  // a stale code is not this call's result
    for (const std::string &bytes : {std::string(), octets("x")}) {
        Ber ber = reader(bytes);
        NetAddrEventData *a = reinterpret_cast<NetAddrEventData *>(8);
        EXPECT_EQ(ber_get_IP(handle.ld, ber.get(), &a), 0);
        EXPECT_EQ(a, reinterpret_cast<NetAddrEventData *>(8));
    }
    EXPECT_EQ(handle.result_code(), LDAP_OTHER);

    Ber ber = reader(address(1, "h"));
    NetAddrEventData *a = nullptr;
    ASSERT_EQ(ber_get_IP(handle.ld, ber.get(), &a), 0);
    EXPECT_EQ(handle.result_code(), 0);
    EXPECT_EQ(dump(a), "NetAddrEventData type=1 length=1 address=\"h\"");
    ldap_event_free(a);
}

TEST(Records, AllocCarriesTheKindAndFreeTakesAnyKind)
{
    for (long kind : {97L, 100L, 104L, 106L, 107L, 110L, 125L, 0L, 9999L, -3L}) {
        void *r = allocEventData(256, kind);  // room for any record
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(DIREXT_EVENT_KIND(r), kind);
        std::memset(r, 0, 256);  // what a decoder does before it fills members
        ldap_event_free(r);
    }
    ldap_event_free(nullptr);
    fail_allocation(1);
    EXPECT_EQ(allocEventData(8, 97), nullptr);
    fail_allocation(0);
    EXPECT_EQ(allocEventData(SIZE_MAX - 4, 97), nullptr);
}

TEST(Records, ConfigurationRecordReleasesWhatItsTypeUses)
{
    // Built by hand as a caller might: only the member of paramType 3 is set.
    auto *r = static_cast<ChangeConfigParamData *>(allocEventData(sizeof(ChangeConfigParamData), 109));
    std::memset(r, 0, sizeof *r);
    r->paramType = 3;
    r->paramName = strdup("name");
    r->strValue = strdup("value");
    ldap_event_free(r);  // LeakSanitizer checks that both strings went
}

}  // namespace
}  // namespace events_test
