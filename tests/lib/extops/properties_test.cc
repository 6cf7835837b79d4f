// Round-trip properties of the extended operations' codecs over generated
// values.  Answers are written with liblber's own encoder and decoded by the
// library; requests are encoded by the library and read back by hand.  Every
// expectation comes from the generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "ber_bytes.h"
#include "core/handles.h"
#include "extops/codecs.h"
#include "extops/runner.h"
#include "generate.h"

using namespace dirext::extops;
using namespace extops_test;

namespace {

using Str = const char *;
using Strings = std::vector<std::string>;

std::string at(const generate::Random &rng, int run)
{
    return "seed " + std::to_string(rng.seed_used()) + " run " + std::to_string(run);
}

// Tries `one` on generate::runs() values, up to the first failure.
template <typename F>
void each_run(F one, int runs = generate::runs())
{
    generate::Random rng;
    for (int run = 0; run < runs && !::testing::Test::HasFailure(); ++run) {
        SCOPED_TRACE(at(rng, run));
        one(rng, run);
    }
}

// ---- reading bytes by hand: each element as a token, so that a whole value
// compares as one string against what the generator expects.

std::string I(long long v) { return "i" + std::to_string(v) + " "; }
std::string S(std::string_view s) { return "s" + hex(s) + " "; }
std::string Seq(const std::string &inner) { return "{ " + inner + "} "; }
std::string Set(const std::string &inner) { return "[ " + inner + "] "; }

// "!" marks where the bytes stop being well-formed BER of the expected kinds.
std::string render(std::string_view in)
{
    std::string out;
    while (!in.empty()) {
        if (in.size() < 2) return out + "! ";
        const unsigned tag = static_cast<unsigned char>(in[0]);
        std::size_t length = static_cast<unsigned char>(in[1]);
        in.remove_prefix(2);
        if (length & 0x80) {
            const std::size_t n = length & 0x7f;
            if (n == 0 || n > 4 || in.size() < n) return out + "! ";
            length = 0;
            for (std::size_t k = 0; k < n; ++k) length = length << 8 | static_cast<unsigned char>(in[k]);
            in.remove_prefix(n);
        }
        if (length > in.size()) return out + "! ";
        const std::string_view content = in.substr(0, length);
        in.remove_prefix(length);
        if (tag == 0x02 && length >= 1 && length <= 4) {
            long long v = static_cast<signed char>(content[0]);
            for (std::size_t k = 1; k < length; ++k) v = v * 256 + static_cast<unsigned char>(content[k]);
            out += I(v);
        } else if (tag == 0x04 || tag == 0x30 || tag == 0x31) {
            out += tag == 0x04 ? S(content) : tag == 0x30 ? Seq(render(content)) : Set(render(content));
        } else {
            return out + "! ";
        }
    }
    return out;
}

// ---- writing answers with liblber, in DER or with the four-byte lengths of ber_alloc()

struct Writer {
    explicit Writer(bool der) : e(ber_alloc_t(der ? LBER_USE_DER : 0)) {}
    template <typename... A>
    Writer &operator()(const char *format, A... args)
    {
        EXPECT_NE(ber_printf(e.get(), format, args...), -1) << format;
        return *this;
    }
    Writer &octets(const std::string &s, ber_tag_t tag = LBER_DEFAULT)
    {
        return (*this)("to", tag, s.data(), static_cast<ber_len_t>(s.size()));
    }
    std::string bytes() { return flatten(e.get()); }
    Ber e;
};

std::vector<char *> c_array(Strings &items)
{
    std::vector<char *> out;
    for (std::string &s : items) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// ---- what the server sends

TEST(extopsProperty, IntegerAnswers)
{
    each_run([](generate::Random &rng, int) {
        const int v = rng.int32();
        const std::string value = Writer(rng.coin())(rng.coin() ? "e" : "i", v).bytes();
        int count = ~v, privileges = ~v;
        Ber a = decoder(value), b = decoder(value);
        EXPECT_EQ(scan<Op::PartitionEntryCount>(a.get(), &count), 0);
        EXPECT_EQ(scan<Op::GetEffectivePrivileges>(b.get(), &privileges), 0);
        EXPECT_EQ(count, v);
        EXPECT_EQ(privileges, v);
    });
}

TEST(extopsProperty, ReplicaInfoAndList)
{
    each_run([](generate::Random &rng, int) {
        std::vector<int> v(7);
        for (int &x : v) x = rng.int32();
        const std::string dn = rng.text(1000);  // liblber refuses a NUL inside a C string
        Writer info(rng.coin());
        info("iiiii", v[0], v[1], v[2], v[3], v[4]).octets(dn)("ii", v[5], v[6]);
        ReplicaInfo out;
        std::memset(&out, 0x55, sizeof out);
        Ber ber = decoder(info.bytes());
        ASSERT_EQ(decode_replica_info(ber.get(), &out), 0);
        EXPECT_EQ(v, (std::vector<int>{out.leadingValue1, out.leadingValue2, out.leadingValue3, out.leadingValue4,
                                       out.leadingValue5, out.trailingValue1, out.trailingValue2}));
        EXPECT_EQ(std::string(out.dn), dn.substr(0, LDAPX_DN_WIDTH - 1));

        Strings names = rng.list<std::string>([&] { return rng.text(); });
        std::vector<char *> in = c_array(names);
        Ber list = decoder(Writer(rng.coin())("{v}", in.data()).bytes());
        char **decoded = nullptr;
        ASSERT_EQ(decode_replica_list(list.get(), &decoded), 0);
        dirext::LdapValuesPtr owned(decoded);
        Strings back;
        for (char **n = decoded; n && *n; ++n) back.emplace_back(*n);
        EXPECT_EQ(back, names);
        EXPECT_EQ(decoded == nullptr, names.empty());  // an empty list is no array at all
    });
}

TEST(extopsProperty, ReturnedStrings)
{
    each_run([](generate::Random &rng, int) {
        std::string value = rng.octets(1200);
        if (rng.below(4) == 0) value.resize(769 + rng.below(5), 'd');  // around the bind DN's cut
        const bool cut = rng.coin();
        const std::size_t kept = cut && value.size() >= LDAPX_DN_WIDTH ? LDAPX_DN_WIDTH - 2 : value.size();
        Ber ber = decoder(Writer(rng.coin()).octets(value).bytes());
        char *out = nullptr;
        ASSERT_EQ(decode_returned_string(ber.get(), cut, &out), 0);
        EXPECT_EQ(std::string(out, kept), value.substr(0, kept));
        EXPECT_EQ(out[kept], '\0');
        std::free(out);
    });
}

TEST(extopsProperty, PrivilegesOfAList)
{
    each_run([](generate::Random &rng, int) {
        const std::vector<int> values = rng.list<int>([&] { return rng.int32(); });
        // A negative count announces no entries.
        const int count = values.empty() && rng.coin() ? -1 - static_cast<int>(rng.below(INT32_MAX))
                                                        : static_cast<int>(values.size());
        const std::size_t slots = rng.below(values.size() + 3);
        Writer w(rng.coin());
        w("{{i}[", count);
        for (int v : values) w("{i}", v);
        std::vector<int> got(slots + 1, -7), expected(slots + 1, -7);  // one guard slot
        for (std::size_t k = 0; k < slots && k < values.size(); ++k) expected[k] = values[k];
        Ber ber = decoder(w("]}").bytes());
        EXPECT_EQ(decode_privileges(ber.get(), got.data(), slots), 0);
        EXPECT_EQ(got, expected);
    });
}

TEST(extopsProperty, ReplicationFilterAnswer)
{
    each_run([](generate::Random &rng, int) {
        Writer w(rng.coin());
        w("{");
        std::string expected;
        for (std::size_t n = rng.length(8); n > 0; --n) {  // class entries: the name, then the attributes
            const std::string name = rng.text(40);
            w("{").octets(name)("{");
            expected += name + "$";
            for (std::size_t k = rng.length(8); k > 0; --k) {
                const std::string attribute = rng.text(40);
                w.octets(attribute);
                expected += attribute + "$";
            }
            w("}}");
            expected += "$";
        }
        if (!expected.empty()) expected += "$";
        Ber ber = decoder(w("}").bytes());
        char *text = nullptr;
        EXPECT_EQ(decode_replication_filter(ber.get(), &text), 0);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), expected);
        std::free(text);
    });
}

// A backup answer: size, the two state integers, the data element (of any
// tag: the reader takes it whole), and the chunk count and entries.
struct Backup {
    int size, first, second;
    ber_tag_t tag;
    std::string data;
    std::vector<int> chunks;
};

Backup random_backup(generate::Random &rng)
{
    static constexpr ber_tag_t kTags[] = {LBER_OCTETSTRING, LBER_OCTETSTRING, 0x80, 0x30, 0x9f21};
    Backup b{0, rng.int32(), rng.int32(), kTags[rng.below(5)], rng.octets(rng.coin() ? 300 : 70000), {}};
    if (b.data.empty()) b.data.push_back(static_cast<char>(rng.byte()));
    b.size = 1 + static_cast<int>(rng.below(b.data.size()));
    b.chunks = rng.list<int>([&] { return rng.int32(); }, rng.coin() ? 8 : 300);
    return b;
}

void check_backup(generate::Random &rng, const Backup &b)
{
    Writer w(rng.coin());
    w("iii", b.size, b.first, b.second).octets(b.data, b.tag)("{i[", static_cast<int>(b.chunks.size()));
    for (int c : b.chunks) w("{i}", c);
    Ber ber = decoder(w("]}").bytes());
    BackupResponse r;
    ASSERT_EQ(decode_backup(ber.get(), r), 0) << "data begins " << hex(b.data.substr(0, 4)) << " tag " << b.tag;
    EXPECT_EQ(r.size, b.size);
    EXPECT_EQ(std::string(r.data.get(), static_cast<std::size_t>(r.size)), b.data.substr(0, r.size));
    std::string chunk_list = std::to_string(b.chunks.size()) + ";", structure;
    for (int c : b.chunks) {
        chunk_list += std::to_string(c) + ";";
        structure += Seq(I(c));
    }
    EXPECT_EQ(std::string(r.chunk_list.get()), chunk_list);
    EXPECT_EQ(std::string(r.state.get()), std::to_string(b.first) + "+" + std::to_string(b.second));

    // What a backup returns, a restore sends back: the chunk list and the state.
    std::string bytes;
    ASSERT_EQ(encode([&](BerElement *e) { return encode_chunk_list(e, r.chunk_list.get()); }, bytes), 0);
    EXPECT_EQ(render(bytes), Seq(I(static_cast<long long>(b.chunks.size())) + Set(structure)));
    int first = 0, second = 0;
    const bool usable = b.first != 0 && b.second != 0;  // a state with a zero is refused
    EXPECT_EQ(parse_backup_state(r.state.get(), first, second), usable);
    EXPECT_TRUE(!usable || (first == b.first && second == b.second));
}

TEST(extopsProperty, BackupAnswer)
{
    each_run([](generate::Random &rng, int) {
        check_backup(rng, random_backup(rng));
    });
    each_run(  // the data's first byte, each value
        [](generate::Random &rng, int first) {
            Backup b = random_backup(rng);
            b.data[0] = static_cast<char>(first);
            check_backup(rng, b);
        },
        256);
}

TEST(extopsProperty, AnyElementThenTheNext)
{
    each_run([](generate::Random &rng, int run) {
        static constexpr ber_tag_t kTags[] = {LBER_OCTETSTRING, LBER_INTEGER, 0x80, 0x30, 0x31, 0xa3, 0x9f21};
        const ber_tag_t tag = kTags[rng.below(7)];
        std::string content = rng.octets();
        if (!content.empty() && run < 256) content[0] = static_cast<char>(run);
        const int next = rng.int32();
        Ber ber = decoder(Writer(rng.coin()).octets(content, tag)("i", next).bytes());
        char *buffer = nullptr;
        ASSERT_EQ(get_returnedBuffer(ber.get(), &buffer), tag);
        EXPECT_EQ(std::string(buffer, content.size()), content);
        EXPECT_EQ(buffer[content.size()], '\0');
        ber_memfree(buffer);
        int after = ~next;
        EXPECT_TRUE(scan_fields(ber.get(), "i", &after));  // the reader stops right at the next element
        EXPECT_EQ(after, next);
    });
}

// ---- what the library sends

// One generated request field: the value handed to the encoder, kept alive
// here, and its expected rendering appended to `expected`.
struct Field {
    std::string text;
    Strings list;
    std::vector<char *> pointers;
};

template <typename T>
T make(Field &f, generate::Random &rng, std::string &expected)
{
    if constexpr (std::is_same_v<T, int>) {
        const int v = rng.int32();
        expected += I(v);
        return v;
    } else if constexpr (std::is_same_v<T, Str>) {
        f.text = rng.text();
        expected += S(f.text);
        return f.text.c_str();
    } else {  // a list of names, which the formats always enclose in a SEQUENCE
        f.list = rng.list<std::string>([&] { return rng.text(40); });
        f.pointers = c_array(f.list);
        std::string inner;
        for (const std::string &s : f.list) inner += S(s);
        expected += Seq(inner);
        return f.pointers.data();
    }
}

template <Op op, typename... T>
int request(generate::Random &rng, std::string &expected, std::string &bytes)
{
    std::deque<Field> fields;  // where the strings live until encoded
    std::tuple<T...> args{make<T>(fields.emplace_back(), rng, expected)...};  // a braced list: in wire order
    return encode([&](BerElement *b) { return std::apply([b](auto... a) { return print<op>(b, a...); }, args); },
                  bytes);
}

// The requests with encoders of their own.

int native_name(generate::Random &rng, std::string &expected, std::string &bytes)
{
    auto unit = [&] { return static_cast<uint16_t>(1 + rng.below(0xffff)); };  // not the terminator
    std::vector<uint16_t> name = rng.list<uint16_t>(unit, 300);
    std::string units;
    for (uint16_t u : name) units += {static_cast<char>(u >> 8), static_cast<char>(u & 0xff)};
    name.push_back(0);
    expected = S(units + std::string(2, '\0'));
    return encode([&](BerElement *b) { return encode_native_name(b, name.data()); }, bytes);
}

int replication_filter(generate::Random &rng, std::string &expected, std::string &bytes)
{
    auto name = [&] {  // names of the text form: not empty, no "$" (which separates them)
        std::string s = rng.text(40);
        if (s.empty()) s = "n";
        for (char &c : s) c = c == '$' ? '%' : c;
        return s;
    };
    const std::string server = rng.text();
    std::string text, entries;
    for (std::size_t n = rng.length(8); n > 0; --n) {
        const std::string object_class = name();
        std::string attributes;
        text += object_class + "$";
        for (std::size_t k = rng.length(8); k > 0; --k) {
            const std::string a = name();
            text += a + "$";
            attributes += S(a);
        }
        text += "$";
        entries += Seq(S(object_class) + Seq(attributes));
    }
    text += "$" + rng.text(10);  // what follows the final "$" is ignored
    expected = S(server) + Seq(entries);
    return encode([&](BerElement *b) { return encode_replication_filter(b, server.c_str(), text.c_str()); }, bytes);
}

int chunk_list(generate::Random &rng, std::string &expected, std::string &bytes)
{
    const int count = rng.int32();
    std::string text = std::to_string(count) + ";", entries;
    for (std::size_t n = rng.length(100); n > 0; --n) {
        const int c = rng.int32();
        text += std::to_string(c) + ";";
        entries += Seq(I(c));
    }
    if (rng.coin()) text.pop_back();  // the last ";" may be left out
    expected = Seq(I(count) + Set(entries));
    return encode([&](BerElement *b) { return encode_chunk_list(b, text.c_str()); }, bytes);
}

struct RequestRow {
    Op op;
    int (*generate_and_encode)(generate::Random &rng, std::string &expected, std::string &bytes);
};

template <Op op, typename... T>
constexpr RequestRow row{op, request<op, T...>};

const RequestRow kRequests[] = {
    row<Op::SplitPartition, int, Str>,
    row<Op::MergePartitions, int, Str>,
    row<Op::PartitionEntryCount, Str>,
    row<Op::AbortPartitionOperation, int, Str>,
    row<Op::RequestPartitionSync, Str, Str, int>,
    row<Op::RequestSchemaSync, Str, int>,
    row<Op::SplitOrphanPartition, Str, Str>,
    row<Op::RemoveOrphanPartition, Str, Str>,
    row<Op::AddReplica, int, int, Str, Str>,
    row<Op::RemoveReplica, int, Str, Str>,
    row<Op::ChangeReplicaType, int, int, Str, Str>,
    row<Op::GetReplicaInfo, Str, Str>,
    row<Op::ListReplicas, Str>,
    row<Op::ReceiveAllUpdates, Str, Str, Str>,
    row<Op::SendAllUpdates, Str, Str>,
    row<Op::GetReplicationFilter, Str>,
    row<Op::GetEffectivePrivileges, Str, Str, Str>,
    row<Op::GetEffectivePrivilegesList, Str, Str, char **>,
    row<Op::DnsToX500Dn, Str>,
    row<Op::TriggerLimber, Str>,
    row<Op::BackupObject, Str, int, int, Str>,
    row<Op::RestoreObject, Str, Str, int>,  // then the data and the chunk list:
    {Op::RestoreObject, chunk_list},
    {Op::SetReplicationFilter, replication_filter},
    {Op::QuorToLdap, native_name},
};

TEST(extopsProperty, EveryRequest)
{
    for (const Operation &op : kOperations) {  // all but the requests without a value
        const bool covered = std::any_of(std::begin(kRequests), std::end(kRequests),
                                         [&](const RequestRow &r) { return &operation(r.op) == &op; });
        const bool own = &op == &operation(Op::SetReplicationFilter) || &op == &operation(Op::QuorToLdap);
        EXPECT_EQ(covered, op.request_format != nullptr || own) << op.function;
    }
    for (const RequestRow &row : kRequests) {
        SCOPED_TRACE(operation(row.op).function);
        each_run([&row](generate::Random &rng, int) {
            std::string expected, bytes;
            ASSERT_EQ(row.generate_and_encode(rng, expected, bytes), 0);
            EXPECT_EQ(render(bytes), expected);
        });
    }
}

}  // namespace
