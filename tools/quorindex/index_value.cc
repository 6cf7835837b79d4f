#include "index_value.h"

#include <cstdlib>

namespace quorindex {
namespace {

constexpr const char *kStates[] = {"Online", "Offline", "Pending", "Pending"};
constexpr const char *kRules[] = {"Value", "Presence", "Substring"};
constexpr const char *kTypes[] = {"User defined", "Added on attribute creation",
                                  "required for operation", "Syntax index"};
constexpr const char *kStateValues[] = {"Uninitialized", "Added from server", "Added from local DIB",
                                        "Deleted from local DIB", "Modified from local DIB"};

// Text for a decimal code field.  Values the server may hold but the tool
// does not know are shown, not hidden: "Unknown (<field>)".
template <size_t N>
std::string code_text(const std::vector<std::string> &fields, size_t index, const char *const (&table)[N])
{
    if (index >= fields.size()) return "(missing)";
    const std::string &field = fields[index];
    char *end = nullptr;
    long code = std::strtol(field.c_str(), &end, 10);
    if (*end == '\0' && code >= 0 && static_cast<size_t>(code) < N) return table[code];
    return "Unknown (" + field + ")";
}

std::string field_or_missing(const std::vector<std::string> &fields, size_t index)
{
    return index < fields.size() ? fields[index] : "(missing)";
}

}  // namespace

std::vector<std::string> split_fields(std::string_view value)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < value.size()) {
        size_t end = value.find('$', pos);
        if (end == std::string_view::npos) end = value.size();
        if (end > pos) fields.emplace_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

std::optional<std::string> index_name(std::string_view value)
{
    auto fields = split_fields(value);
    if (fields.size() <= kName) return std::nullopt;
    return fields[kName];
}

std::optional<std::string> with_state(std::string_view value, char state)
{
    // Find the third non-empty field in place, so that everything around it,
    // including any empty fields, stays byte for byte as stored.
    size_t pos = 0;
    int seen = 0;
    while (pos < value.size()) {
        size_t end = value.find('$', pos);
        if (end == std::string_view::npos) end = value.size();
        if (end > pos && seen++ == kState) {
            std::string changed(value.substr(0, pos));
            changed += state;
            changed += value.substr(end);
            return changed;
        }
        pos = end + 1;
    }
    return std::nullopt;
}

void print_index(std::FILE *out, std::string_view value)
{
    auto fields = split_fields(value);
    std::fprintf(out, "\tIndex Version: %s\n", field_or_missing(fields, kVersion).c_str());
    std::fprintf(out, "\tIndex Name: %s\n", field_or_missing(fields, kName).c_str());
    std::fprintf(out, "\tIndex State: %s\n", code_text(fields, kState, kStates).c_str());
    std::fprintf(out, "\tIndex Rule: %s\n", code_text(fields, kRule, kRules).c_str());
    std::fprintf(out, "\tIndex Type: %s\n", code_text(fields, kType, kTypes).c_str());
    std::fprintf(out, "\tIndex State Value: %s\n", code_text(fields, kStateValue, kStateValues).c_str());
    std::fputs("\tQuor Attribute:", out);
    for (size_t i = kFirstAttribute; i < fields.size(); ++i)
        std::fprintf(out, "%s %s", i == kFirstAttribute ? "" : ",", fields[i].c_str());
    std::fputs("\n\n", out);
}

std::string trim(std::string_view text)
{
    const char *blanks = " \t";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace quorindex
