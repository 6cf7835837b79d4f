// LDIF as text: the records of a file as numbered logical lines, each an
// attribute name and its value.  Encoded values (base64 after "::", a URL
// after ":<") are libldap's to decode.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dirext_cli::bulk {

// What is wrong with the input, and on which line.
struct LdifError {
    long line;
    std::string message;
};

// One attribute line, or a "-" line (which ends a modification).  The views
// point into the text or into the reader.
struct LdifField {
    long line = 0;  // where it starts in the input, from 1
    std::string_view name, value;
    bool separator = false;
};

// Where a reader stands in the text: another one can start there.
struct LdifPosition {
    size_t offset = 0;
    long line = 0;  // the lines before offset
};

// Reads the records of an LDIF text one after the other: runs of lines
// between blank lines, continued lines joined, comments left out.
class LdifReader {
public:
    explicit LdifReader(std::string_view text, LdifPosition from = {})
        : text_(text), at_(from.offset), number_(from.line)
    {
    }
    LdifPosition position() const { return {at_, number_}; }

    // The next record's fields into fields (empty at the end of the text),
    // valid until the next call; or what is wrong with the record.
    std::optional<LdifError> next(std::vector<LdifField> &fields);

private:
    bool physical(std::string_view &line);
    bool continued() const { return at_ < text_.size() && text_[at_] == ' '; }
    std::optional<LdifError> logical(std::string_view &line);
    std::optional<LdifError> parse(long number, std::string_view line, LdifField &field);
    std::optional<LdifError> value_of(long number, std::string_view spec, std::string_view &value);

    std::string_view text_;
    size_t at_;
    long number_;
    std::deque<std::string> owned_;  // the record's joined lines and decoded values
};

// A value as written after an attribute name (": text", ":: base64" or
// ":< URL"), decoded; line is for the message.
std::optional<LdifError> decode_value(long line, std::string_view spec, std::string &value);

// Text from the input as a message shows it: in double quotes, long text cut.
std::string quoted(std::string_view text);

}  // namespace dirext_cli::bulk
