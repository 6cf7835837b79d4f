// The extended operations' encoders and decoders on bytes, without a server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ber_bytes.h"
#include "core/handles.h"
#include "extops/codecs.h"
#include "extops/runner.h"

using namespace dirext::extops;
using namespace extops_test;

namespace {

// Every proper prefix of a valid value must fail to decode, and cleanly.
template <typename Decode>
void expect_every_prefix_fails(const std::string &value, int expected, Decode decode)
{
    for (std::size_t n = 0; n < value.size(); ++n) {
        Ber ber = decoder(value.substr(0, n));
        ASSERT_TRUE(ber);
        EXPECT_EQ(decode(ber.get()), expected) << "prefix of " << n << " bytes";
    }
}

TEST(extopsTable, ResponseNameIsRequestNameWithLastArcPlusOne)
{
    for (const Operation &op : kOperations) {
        if (!op.response_oid) {
            EXPECT_STREQ(op.function, "ldap_get_replication_filter");
            continue;
        }
        std::string request = op.request_oid;
        std::size_t dot = request.rfind('.');
        std::string expected = request.substr(0, dot + 1) + std::to_string(std::stoi(request.substr(dot + 1)) + 1);
        EXPECT_EQ(op.response_oid, expected) << op.function;
        EXPECT_EQ(request.rfind("2.16.840.1.113719.1.27.100.", 0), 0u) << op.function;
    }
}

TEST(extopsScan, IntegerMustBeAnIntegerOrEnumerated)
{
    struct Case {
        const char *value;
        int rc;
        int count;
    } cases[] = {
        {"02 01 05", 0, 5},
        {"0a 01 07", 0, 7},
        {"02 02 01 00", 0, 256},
        {"02 01 ff", 0, -1},
        {"04 01 05", LDAP_ENCODING_ERROR, 99},  // an OCTET STRING is not a count
        {"30 03 02 01 05", LDAP_ENCODING_ERROR, 99},
        {"02 05 01 00 00 00 00", LDAP_ENCODING_ERROR, 99},  // does not fit 32 bits
        {"", LDAP_ENCODING_ERROR, 99},
    };
    for (const Case &c : cases) {
        Ber ber = decoder(unhex(c.value));
        int count = 99;
        EXPECT_EQ(scan<Op::PartitionEntryCount>(ber.get(), &count), c.rc) << c.value;
        EXPECT_EQ(count, c.count) << c.value;
    }
}

// ---- replica information and list

std::string replica_info(const std::string &dn)
{
    return ber("iiiiioii", 1, 2, 3, 4, 5, dn.data(), static_cast<ber_len_t>(dn.size()), 6, 7);
}

TEST(extopsReplicaInfo, DnIsCutAt771Bytes)
{
    for (std::size_t length : {770u, 771u, 772u, 800u}) {
        ReplicaInfo info;
        std::memset(&info, 0x55, sizeof info);
        Ber ber = decoder(replica_info(std::string(length, 'd')));
        ASSERT_EQ(decode_replica_info(ber.get(), &info), 0);
        EXPECT_EQ(std::strlen(info.dn), length < 771 ? length : 771u);
        EXPECT_EQ(info.trailingValue2, 7);
    }
}

TEST(extopsReplicaInfo, TruncatedValueFailsAndLeavesDnAlone)
{
    expect_every_prefix_fails(replica_info("cn=s"), LDAP_ENCODING_ERROR, [](BerElement *b) {
        ReplicaInfo info;
        std::strcpy(info.dn, "untouched");
        int rc = decode_replica_info(b, &info);
        EXPECT_STREQ(info.dn, "untouched");
        return rc;
    });
}

TEST(extopsReplicaList, DecodesTheNamesAndStoresOnlyOnSuccess)
{
    char *names_in[] = {const_cast<char *>("cn=a"), const_cast<char *>("cn=b"), nullptr};
    std::string value = ber("{v}", names_in);
    char **names = nullptr;
    Ber ber = decoder(value);
    ASSERT_EQ(decode_replica_list(ber.get(), &names), 0);
    dirext::LdapValuesPtr owned(names);
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names[0], "cn=a");
    EXPECT_STREQ(names[1], "cn=b");
    EXPECT_EQ(names[2], nullptr);

    char **sentinel = reinterpret_cast<char **>(&value);
    expect_every_prefix_fails(value, LDAP_ENCODING_ERROR, [&](BerElement *b) {
        char **out = sentinel;
        int rc = decode_replica_list(b, &out);
        EXPECT_EQ(out, sentinel);
        return rc;
    });
    Ber wrong = decoder(unhex("04 02 63 6e"));
    char **out = sentinel;
    EXPECT_EQ(decode_replica_list(wrong.get(), &out), LDAP_ENCODING_ERROR);
    EXPECT_EQ(out, sentinel);
}

// ---- returned strings

TEST(extopsReturnedString, NotAnOctetStringFails)
{
    for (const char *value : {"02 01 05", "30 00", "04 05 61 62"}) {
        Ber ber = decoder(unhex(value));
        char *out = reinterpret_cast<char *>(&ber);
        EXPECT_EQ(decode_returned_string(ber.get(), true, &out), LDAP_ENCODING_ERROR) << value;
        EXPECT_EQ(out, reinterpret_cast<char *>(&ber));
    }
}

TEST(extopsNativeName, UnitsGoBigEndianWithTheTerminator)
{
    struct Case {
        std::vector<uint16_t> name;
        const char *bytes;
    } cases[] = {
        {{0x0041, 0x0042, 0}, "0406" "004100420000"},
        {{0}, "0402" "0000"},
        {{0xabcd, 0x00ff, 0}, "0406" "abcd00ff0000"},
    };
    for (const Case &c : cases) {
        std::string bytes;
        ASSERT_EQ(encode([&](BerElement *b) { return encode_native_name(b, c.name.data()); }, bytes), 0);
        EXPECT_EQ(hex(bytes), c.bytes);
    }
    std::string bytes;
    EXPECT_EQ(encode([](BerElement *b) { return encode_native_name(b, nullptr); }, bytes), LDAP_ENCODING_ERROR);
}

// ---- privileges of a list of attributes

std::string privileges(int count, std::vector<int> values)
{
    Ber e(ber_alloc_t(LBER_USE_DER));
    ber_printf(e.get(), "{{i}[", count);
    for (int v : values) ber_printf(e.get(), "{i}", v);
    ber_printf(e.get(), "]}");
    return flatten(e.get());
}

TEST(extopsPrivileges, OneSlotPerAnnouncedEntryUpToTheNames)
{
    struct Case {
        int count;
        std::vector<int> values;
        std::vector<int> slots;  // three slots, preset to -7
        int rc;
    } cases[] = {
        {0, {}, {-7, -7, -7}, 0},
        {-3, {}, {-7, -7, -7}, 0},
        {2, {16, 32}, {16, 32, -7}, 0},
        {4, {1, 2, 3, 4}, {1, 2, 3}, 0},  // more entries than names: read, not stored
        {3, {1}, {1, 0, -7}, LDAP_ENCODING_ERROR},  // the failing slot is 0
    };
    for (const Case &c : cases) {
        std::vector<int> slots(3, -7);
        Ber ber = decoder(privileges(c.count, c.values));
        EXPECT_EQ(decode_privileges(ber.get(), slots.data(), slots.size()), c.rc) << c.count;
        EXPECT_EQ(slots, c.slots) << c.count;
    }
    int slot = 0;
    expect_every_prefix_fails(privileges(1, {9}), LDAP_ENCODING_ERROR,
                              [&](BerElement *b) { return decode_privileges(b, &slot, 1); });
}

// ---- replication filter

TEST(extopsReplicationFilter, TextToBer)
{
    const std::string dn = "0404" "636e3d73";  // "cn=s"
    struct Case {
        const char *text;
        std::string bytes;
    } cases[] = {
        {"$", dn + "30" + L(0)},
        {"$ignored", dn + "30" + L(0)},
        {"person$$$", dn + "30" + L(20) + "30" + L(14) + "0406706572736f6e" + "30" + L(0)},
        {"person$cn$sn$$$", dn + "30" + L(28) + "30" + L(22) + "0406706572736f6e" + "30" + L(8) + "0402636e" +
                                "0402736e"},
        {"a$$b$c$$$", dn + "30" + L(33) + "30" + L(9) + "040161" + "30" + L(0) + "30" + L(12) + "040162" + "30" +
                          L(3) + "040163"},
    };
    for (const Case &c : cases) {
        std::string bytes;
        ASSERT_EQ(encode([&](BerElement *b) { return encode_replication_filter(b, "cn=s", c.text); }, bytes), 0)
            << c.text;
        EXPECT_EQ(hex(bytes), c.bytes) << c.text;
    }
}

TEST(extopsReplicationFilter, MalformedTextIsAParameterError)
{
    for (const char *text : {"", "person", "person$", "person$$", "person$cn$$", "person$cn", "a$$b$$"}) {
        std::string bytes;
        EXPECT_EQ(encode([&](BerElement *b) { return encode_replication_filter(b, "cn=s", text); }, bytes),
                  LDAP_PARAM_ERROR)
            << text;
    }
}

std::string filter_value(std::vector<std::pair<std::string, std::vector<std::string>>> classes)
{
    Ber e(ber_alloc_t(LBER_USE_DER));
    ber_printf(e.get(), "{");
    for (auto &[name, attributes] : classes) {
        ber_printf(e.get(), "{s{", name.c_str());
        for (auto &a : attributes) ber_printf(e.get(), "s", a.c_str());
        ber_printf(e.get(), "}}");
    }
    ber_printf(e.get(), "}");
    return flatten(e.get());
}

TEST(extopsReplicationFilter, BadValuesFailWithTheTextSoFarForTheCaller)
{
    std::string value = filter_value({{"person", {"cn"}}, {"group", {"member"}}});
    expect_every_prefix_fails(value, LDAP_DECODING_ERROR, [](BerElement *b) {
        char *text = nullptr;
        int rc = decode_replication_filter(b, &text);
        std::free(text);
        return rc;
    });
    struct Case {
        const char *value;
        const char *text;
    } cases[] = {
        {"04 00", ""},                                   // not a SEQUENCE
        {"30 04 30 02 04 00", ""},                       // an entry without its attribute list
        {"30 06 30 04 02 00 30 00", ""},                 // a class name that is not a string
        {"30 0e 30 05 04 01 61 30 00 30 05 04 01 62 02 00", "a$$"},  // second entry broken
    };
    for (const Case &c : cases) {
        Ber ber = decoder(unhex(c.value));
        char *text = nullptr;
        EXPECT_EQ(decode_replication_filter(ber.get(), &text), LDAP_DECODING_ERROR) << c.value;
        EXPECT_STREQ(text, c.text) << c.value;
        std::free(text);
    }
}

// ---- backup and restore

TEST(extopsBackupState, TwoNonZeroIntegers)
{
    struct Case {
        const char *text;
        bool ok;
        int first, second;
    } cases[] = {
        {"7+3", true, 7, 3},   {"-2+40", true, -2, 40}, {"0+5", false, 0, 0}, {"5+0", false, 0, 0},
        {"5", false, 0, 0},    {"5+", false, 0, 0},     {"+5", false, 0, 0},  {"a+b", false, 0, 0},
        {"7+3x", false, 0, 0}, {"7 +3", false, 0, 0},   {"", false, 0, 0},    {"4294967303+1", false, 0, 0},
    };
    for (const Case &c : cases) {
        int first = 0, second = 0;
        EXPECT_EQ(parse_backup_state(c.text, first, second), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(first, c.first);
            EXPECT_EQ(second, c.second);
        }
    }
}

std::string backup_value(int size, int first, int second, const std::string &data, std::vector<int> chunks,
                         int count = -1)
{
    Ber e(ber_alloc_t(LBER_USE_DER));
    ber_printf(e.get(), "iiio{i[", size, first, second, data.data(), static_cast<ber_len_t>(data.size()),
               count < 0 ? static_cast<int>(chunks.size()) : count);
    for (int c : chunks) ber_printf(e.get(), "{i}", c);
    ber_printf(e.get(), "]}");
    return flatten(e.get());
}

TEST(extopsBackup, BadResponsesAreDecodingErrors)
{
    struct Case {
        const char *what;
        std::string value;
    } cases[] = {
        {"size 0", backup_value(0, 1, 1, "abc", {})},
        {"negative size", backup_value(-1, 1, 1, "abc", {})},
        {"size beyond the data", backup_value(4, 1, 1, "abc", {})},
        {"size 2147483647", backup_value(2147483647, 1, 1, "abc", {})},
        {"fewer chunks than announced", backup_value(3, 1, 1, "abc", {1}, 2)},
        {"a state that is not an INTEGER", unhex("02 01 01 04 01 01 02 01 01 04 01 61 30 05 02 01 00 31 00")},
    };
    for (const Case &c : cases) {
        Ber ber = decoder(c.value);
        BackupResponse r;
        EXPECT_EQ(decode_backup(ber.get(), r), LDAP_DECODING_ERROR) << c.what;
        EXPECT_FALSE(r.data || r.chunk_list || r.state) << c.what;
    }
    expect_every_prefix_fails(backup_value(3, 7, 3, "abc", {10, 20}), LDAP_DECODING_ERROR, [](BerElement *b) {
        BackupResponse r;
        return decode_backup(b, r);
    });
}

TEST(extopsRestore, ChunkListGoesAsCountThenSetOfSequences)
{
    struct Case {
        const char *text;
        std::string bytes;
    } cases[] = {
        {"2;10;20;", "30" + L(27) + "020102" + "31" + L(18) + "30" + L(3) + "02010a" + "30" + L(3) + "020114"},
        {"2;10;20", "30" + L(27) + "020102" + "31" + L(18) + "30" + L(3) + "02010a" + "30" + L(3) + "020114"},
        {"0;", "30" + L(9) + "020100" + "31" + L(0)},
        {"1;-1;", "30" + L(18) + "020101" + "31" + L(9) + "30" + L(3) + "0201ff"},
    };
    for (const Case &c : cases) {
        std::string bytes;
        ASSERT_EQ(encode([&](BerElement *b) { return encode_chunk_list(b, c.text); }, bytes), 0) << c.text;
        EXPECT_EQ(hex(bytes), c.bytes) << c.text;
    }
    for (const char *text : {"", ";", "2;;10;", "2;x;", "2,10;", "99999999999;"}) {
        std::string bytes;
        EXPECT_EQ(encode([&](BerElement *b) { return encode_chunk_list(b, text); }, bytes), LDAP_PARAM_ERROR)
            << text;
    }
}

TEST(extopsReturnedBuffer, ReadsAnyElementWhole)
{
    struct Case {
        const char *value;
        ber_tag_t tag;
        std::string content;
    } cases[] = {
        {"04 03 61 62 63", 0x04, "abc"},
        {"30 03 02 01 05", 0x30, unhex("02 01 05")},
        {"80 00", 0x80, ""},
        {"04 04 61 62 63", LBER_ERROR, ""},  // shorter than announced
        {"", LBER_ERROR, ""},
    };
    for (const Case &c : cases) {
        Ber ber = decoder(unhex(c.value));
        char *buffer = reinterpret_cast<char *>(&ber);
        ASSERT_EQ(get_returnedBuffer(ber.get(), &buffer), c.tag) << c.value;
        if (c.tag == LBER_ERROR) {
            EXPECT_EQ(buffer, nullptr);
            continue;
        }
        EXPECT_EQ(std::string(buffer, c.content.size()), c.content);
        EXPECT_EQ(buffer[c.content.size()], '\0');
        ber_memfree(buffer);
    }
    EXPECT_EQ(get_returnedBuffer(nullptr, nullptr), LBER_ERROR);
    char *buffer = reinterpret_cast<char *>(&buffer);
    EXPECT_EQ(get_returnedBuffer(nullptr, &buffer), LBER_ERROR);
    EXPECT_EQ(buffer, nullptr);
}

}  // namespace
