// The scanner of schema descriptions: one token at a time.
#include "schema/description_parts.h"

#include <cstring>

namespace dirext::schema::detail {

Token next_token(const char *&p)
{
    const char *start = p;
    switch (*p) {
    case '\0':
        return {Tok::End, p, 0};
    case '(':
        ++p;
        return {Tok::LeftParen, start, 1};
    case ')':
        ++p;
        return {Tok::RightParen, start, 1};
    case '$':
        ++p;
        return {Tok::Dollar, start, 1};
    case '{':
        ++p;
        return {Tok::Brace, start, 1};
    case '\'': {
        const char *body = p + 1;
        const char *close = std::strchr(body, '\'');
        if (!close) {
            p = body + std::strlen(body);
            return {Tok::Unterminated, start, size_t(p - start)};
        }
        p = close + 1;
        return {Tok::Quoted, body, size_t(close - body)};
    }
    default:
        while (!ends_word(static_cast<unsigned char>(*p))) ++p;
        return {Tok::Word, start, size_t(p - start)};
    }
}

}  // namespace dirext::schema::detail
