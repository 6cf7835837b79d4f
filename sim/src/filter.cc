#include "filter.h"

#include <ldap.h>

#include "ber.h"

namespace dirsim::detail {

namespace {
// Deeper nesting than any real filter; it keeps hostile input off the stack.
constexpr int kMaxDepth = 64;

bool decode_ava(const berval &contents, Filter &out)
{
    Reader r(contents);
    return r.string(LBER_OCTETSTRING, out.attr) && r.string(LBER_OCTETSTRING, out.value);
}

bool decode_substrings(const berval &contents, Filter &out)
{
    Reader r(contents);
    berval subs;
    if (!r.string(LBER_OCTETSTRING, out.attr) || !r.element(LBER_SEQUENCE, subs)) return false;
    Reader s(subs);
    bool first = true;
    while (!s.at_end()) {
        ber_tag_t tag;
        berval v;
        if (!s.any(tag, v) || out.final) return false;  // nothing may follow final
        switch (tag) {
        case LDAP_SUBSTRING_INITIAL:
            if (!first) return false;
            out.initial = to_string(v);
            break;
        case LDAP_SUBSTRING_ANY:
            out.any.push_back(to_string(v));
            break;
        case LDAP_SUBSTRING_FINAL:
            out.final = to_string(v);
            break;
        default:
            return false;
        }
        first = false;
    }
    return !first;
}

bool decode_extensible(const berval &contents, Filter &out)
{
    Reader r(contents);
    if (r.peek() == LDAP_FILTER_EXT_OID && !r.string(LDAP_FILTER_EXT_OID, out.rule)) return false;
    if (r.peek() == LDAP_FILTER_EXT_TYPE && !r.string(LDAP_FILTER_EXT_TYPE, out.attr)) return false;
    if (!r.string(LDAP_FILTER_EXT_VALUE, out.value)) return false;
    if (r.peek() == LDAP_FILTER_EXT_DNATTRS && !r.boolean(LDAP_FILTER_EXT_DNATTRS, out.dn_attrs)) return false;
    return !out.rule.empty() || !out.attr.empty();
}

bool decode(ber_tag_t tag, const berval &contents, Filter &out, int depth)
{
    if (depth > kMaxDepth) return false;
    switch (tag) {
    case LDAP_FILTER_AND:
    case LDAP_FILTER_OR:
    case LDAP_FILTER_NOT: {
        out.kind = tag == LDAP_FILTER_AND ? Filter::And : tag == LDAP_FILTER_OR ? Filter::Or : Filter::Not;
        Reader r(contents);
        while (!r.at_end()) {
            ber_tag_t child_tag;
            berval child;
            if (!r.any(child_tag, child)) return false;
            out.children.emplace_back();
            if (!decode(child_tag, child, out.children.back(), depth + 1)) return false;
        }
        return out.kind != Filter::Not || out.children.size() == 1;
    }
    case LDAP_FILTER_EQUALITY:
        out.kind = Filter::Equal;
        return decode_ava(contents, out);
    case LDAP_FILTER_GE:
        out.kind = Filter::GreaterOrEqual;
        return decode_ava(contents, out);
    case LDAP_FILTER_LE:
        out.kind = Filter::LessOrEqual;
        return decode_ava(contents, out);
    case LDAP_FILTER_APPROX:
        out.kind = Filter::Approx;
        return decode_ava(contents, out);
    case LDAP_FILTER_SUBSTRINGS:
        out.kind = Filter::Substrings;
        return decode_substrings(contents, out);
    case LDAP_FILTER_PRESENT:
        out.kind = Filter::Present;
        out.attr = to_string(contents);
        return !out.attr.empty();
    case LDAP_FILTER_EXT:
        out.kind = Filter::Extensible;
        return decode_extensible(contents, out);
    default:
        return false;
    }
}

std::string escape(const std::string &value)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c < 0x20 || c > 0x7e) {
            out += '\\';
            out += digits[c >> 4];
            out += digits[c & 0x0f];
        } else {
            out += char(c);
        }
    }
    return out;
}

// Does the value hold the substring pattern?  Compared in lower case.
bool substrings_match(const Filter &f, const std::string &value)
{
    std::string v = lower(value);
    size_t pos = 0, end = v.size();
    if (f.initial) {
        std::string p = lower(*f.initial);
        if (v.compare(0, p.size(), p) != 0) return false;
        pos = p.size();
    }
    if (f.final) {
        std::string p = lower(*f.final);
        if (p.size() > end - pos || v.compare(end - p.size(), p.size(), p) != 0) return false;
        end -= p.size();
    }
    for (const auto &a : f.any) {
        std::string p = lower(a);
        size_t at = v.find(p, pos);
        if (at == std::string::npos || at + p.size() > end) return false;
        pos = at + p.size();
    }
    return true;
}

// Attribute descriptions may carry options (";binary"); the type decides.
std::string_view type_of(const std::string &attr)
{
    return std::string_view(attr).substr(0, attr.find(';'));
}
}  // namespace

bool decode_filter(ber_tag_t tag, const berval &contents, Filter &out)
{
    out = Filter();
    return decode(tag, contents, out, 0);
}

std::string filter_text(const Filter &f)
{
    std::string out = "(";
    switch (f.kind) {
    case Filter::And:
    case Filter::Or:
    case Filter::Not:
        out += f.kind == Filter::And ? '&' : f.kind == Filter::Or ? '|' : '!';
        for (const auto &c : f.children) out += filter_text(c);
        break;
    case Filter::Equal:
        out += f.attr + "=" + escape(f.value);
        break;
    case Filter::GreaterOrEqual:
        out += f.attr + ">=" + escape(f.value);
        break;
    case Filter::LessOrEqual:
        out += f.attr + "<=" + escape(f.value);
        break;
    case Filter::Approx:
        out += f.attr + "~=" + escape(f.value);
        break;
    case Filter::Present:
        out += f.attr + "=*";
        break;
    case Filter::Substrings:
        out += f.attr + "=";
        if (f.initial) out += escape(*f.initial);
        out += '*';
        for (const auto &a : f.any) out += escape(a) + "*";
        if (f.final) out += escape(*f.final);
        break;
    case Filter::Extensible:
        out += f.attr;
        if (f.dn_attrs) out += ":dn";
        if (!f.rule.empty()) out += ":" + f.rule;
        out += ":=" + escape(f.value);
        break;
    }
    return out + ")";
}

Truth evaluate(const Filter &f, const Entry &entry)
{
    switch (f.kind) {
    case Filter::And: {
        Truth t = Truth::True;
        for (const auto &c : f.children) {
            Truth ct = evaluate(c, entry);
            if (ct == Truth::False) return Truth::False;
            if (ct == Truth::Undefined) t = Truth::Undefined;
        }
        return t;
    }
    case Filter::Or: {
        Truth t = Truth::False;
        for (const auto &c : f.children) {
            Truth ct = evaluate(c, entry);
            if (ct == Truth::True) return Truth::True;
            if (ct == Truth::Undefined) t = Truth::Undefined;
        }
        return t;
    }
    case Filter::Not: {
        Truth t = evaluate(f.children.front(), entry);
        return t == Truth::Undefined ? t : (t == Truth::True ? Truth::False : Truth::True);
    }
    case Filter::Extensible:
        return Truth::Undefined;
    default:
        break;
    }
    auto type = type_of(f.attr);
    if (f.kind == Filter::Present && same_name(type, "objectClass")) return Truth::True;
    const Attribute *a = entry.find(type);
    if (!a || a->values.empty()) return Truth::False;
    for (const auto &v : a->values) {
        bool hit = false;
        switch (f.kind) {
        case Filter::Present:
            hit = true;
            break;
        case Filter::Equal:
        case Filter::Approx:
            hit = values_equal(v, f.value);
            break;
        case Filter::GreaterOrEqual:
            hit = values_order(v, f.value) >= 0;
            break;
        case Filter::LessOrEqual:
            hit = values_order(v, f.value) <= 0;
            break;
        case Filter::Substrings:
            hit = substrings_match(f, v);
            break;
        default:
            break;
        }
        if (hit) return Truth::True;
    }
    return Truth::False;
}

}  // namespace dirsim::detail
