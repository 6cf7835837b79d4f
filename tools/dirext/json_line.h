// One JSON object written as one line: the --json output of every command
// that prints records.  Field order is the order of the calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dirext_cli {

class JsonLine {
public:
    JsonLine &field(std::string_view name, std::string_view value);
    JsonLine &field(std::string_view name, const char *value);  // null: JSON null
    JsonLine &field(std::string_view name, long long value);
    JsonLine &field(std::string_view name, int value) { return field(name, static_cast<long long>(value)); }
    JsonLine &field(std::string_view name, bool value);
    JsonLine &field(std::string_view name, const std::vector<std::string> &values);
    JsonLine &field_raw(std::string_view name, std::string_view json);  // already JSON

    // The object with its line break; print() writes it to standard output
    // and flushes.
    std::string str() const { return text_ + "}\n"; }
    void print() const;

private:
    void key(std::string_view name);
    std::string text_ = "{";
};

// A JSON string literal.  Bytes that are not valid UTF-8 are written as
// \u00XX (read as Latin-1), so any value gives valid JSON.
std::string json_string(std::string_view value);

}  // namespace dirext_cli
