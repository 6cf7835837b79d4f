#include "json_line.h"

#include <cstdio>

namespace dirext_cli {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8_length(std::string_view s, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c <= 0xdf ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
    unsigned second = byte(i + 1);
    if (c == 0xe0 && second < 0xa0) return 0;  // overlong
    if (c == 0xed && second > 0x9f) return 0;  // surrogates
    if (c == 0xf0 && second < 0x90) return 0;  // overlong
    if (c == 0xf4 && second > 0x8f) return 0;  // beyond U+10FFFF
    return n;
}

}  // namespace

std::string json_string(std::string_view value)
{
    std::string out = "\"";
    for (size_t i = 0; i < value.size();) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (c >= 0x80) {
            if (size_t n = utf8_length(value, i)) {
                out.append(value.substr(i, n));
                i += n;
                continue;
            }
        }
        char escaped[8];
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

void JsonLine::key(std::string_view name)
{
    if (text_.size() > 1) text_ += ",";
    text_ += json_string(name);
    text_ += ":";
}

JsonLine &JsonLine::field(std::string_view name, std::string_view value)
{
    key(name);
    text_ += json_string(value);
    return *this;
}

JsonLine &JsonLine::field(std::string_view name, const char *value)
{
    if (!value) return field_raw(name, "null");
    return field(name, std::string_view(value));
}

JsonLine &JsonLine::field(std::string_view name, long long value)
{
    key(name);
    text_ += std::to_string(value);
    return *this;
}

JsonLine &JsonLine::field(std::string_view name, bool value) { return field_raw(name, value ? "true" : "false"); }

JsonLine &JsonLine::field(std::string_view name, const std::vector<std::string> &values)
{
    key(name);
    text_ += "[";
    for (size_t i = 0; i < values.size(); ++i) text_ += (i ? "," : "") + json_string(values[i]);
    text_ += "]";
    return *this;
}

JsonLine &JsonLine::field_raw(std::string_view name, std::string_view json)
{
    key(name);
    text_ += json;
    return *this;
}

void JsonLine::print() const
{
    std::fputs(str().c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace dirext_cli
