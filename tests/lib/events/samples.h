// Valid event bodies of every record kind, hand-built, with the record each
// must decode into.  Shared by the decoder tests, the fuzz seeds and the
// benchmark.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "wire.h"

namespace events_test {

struct Piece {
    std::string bytes;
    bool optional = false;  // the body may end before this piece
    bool address = false;   // part of the trailing network address
};

struct Sample {
    std::string name;
    int tag = 0;  // body tag, 0x61..0x7d
    std::vector<Piece> pieces;
    std::string record;   // dump() of the decoded record ("null": none)
    std::string address;  // dump() of the trailing address ("null": none)

    std::string contents() const;  // the body's contents, all pieces
    std::string body() const { return wire::tlv(static_cast<uint8_t>(tag), contents()); }
    // The notification value: SEQUENCE { type, result, body }.
    std::string value(int type = 7, int result = 0) const
    {
        return wire::seq({wire::integer(type), wire::integer(result), body()});
    }
    // Lengths of contents() at which the body may validly end.
    std::vector<std::size_t> valid_cuts() const;
    // Offsets [begin, end) of the address pieces within contents().
    std::pair<std::size_t, std::size_t> address_span() const;
};

const std::vector<Sample> &samples();

// Test output names a sample instead of dumping its bytes.
inline void PrintTo(const Sample &s, std::ostream *os) { *os << s.name; }

}  // namespace events_test
