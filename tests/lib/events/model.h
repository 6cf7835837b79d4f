// Every event body written down once more, apart from the library: the
// elements of each kind in wire order with the public member each fills.
// A body is modelled as one Value per element, in the form a decoded record
// shows it; write() turns a model into bytes, read() a record back into a
// model.  The properties generate models; the fuzz targets re-encode what
// the library accepted.
#pragma once

#include <dirext.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "generate.h"
#include "wire.h"

namespace model {

// Int, Str, Triple, Data, Text: required; Opt*, Tag*, Refs, Ints4, Strs4:
// optional; List: read whenever bytes remain; Config, Debug, Addr: the
// configuration value, the debug parameters, a network address.
enum class Op : uint8_t {
    Int, Str, Triple, Conn, List, TagList, TagInt, OptText, OptData, Data, Refs, Ints4, Strs4, Text, Config, Debug, Addr
};

struct Field {
    Op op;
    std::size_t at = 0;
    uint8_t tag = 0x04;
    std::size_t aux = 0;  // the length member (OptData, Data) or the buffer size (Text)
    std::size_t min = 0;  // shortest text
};

struct Shape {
    int tag;
    std::vector<Field> fields;
};

// One element as the record shows it; present: a pointer member is set.
struct Value {
    bool present = true;
    std::vector<int32_t> ints;
    std::vector<std::string> strs;
    std::vector<Value> items;
    bool operator==(const Value &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Value &v)
{
    os << (v.present ? "{" : "absent{");
    for (int32_t i : v.ints) os << i << ' ';
    for (const auto &s : v.strs) os << wire::hex(s) << "/" << s.size() << ' ';
    for (const auto &item : v.items) os << item;
    return os << "}";
}

// Inside SHAPE, R is the record and the field macros name its members.
#define SHAPE(tag, Record, ...) [] { using R = Record; return Shape{tag, {__VA_ARGS__}}; }()
#define F(op, m, ...) Field{Op::op, offsetof(R, m), __VA_ARGS__}
#define I(m) F(Int, m)
#define S(m) F(Str, m)
#define CONN F(Conn, connection)

inline const std::vector<Shape> &shapes()
{
    static const std::vector<Shape> all = {
        SHAPE(0x61, EntryEventData, S(string1), S(string2), S(string3), F(Triple, triple), I(integer1), I(integer2),
              F(OptText, data)),
        SHAPE(0x62, ValueEventData, S(string1), S(string2), S(string3), S(string4), S(string5), F(Triple, triple),
              F(OptData, data, 0x04, offsetof(R, dataLength)), F(TagInt, integer1, 0x02)),
        SHAPE(0x63, GeneralEventData, I(integer1), I(integer2), I(integer3), I(integer4), F(Str, string1, 0x85),
              F(Ints4, intValues, 0x86), F(Strs4, strValues, 0xa7)),
        Shape{0x64, {}},  // skulk: no record
        SHAPE(0x65, BinderyEventData, S(string1), I(integer1), I(integer2), I(integer3), S(string2)),
        SHAPE(0x66, SEVEventData, S(string1), I(integer1), S(string2),
              F(Refs, referrals, 0, offsetof(R, referralCount))),
        SHAPE(0x67, ModuleStateEventData, S(string1), I(integer1), F(Text, shortText, 0x04, 32, 1),
              F(Text, longText, 0x04, 128, 0), S(string2)),
        Shape{0x68, {{Op::Addr}}},  // the body is a network address
        SHAPE(0x69, ConnectionStateData, S(string1), I(integer1), I(integer2), S(string2)),
        SHAPE(0x6c, ChangeServerAddressData, I(integer1), I(integer2), I(integer3),
              F(Data, data, 0x04, offsetof(R, dataLength)), S(string1), S(string2)),
        Shape{0x6d, {{Op::Config}}},
        SHAPE(0x6f, StatusLogEventData, I(integer1), S(string1), S(string2), S(string3), S(string4), S(string5),
              S(string6)),
        SHAPE(0x70, DebugEventData, I(integer1), I(integer2), S(string1), S(string2), I(integer3), F(Debug, paramCount)),
        SHAPE(0x71, AuthEventData, CONN, I(integer1), I(integer2), S(string1), I(integer3), S(string2), I(integer4),
              F(TagList, list1, 0x80)),
        SHAPE(0x72, ConnectionEventData, I(integer1), I(integer2), S(string1)),
        SHAPE(0x73, SearchEventData, CONN, I(integer1), I(integer2), S(string1), S(string2), I(integer3), S(string3),
              I(integer4), F(List, list1), F(TagList, list2, 0x80)),
        SHAPE(0x74, SearchEntryResponseEventData, CONN, I(integer1), I(integer2), S(string1), S(string2),
              I(integer3), F(List, list1)),
        SHAPE(0x75, UpdateEventData, CONN, I(integer1), I(integer2), I(integer3), S(string1), S(string2), S(string3),
              I(integer4), F(TagList, list1, 0x80)),
        SHAPE(0x76, CompareEventData, CONN, I(integer1), I(integer2), S(string1), S(string2), S(string3), S(string4),
              S(string5), I(integer3)),
        SHAPE(0x77, ModDNEventData, CONN, I(integer1), I(integer2), S(string1), S(string2), S(string3), S(string4),
              I(integer3), F(TagList, list1, 0x80)),
        SHAPE(0x78, AbandonEventData, CONN, I(integer1), I(integer2), I(integer3), S(string1), I(integer4)),
        SHAPE(0x79, ExtOpEventData, CONN, I(integer1), I(integer2), I(integer3), S(string1), S(string2), I(integer4)),
        SHAPE(0x7a, SysExtOpEventData, CONN, I(integer1), I(integer2), I(integer3), S(string1), S(string2),
              S(string3), S(string4), S(string5), S(string6), I(integer4)),
        SHAPE(0x7b, ResponseEventData, CONN, I(integer1), I(integer2), I(integer3), I(integer4), S(string1),
              F(TagList, list1, 0x81)),
        SHAPE(0x7c, PasswordModifyData, CONN, I(integer1), I(integer2), S(string1), S(string2), I(integer3),
              I(integer4)),
        SHAPE(0x7d, UnknownOpData, I(integer1), S(string1)),
    };
    return all;
}
#undef CONN
#undef S
#undef I
#undef F
#undef SHAPE

inline void PrintTo(const Shape &s, std::ostream *os) { *os << "tag " << s.tag; }

inline const Shape *shape_for(int tag)
{
    for (const Shape &s : shapes())
        if (s.tag == tag) return &s;
    return nullptr;
}

// ---- reading a record ----

template <typename T>
const T &at(const void *record, std::size_t offset)
{
    return *reinterpret_cast<const T *>(static_cast<const char *>(record) + offset);
}

// A string member: null for empty; an empty non-null one shows as a marker.
inline std::string text(const char *s) { return !s ? "" : *s ? s : "<empty, not null>"; }
// Octets with their length: null exactly when empty.
inline std::string bytes(const char *p, int32_t n)
{
    if (!p || n <= 0) return !p && n == 0 ? "" : "<null or empty with length " + std::to_string(n) + ">";
    return std::string(p, static_cast<std::size_t>(n));
}
inline std::vector<int32_t> ints_of(const EventTriple &t) { return {t.integer1, t.integer2, t.integer3}; }

inline Value read_address(const NetAddrEventData *a)
{
    if (!a) return Value{false};
    const bool terminated = a->length >= 0 && a->address[a->length] == '\0';
    return Value{true, {a->type}, {terminated ? std::string(a->address, a->length) : "<not terminated>"}};
}

inline Value read_debug_parameter(const DebugParameter &p)
{
    Value v{true, {p.type, p.intValue, p.triple.integer1, p.triple.integer2, p.triple.integer3, p.tripleCount},
            {text(p.strValue), bytes(p.data, p.dataLength)}};
    for (int32_t i = 0; p.triples && i < p.tripleCount; ++i)
        for (int32_t n : ints_of(p.triples[i])) v.ints.push_back(n);
    return v;
}

inline Value read(const Field &f, const void *r)
{
    switch (f.op) {
    case Op::Int:
    case Op::TagInt: return Value{true, {at<int32_t>(r, f.at)}};
    case Op::Str:
    case Op::OptText: return Value{true, {}, {text(at<char *>(r, f.at))}};
    case Op::Triple: return Value{true, ints_of(at<EventTriple>(r, f.at))};
    case Op::Conn: {
        const ConnectionData *c = at<ConnectionData *>(r, f.at);
        return c ? Value{true, {c->integer1, c->integer2}, {text(c->string1)}} : Value{false};
    }
    case Op::List:
    case Op::TagList: {
        char **list = at<char **>(r, f.at);
        Value v{list != nullptr};
        for (char **s = list; s && *s; ++s) v.strs.emplace_back(*s);
        return v;
    }
    case Op::OptData:
    case Op::Data: return Value{true, {}, {bytes(at<char *>(r, f.at), at<int32_t>(r, f.aux))}};
    case Op::Refs: {
        const auto *refs = at<ReferralAddress *>(r, f.at);
        Value v{refs != nullptr, {at<int32_t>(r, f.aux)}};
        for (int32_t i = 0; refs && i < v.ints[0]; ++i)
            v.items.push_back(Value{true, {refs[i].type}, {bytes(refs[i].data, refs[i].length)}});
        return v;
    }
    case Op::Ints4: return Value{true, std::vector<int32_t>(&at<int32_t>(r, f.at), &at<int32_t>(r, f.at) + 4)};
    case Op::Strs4: {
        Value v;
        for (int i = 0; i < 4; ++i) v.strs.push_back(text((&at<char *>(r, f.at))[i]));
        return v;
    }
    case Op::Text: {
        const char *t = &at<char>(r, f.at);
        return Value{true, {}, {std::string(t, strnlen(t, f.aux))}};
    }
    case Op::Config: {
        auto &c = *static_cast<const ChangeConfigParamData *>(r);
        return Value{true, {c.paramType, c.intValue}, {text(c.paramName), text(c.strValue), bytes(c.data, c.dataLength)}};
    }
    case Op::Debug: {
        auto &d = *static_cast<const DebugEventData *>(r);
        Value v{d.params != nullptr, {d.paramCount}};
        for (int32_t i = 0; d.params && i < d.paramCount; ++i) v.items.push_back(read_debug_parameter(d.params[i]));
        return v;
    }
    case Op::Addr: return read_address(static_cast<const NetAddrEventData *>(r));
    }
    return Value{false, {}, {"<unknown op>"}};
}

inline std::vector<Value> read(const Shape &s, const void *record)
{
    std::vector<Value> out;
    for (const Field &f : s.fields) out.push_back(read(f, record));
    return out;
}

// ---- writing a body ----
// With a generator, equivalent wire forms are chosen at random (an empty
// optional element sent or left out, unsent group slots, skipped bytes);
// without one the form is fixed.

inline bool maybe(generate::Random *rng) { return rng && rng->coin(); }

inline std::string write_debug_parameter(const Value &p)
{
    using namespace wire;
    const std::vector<int32_t> &n = p.ints;  // type, intValue, triple, tripleCount, triples
    switch (n[0]) {
    case 1:
    case 4: return integer(n[1], static_cast<uint8_t>(0x80 | n[0]));
    case 2: return octets(p.strs[0], 0x82);
    case 3: return octets(p.strs[1], 0x83);
    case 5: return tlv(0x85, integer(n[1]) + octets(p.strs[1]));
    case 6: return tlv(0x86, integer(n[2]) + integer(n[3]) + integer(n[4]));
    default: {
        std::string triples;
        for (std::size_t i = 6; i + 2 < n.size(); i += 3) triples += triple(n[i], n[i + 1], n[i + 2]);
        return tlv(0x87, integer(n[5]) + tlv(0x30, triples));
    }
    }
}

// Slots of a group of four up to the last one set, perhaps a few unset ones more.
template <typename T>
std::size_t sent_slots(const std::vector<T> &slots, generate::Random *rng)
{
    std::size_t n = 4;
    while (n && slots[n - 1] == T{}) --n;
    return rng ? n + rng->below(5 - n) : n;
}

// `open`: bytes may still follow (a list read whenever bytes remain, or a
// left-out integer that an address would be taken for, closes the body).
inline std::string write(const Field &f, const Value &v, generate::Random *rng, bool &open)
{
    using namespace wire;
    if (!open) return "";
    std::string out;
    switch (f.op) {
    case Op::Int: return integer(v.ints[0]);
    case Op::Str:
    case Op::Text: return octets(v.strs[0], f.tag);
    case Op::OptText:
    case Op::OptData: return v.strs[0].empty() && maybe(rng) ? "" : octets(v.strs[0]);
    case Op::Data: return octets(v.strs[0]);
    case Op::Triple: return triple(v.ints[0], v.ints[1], v.ints[2]);
    case Op::Conn: return v.present ? connection(v.ints[0], v.ints[1], v.strs[0]) : seq({});
    case Op::List:
    case Op::TagList:
        if (!v.present) {
            open = f.op != Op::List;
            return "";
        }
        for (const auto &s : v.strs) out += seq({octets(s)});
        return tlv(f.op == Op::List ? 0x30 : f.tag, out);
    case Op::TagInt:
        open = v.ints[0] != 0 || !maybe(rng);
        return open ? integer(v.ints[0]) : "";
    case Op::Refs:
        if (v.items.empty()) return maybe(rng) ? seq({}) : "";
        for (const Value &e : v.items) out += seq({integer(e.ints[0]), octets(e.strs[0])});
        return seq({integer(static_cast<int64_t>(v.items.size())), tlv(0x30, out)});
    case Op::Ints4:
    case Op::Strs4: {
        const std::size_t n = f.op == Op::Ints4 ? sent_slots(v.ints, rng) : sent_slots(v.strs, rng);
        if (n == 0 && (!rng || rng->coin())) return "";
        for (std::size_t i = 0; i < n; ++i) out += f.op == Op::Ints4 ? integer(v.ints[i]) : octets(v.strs[i]);
        return tlv(f.tag, out);
    }
    case Op::Config: {
        const int32_t type = v.ints[0];
        out = integer(type) + octets(v.strs[0]);
        if (type == 1) return out + octets(v.strs[2], 0x83);
        if (type == 2 || type == 5) return out + integer(v.ints[1], type == 2 ? 0x82 : 0x81);
        if (type == 3) return out + octets(v.strs[1], 0x84);
        return out + tlv(0x85, rng ? rng->octets(20) : "");  // no value: whatever it holds is skipped
    }
    case Op::Debug:
        for (const Value &p : v.items) out += write_debug_parameter(p);
        return integer(v.ints[0]) + (v.ints[0] > 0 ? tlv(0x30, out) : "");
    case Op::Addr: return address(v.ints[0], v.strs[0]);
    }
    return out;
}

// The body's contents; the trailing address goes behind the fields when the
// body leaves room for it, else it is marked absent.
inline std::string write(const Shape &s, const std::vector<Value> &fields, Value &address,
                         generate::Random *rng = nullptr)
{
    bool open = true;
    std::string out;
    for (std::size_t i = 0; i < s.fields.size(); ++i) out += write(s.fields[i], fields[i], rng, open);
    if (!address.present || !open) address = Value{false};
    return address.present ? out + wire::address(address.ints[0], address.strs[0]) : out;
}

// ---- generating a body ----

inline Value random_debug_parameter(generate::Random &rng)
{
    const int32_t type = 1 + static_cast<int32_t>(rng.below(7));
    Value p{true, {type, 0, 0, 0, 0, 0}, {"", ""}};
    if (type == 1 || type == 4 || type == 5) p.ints[1] = rng.int32();
    if (type == 2) p.strs[0] = rng.text();
    if (type == 3 || type == 5) p.strs[1] = rng.octets();
    if (type == 6)
        for (int i = 2; i < 5; ++i) p.ints[i] = rng.int32();
    if (type == 7) {
        p.ints[5] = static_cast<int32_t>(rng.length(12));
        for (int32_t i = 0; i < 3 * p.ints[5]; ++i) p.ints.push_back(rng.int32());
    }
    return p;
}

// A random element as the record must show it; `open` false: the body has
// ended, so the element is absent.
inline Value random_value(const Field &f, generate::Random &rng, bool open)
{
    alignas(16) static const char zeros[512] = {};  // a record with nothing set shows every element absent
    if (!open) return read(f, zeros);
    auto texts = [&] { return rng.text(); };
    switch (f.op) {
    case Op::Int:
    case Op::TagInt: return Value{true, {rng.int32()}};
    case Op::Str:
    case Op::OptText: return Value{true, {}, {rng.text()}};
    case Op::OptData:
    case Op::Data: return Value{true, {}, {rng.octets()}};
    case Op::Triple: return Value{true, {rng.int32(), rng.int32(), rng.int32()}};
    case Op::Conn: return rng.below(4) ? Value{true, {rng.int32(), rng.int32()}, {rng.text()}} : Value{false};
    case Op::List:
    case Op::TagList: return rng.below(3) ? Value{true, {}, rng.list<std::string>(texts, 20)} : Value{false};
    case Op::Refs: {
        Value v{false, {0}};
        if (rng.coin()) v.items = rng.list<Value>([&] { return Value{true, {rng.int32()}, {rng.octets()}}; }, 20);
        v.present = !v.items.empty();
        v.ints[0] = static_cast<int32_t>(v.items.size());
        return v;
    }
    case Op::Ints4:
    case Op::Strs4: {
        Value v{true, {0, 0, 0, 0}};
        if (f.op == Op::Strs4) v = Value{true, {}, {"", "", "", ""}};
        for (uint64_t i = 0, n = rng.below(5); i < n; ++i)
            f.op == Op::Ints4 ? void(v.ints[i] = rng.int32()) : void(v.strs[i] = rng.text());
        return v;
    }
    case Op::Text: {
        std::string t = rng.text(f.aux - 1);
        return Value{true, {}, {t.size() < f.min ? std::string(f.min, 't') : t}};
    }
    case Op::Config: {
        static constexpr int32_t kTypes[] = {0, 1, 2, 3, 5};
        const int32_t type = kTypes[rng.below(5)];
        Value v{true, {type, 0}, {rng.text(), "", ""}};
        if (type == 1) v.strs[2] = rng.octets();
        if (type == 2 || type == 5) v.ints[1] = rng.int32();
        if (type == 3) v.strs[1] = rng.text();
        return v;
    }
    case Op::Debug: {
        const int32_t n = rng.below(8) ? static_cast<int32_t>(rng.length(12)) : std::min(rng.int32(), 0);
        Value v{n > 0, {n}};
        for (int32_t i = 0; i < n; ++i) v.items.push_back(random_debug_parameter(rng));
        return v;
    }
    case Op::Addr: return Value{true, {rng.int32()}, {rng.octets()}};
    }
    return Value{};
}

struct Body {
    std::vector<Value> fields;
    Value address{false};
    std::string contents;
};

inline Body random_body(const Shape &s, generate::Random &rng)
{
    Body b;
    if (s.fields.empty()) {  // nothing is read: any bytes will do
        b.contents = rng.octets();
        return b;
    }
    bool open = true;
    for (const Field &f : s.fields) {
        b.fields.push_back(random_value(f, rng, open));
        open = open && !(f.op == Op::List && !b.fields.back().present);
    }
    b.address = Value{rng.coin(), {rng.int32()}, {rng.octets()}};
    b.contents = write(s, b.fields, b.address, &rng);
    return b;
}

// What a decoded record shows, written again, must decode into the same,
// unless a NUL in a text cut it below its shortest length.  `decode(bytes,
// &record, &address)` reads a body's contents.  For the fuzz targets.
template <typename Decode>
bool same_when_rewritten(const Shape &s, const void *record, const NetAddrEventData *address, Decode decode)
{
    const std::vector<Value> fields = read(s, record);
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (s.fields[i].op == Op::Text && fields[i].strs[0].size() < s.fields[i].min) return true;
    Value sent = read_address(address);
    const std::string bytes = write(s, fields, sent);
    void *again = nullptr;
    NetAddrEventData *again_address = nullptr;
    const bool same = decode(bytes, &again, &again_address) == LDAP_SUCCESS && again && read(s, again) == fields &&
                      read_address(again_address) == sent;
    ldap_event_free(again);
    ldap_event_free(again_address);
    return same;
}

}  // namespace model
