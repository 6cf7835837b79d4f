#include "ldif_text.h"

#include <cstdio>  // <ldif.h> needs FILE

#include <lber.h>
#include <ldif.h>

#include <algorithm>
#include <cctype>

namespace dirext_cli::bulk {
namespace {

bool attribute_name(std::string_view name)
{
    // Names, OIDs and options: "cn", "2.5.4.3", "cn;lang-fr".  ASCII only,
    // whatever the locale says.
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == ';' ||
               c == '.' || c == '_';
    });
}

std::string_view without_trailing_spaces(std::string_view text)
{
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

}  // namespace

std::string quoted(std::string_view text)
{
    constexpr size_t kShown = 40;  // enough to recognise the line
    if (text.size() > kShown) return "\"" + std::string(text.substr(0, kShown)) + "...\"";
    return "\"" + std::string(text) + "\"";
}

bool LdifReader::physical(std::string_view &line)
{
    if (at_ >= text_.size()) return false;
    size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(at_, end - at_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at_ = end + 1;
    ++number_;
    return true;
}

// Joins the lines that continue line (they begin with a space) to it.
std::optional<LdifError> LdifReader::logical(std::string_view &line)
{
    if (!continued()) return std::nullopt;
    std::string &joined = owned_.emplace_back(line);
    for (std::string_view more; continued() && physical(more);) {
        if (more.find('\0') != std::string_view::npos) return LdifError{number_, "the line holds a NUL byte"};
        joined.append(more.substr(1));
    }
    line = joined;
    return std::nullopt;
}

std::optional<LdifError> LdifReader::next(std::vector<LdifField> &fields)
{
    fields.clear();
    owned_.clear();
    for (std::string_view line; physical(line);) {
        const long number = number_;
        if (line.empty()) {
            if (!fields.empty()) break;
            continue;
        }
        if (line.find('\0') != std::string_view::npos) return LdifError{number, "the line holds a NUL byte"};
        if (line[0] == ' ') return LdifError{number, "a continued line with no line before it"};
        if (auto error = logical(line)) return error;
        if (line[0] == '#') continue;  // a comment, its continued lines with it
        if (auto error = parse(number, line, fields.emplace_back())) return error;
    }
    return std::nullopt;
}

std::optional<LdifError> LdifReader::parse(long number, std::string_view line, LdifField &field)
{
    field.line = number;
    if (without_trailing_spaces(line) == "-") {
        field.separator = true;
        return std::nullopt;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return LdifError{number, "expected \"name: value\", found " + quoted(line)};
    field.name = without_trailing_spaces(line.substr(0, colon));
    if (!attribute_name(field.name)) return LdifError{number, quoted(field.name) + " is not an attribute name"};
    return value_of(number, line.substr(colon), field.value);
}

// Plain values as libldap reads them (leading white space and carriage
// returns dropped) without copying them when there is nothing to drop.
std::optional<LdifError> LdifReader::value_of(long number, std::string_view spec, std::string_view &value)
{
    if (spec.size() > 1 && (spec[1] == ':' || spec[1] == '<')) {
        std::string &decoded = owned_.emplace_back();
        if (auto error = decode_value(number, spec, decoded)) return error;
        value = decoded;
        return std::nullopt;
    }
    spec.remove_prefix(1);
    while (!spec.empty() && std::isspace(static_cast<unsigned char>(spec.front()))) spec.remove_prefix(1);
    value = spec;
    if (spec.find('\r') != std::string_view::npos) {
        std::string &kept = owned_.emplace_back(spec);
        kept.erase(std::remove(kept.begin(), kept.end(), '\r'), kept.end());
        value = kept;
    }
    return std::nullopt;
}

std::optional<LdifError> decode_value(long line, std::string_view spec, std::string &value)
{
    std::string buffer = "v" + std::string(spec);  // libldap parses whole lines
    berval type{}, decoded{};
    int allocated = 0;
    if (ldif_parse_line2(buffer.data(), &type, &decoded, &allocated) != 0) {
        const char kind = spec.size() > 1 ? spec[1] : '\0';
        if (kind == ':') return LdifError{line, "the base64 value does not decode"};
        if (kind == '<') {
            std::string_view url = spec.substr(2);
            url.remove_prefix(std::min(url.find_first_not_of(' '), url.size()));
            return LdifError{line, "cannot read the value from " + quoted(url)};
        }
        return LdifError{line, "the value does not parse"};
    }
    value.assign(decoded.bv_val, decoded.bv_len);
    if (allocated) ber_memfree(decoded.bv_val);
    return std::nullopt;
}

}  // namespace dirext_cli::bulk
