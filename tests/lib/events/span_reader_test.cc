// The inline reader against liblber: on stated inputs with their exact
// results, on many generated ones, and whole notifications (every sample,
// every prefix, every single-octet change) through both instantiations of
// the decoders.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "dump.h"
#include "events/records.h"
#include "outcome.h"
#include "samples.h"
#include "wire.h"

namespace events_test {
namespace {

using dirext::events::LberReader;
using dirext::events::SpanReader;

// What one step of a reader gave.
struct Step {
    ber_tag_t tag = 0;
    std::optional<int32_t> integer;  // read_int only: the value when it read
    std::size_t contents_at = 0;     // offset of the contents (peek, take)
    std::size_t length = 0;          // contents length (peek, take, skip_tag)
    std::size_t left = 0;            // bytes left behind the step
    bool operator==(const Step &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Step &s)
{
    os << "tag=" << std::hex << s.tag << std::dec << " at=" << s.contents_at << " length=" << s.length
       << " left=" << s.left;
    if (s.integer) os << " int=" << *s.integer;
    return os;
}

enum class Verb { Peek, Take, SkipTag, ReadInt };

// One verb through any reader; `base` is where its bytes begin.
template <typename R>
Step run(R &r, Verb verb, const char *base)
{
    Step s;
    struct berval contents = {0, nullptr};
    ber_len_t length = 0;
    switch (verb) {
    case Verb::Peek:
        s.tag = r.peek(&length);
        s.length = s.tag == LBER_DEFAULT ? 0 : length;
        break;
    case Verb::Take:
        s.tag = r.take(&contents);
        if (s.tag != LBER_DEFAULT) {
            s.contents_at = static_cast<std::size_t>(contents.bv_val - base);
            s.length = contents.bv_len;
        }
        break;
    case Verb::SkipTag:
        s.tag = r.skip_tag(&length);
        s.length = s.tag == LBER_DEFAULT ? 0 : length;
        break;
    case Verb::ReadInt: {
        int32_t value = 0;
        s.tag = r.read_int(&value) ? 0 : LBER_DEFAULT;
        if (s.tag == 0) s.integer = value;
        break;
    }
    }
    s.left = r.remaining();
    return s;
}

// The same verbs over the same bytes through liblber and the inline reader.
struct Both {
    std::string bytes;  // NUL behind the end, for liblber's look past the last element
    struct berval bv;
    dirext::events::BerBuffer buffer;
    LberReader lber;
    SpanReader span;

    explicit Both(const std::string &input)
        : bytes(input + std::string(1, '\0')),
          bv{input.size(), bytes.data()},
          lber(dirext::events::open_buffer(buffer, &bv)),
          span(bv)
    {
    }
    std::pair<Step, Step> step(Verb verb) { return {run(lber, verb, bytes.data()), run(span, verb, bytes.data())}; }
};

struct ElementCase {
    const char *name;
    std::string bytes;
    Verb verb;
    Step expected;
};

void PrintTo(const ElementCase &c, std::ostream *os) { *os << c.name; }

constexpr ber_tag_t kFail = LBER_DEFAULT;

std::string bytes(std::initializer_list<int> octets)
{
    std::string out;
    for (int o : octets) out += static_cast<char>(o);
    return out;
}

const ElementCase kElements[] = {
    {"empty_input", "", Verb::Peek, {kFail, {}, 0, 0, 0}},
    {"tag_without_length", bytes({0x04}), Verb::Peek, {kFail, {}, 0, 0, 1}},
    {"short_length", bytes({0x04, 0x02, 'a', 'b', 0x05}), Verb::Take, {0x04, {}, 2, 2, 1}},
    {"short_length_beyond_the_bytes", bytes({0x04, 0x03, 'a', 'b'}), Verb::Take, {kFail, {}, 0, 0, 4}},
    {"long_length_one_octet", bytes({0x04, 0x81, 0x01, 'a'}), Verb::Take, {0x04, {}, 3, 1, 0}},
    {"long_length_leading_zeros", bytes({0x04, 0x84, 0, 0, 0, 1, 'a'}), Verb::Take, {0x04, {}, 6, 1, 0}},
    {"long_length_eight_octets", bytes({0x04, 0x88, 0, 0, 0, 0, 0, 0, 0, 1, 'a'}), Verb::Take, {0x04, {}, 10, 1, 0}},
    {"long_length_nine_octets", bytes({0x04, 0x89, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'a'}), Verb::Take,
     {kFail, {}, 0, 0, 12}},
    // As ber_skip_tag, a failed entry leaves the reader behind what it read.
    {"indefinite_length", bytes({0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}), Verb::SkipTag, {kFail, {}, 0, 0, 5}},
    {"long_length_octets_missing", bytes({0x04, 0x82, 0x01}), Verb::Peek, {kFail, {}, 0, 0, 3}},
    {"huge_length", bytes({0x04, 0x88, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 'a'}), Verb::Take,
     {kFail, {}, 0, 0, 11}},
    {"two_octet_tag", bytes({0x9f, 0x21, 0x01, 'x'}), Verb::Take, {0x9f21, {}, 3, 1, 0}},
    {"three_octet_tag", bytes({0x7f, 0x81, 0x02, 0x00}), Verb::Peek, {0x7f8102, {}, 0, 0, 4}},
    {"eight_octet_tag", bytes({0x1f, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 0x00}), Verb::Take,
     {0x1f81818181818101, {}, 9, 0, 0}},
    {"nine_octet_tag", bytes({0x1f, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 0x00}), Verb::Take,
     {kFail, {}, 0, 0, 10}},
    {"tag_running_off_the_end", bytes({0x1f, 0x81}), Verb::Peek, {kFail, {}, 0, 0, 2}},
    {"skip_tag_enters", bytes({0x30, 0x03, 0x02, 0x01, 0x07, 0x04, 0x00}), Verb::SkipTag, {0x30, {}, 0, 3, 5}},
    {"int_empty_is_zero", bytes({0x02, 0x00, 0x04}), Verb::ReadInt, {0, 0, 0, 0, 1}},
    {"int_one_octet_negative", bytes({0x02, 0x01, 0xff}), Verb::ReadInt, {0, -1, 0, 0, 0}},
    {"int_two_octets", bytes({0x02, 0x02, 0x01, 0x00}), Verb::ReadInt, {0, 256, 0, 0, 0}},
    {"int_four_octets_max", bytes({0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}), Verb::ReadInt, {0, INT32_MAX, 0, 0, 0}},
    {"int_four_octets_min", bytes({0x02, 0x04, 0x80, 0x00, 0x00, 0x00}), Verb::ReadInt, {0, INT32_MIN, 0, 0, 0}},
    {"int_non_minimal", bytes({0x02, 0x03, 0x00, 0x00, 0x05}), Verb::ReadInt, {0, 5, 0, 0, 0}},
    {"int_five_octets_is_stepped_over_and_fails", bytes({0x02, 0x05, 0, 0, 0, 0, 1, 0x05, 0x00}), Verb::ReadInt,
     {kFail, {}, 0, 0, 2}},
    {"int_under_any_tag", bytes({0x85, 0x01, 0x2a}), Verb::ReadInt, {0, 42, 0, 0, 0}},
    {"int_beyond_the_bytes", bytes({0x02, 0x02, 0x01}), Verb::ReadInt, {kFail, {}, 0, 0, 3}},
};

class Elements : public ::testing::TestWithParam<ElementCase> {};

TEST_P(Elements, ReadAsStatedAndAsLiblberReadsThem)
{
    const ElementCase &c = GetParam();
    Both both(c.bytes);
    auto [lber, span] = both.step(c.verb);
    EXPECT_EQ(span, c.expected);
    EXPECT_EQ(span, lber);
}

INSTANTIATE_TEST_SUITE_P(Events, Elements, ::testing::ValuesIn(kElements),
                         [](const auto &info) { return info.param.name; });

// Inputs drawn mostly from the octets that decide tags and lengths.
class Octets {
public:
    explicit Octets(uint64_t seed) : state_(seed) {}
    uint8_t next()
    {
        static const uint8_t kTelling[] = {0x00, 0x01, 0x02, 0x04, 0x05, 0x1f, 0x30, 0x7f, 0x80,
                                           0x81, 0x82, 0x84, 0x88, 0x89, 0x9f, 0xbf, 0xff};
        const uint64_t r = draw();
        return (r & 3) ? kTelling[(r >> 8) % sizeof kTelling] : static_cast<uint8_t>(r >> 16);
    }
    uint64_t draw()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }

private:
    uint64_t state_;
};

TEST(EventsSpanReader, AgreesWithLiblberOnGeneratedInputs)
{
    Octets gen(0x9e3779b97f4a7c15u);
    for (int n = 0; n < 20000; ++n) {
        std::string input;
        const std::size_t size = gen.draw() % 14;
        for (std::size_t i = 0; i < size; ++i) input += static_cast<char>(gen.next());
        Both both(input);
        // A few verbs in a row, as a decoder strings them together.
        for (int k = 0; k < 4; ++k) {
            const Verb verb = static_cast<Verb>(gen.draw() % 4);
            auto [lber, span] = both.step(verb);
            ASSERT_EQ(span, lber) << "input " << wire::hex(input) << " verb " << static_cast<int>(verb)
                                  << " step " << k;
        }
    }
}

// ---- whole notification values through both readers ----

void expect_same(const std::string &value, const std::string &what)
{
    Both both(value);
    const Outcome lber = read_through(both.lber);
    const Outcome span = read_through(both.span);
    ASSERT_EQ(span, lber) << what << ": " << wire::hex(value);
    EXPECT_FALSE(span.address_after_failure) << what << ": " << wire::hex(value);
    EXPECT_EQ(both.span.remaining(), both.lber.remaining()) << what << ": " << wire::hex(value);
}

class EveryKindThroughBothReaders : public ::testing::TestWithParam<Sample> {};

TEST_P(EveryKindThroughBothReaders, PrefixesAndChangedOctetsDecodeAlike)
{
    const std::string value = GetParam().value(5, -2);
    for (std::size_t cut = 0; cut <= value.size(); ++cut) expect_same(value.substr(0, cut), "prefix");
    for (std::size_t at = 0; at < value.size(); ++at) {
        for (const int change : {0x00, 0x01, 0x80, 0xff, value[at] ^ 0x20}) {
            std::string changed = value;
            changed[at] = static_cast<char>(change);
            expect_same(changed, "octet " + std::to_string(at));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Events, EveryKindThroughBothReaders, ::testing::ValuesIn(samples()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
}  // namespace events_test
