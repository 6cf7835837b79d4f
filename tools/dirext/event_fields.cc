#include "event_fields.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "event_kinds.h"
#include "json_line.h"

namespace dirext_cli {
namespace {

struct Value {
    std::string json;
    std::optional<std::string> text;  // nullopt: nothing to show
};

template <typename T>
const T &member(const void *record, size_t offset)
{
    return *reinterpret_cast<const T *>(static_cast<const char *>(record) + offset);
}

std::string hex(const char *bytes, int32_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int32_t i = 0; bytes && i < length; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

Value int_value(long long v) { return {std::to_string(v), std::to_string(v)}; }

Value string_value(const char *s)
{
    if (!s) return {"null", std::nullopt};
    return {json_string(s), json_string(s)};
}

Value data_value(const char *bytes, int32_t length)
{
    if (!bytes) return {"null", std::nullopt};
    return {json_string(hex(bytes, length)), hex(bytes, length)};
}

// JSON: an array; text: its members joined by commas (nothing when empty).
Value joined(const std::vector<std::string> &json_members)
{
    std::string text;
    for (size_t i = 0; i < json_members.size(); ++i) text += (i ? "," : "") + json_members[i];
    if (text.empty()) return {"[]", std::nullopt};
    return {"[" + text + "]", text};
}

Value list_value(char *const *list)
{
    if (!list) return {"null", std::nullopt};
    std::vector<std::string> members;
    for (; *list; ++list) members.push_back(json_string(*list));
    return joined(members);
}

Value triple_value(const EventTriple &t)
{
    return joined({std::to_string(t.integer1), std::to_string(t.integer2), std::to_string(t.integer3)});
}

Value operation_value(int32_t tag)
{
    static constexpr struct {
        int32_t tag;
        const char *name;
    } kOperations[] = {{LDAP_REQ_BIND, "bind"},     {LDAP_REQ_SEARCH, "search"},   {LDAP_REQ_MODIFY, "modify"},
                       {LDAP_REQ_ADD, "add"},       {LDAP_REQ_DELETE, "delete"},   {LDAP_REQ_MODDN, "moddn"},
                       {LDAP_REQ_COMPARE, "compare"}, {LDAP_REQ_EXTENDED, "extended"}};
    for (const auto &o : kOperations)
        if (o.tag == tag) return {json_string(o.name), o.name};
    return {json_string(std::to_string(tag)), std::to_string(tag)};
}

// Nested arrays of objects: the text line shows their JSON.
Value raw_json(std::string json)
{
    if (json == "[]") return {json, std::nullopt};
    return {json, json};
}

std::string referrals_json(const ReferralAddress *list, int32_t count)
{
    std::string out = "[";
    for (int32_t i = 0; list && i < count; ++i)
        out += (i ? ",{\"type\":" : "{\"type\":") + std::to_string(list[i].type) +
               ",\"data\":" + data_value(list[i].data, list[i].length).json + "}";
    return out + "]";
}

// A debug parameter's value members, by its type.
std::string parameter_json(const DebugParameter &p)
{
    JsonLine o;
    o.field("type", p.type);
    if (p.type == 1 || p.type == 4 || p.type == 5) o.field("int_value", p.intValue);
    if (p.type == 2) o.field("str_value", p.strValue);
    if (p.type == 3 || p.type == 5) o.field_raw("data", data_value(p.data, p.dataLength).json);
    if (p.type == 6) o.field_raw("triple", triple_value(p.triple).json);
    if (p.type == 7) {
        std::vector<std::string> triples;
        for (int32_t i = 0; p.triples && i < p.tripleCount; ++i) triples.push_back(triple_value(p.triples[i]).json);
        o.field_raw("triples", joined(triples).json);
    }
    std::string line = o.str();
    return line.substr(0, line.size() - 1);  // without the line break
}

std::string parameters_json(const DebugParameter *params, int32_t count)
{
    std::vector<std::string> members;
    for (int32_t i = 0; params && i < count; ++i) members.push_back(parameter_json(params[i]));
    return joined(members).json;
}

Value member_value(const void *r, const MemberRow &m)
{
    auto count = [&] { return member<int32_t>(r, m.count); };
    switch (m.type) {
    case Member::kInt: return int_value(member<int32_t>(r, m.offset));
    case Member::kString: return string_value(member<char *>(r, m.offset));
    case Member::kText: return string_value(&member<char>(r, m.offset));
    case Member::kBytes: {
        std::string_view bytes(&member<char>(r, m.offset), static_cast<size_t>(count() > 0 ? count() : 0));
        return {json_string(bytes), json_string(bytes)};
    }
    case Member::kTriple: return triple_value(member<EventTriple>(r, m.offset));
    case Member::kList: return list_value(member<char **>(r, m.offset));
    case Member::kData: return data_value(member<char *>(r, m.offset), count());
    case Member::kOperation: return operation_value(member<int32_t>(r, m.offset));
    case Member::kInts4: {
        const int32_t *v = &member<int32_t>(r, m.offset);
        return joined({std::to_string(v[0]), std::to_string(v[1]), std::to_string(v[2]), std::to_string(v[3])});
    }
    case Member::kStrings4: {
        char *const *v = &member<char *>(r, m.offset);
        return joined({string_value(v[0]).json, string_value(v[1]).json, string_value(v[2]).json,
                       string_value(v[3]).json});
    }
    case Member::kReferrals: return raw_json(referrals_json(member<ReferralAddress *>(r, m.offset), count()));
    case Member::kParams: return raw_json(parameters_json(member<DebugParameter *>(r, m.offset), count()));
    case Member::kConnection: break;  // three fields: see add_member
    }
    return {"null", std::nullopt};
}

void add(std::vector<EventField> &out, const char *name, Value v, bool main = true)
{
    out.push_back({name, std::move(v.json), main ? std::move(v.text) : std::nullopt});
}

void add_member(std::vector<EventField> &out, const void *record, const MemberRow &m)
{
    if (m.type != Member::kConnection) return add(out, m.name, member_value(record, m), m.main);
    const ConnectionData *c = member<ConnectionData *>(record, m.offset);
    add(out, "connection", c ? int_value(c->integer1) : Value{"null", std::nullopt});
    add(out, "message_id", c ? int_value(c->integer2) : Value{"null", std::nullopt});
    add(out, "bound_dn", string_value(c ? c->string1 : nullptr));
}

}  // namespace

std::vector<EventField> event_fields(int type, int result, const void *record, const NetAddrEventData *address)
{
    std::vector<EventField> out;
    add(out, "type", int_value(type));
    add(out, "result", int_value(result));
    const KindRow *kind = event_kind(record);
    add(out, "kind", kind ? Value{json_string(kind->name), kind->name} : Value{"null", std::nullopt});
    if (kind)
        for (const auto &m : kind->members) add_member(out, record, m);
    if (address) {
        add(out, "address_type", int_value(address->type), false);
        add(out, "address", member_value(address, kAddressBytes));
    }
    return out;
}

void print_event(const std::vector<EventField> &fields, bool json)
{
    if (json) {
        JsonLine line;
        for (const auto &f : fields) line.field_raw(f.name, f.json);
        line.print();
        return;
    }
    std::string line;
    for (const auto &f : fields)
        if (f.text) line += (line.empty() ? "" : " ") + f.name + "=" + *f.text;
    std::puts(line.c_str());
    std::fflush(stdout);
}

}  // namespace dirext_cli
