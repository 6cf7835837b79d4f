// The parser of the eight kinds of schema description (RFC 4512 section
// 4.1), driven by the clause tables.
//
// The grammar is the one libldap's parsers accept (clauses in any order, each
// at most once, OIDs as bare words, lenient about blanks between tokens), with
// these differences:
//   - keywords match case-sensitively ("NAME", not "name"); the usage values
//     ignore case;
//   - where a numeric OID is expected, a word is taken as the OID when the rest
//     of the description (up to its closing parenthesis) contains "-oid"; the
//     word ends where a bare word ends: at a blank, a parenthesis, "$", a
//     quote or "{";
//   - codes stay within 0 to 10: a missing required clause is accepted, so that
//     every record the printer writes parses back;
//   - quoted strings decode the RFC 4512 escapes \27 (') and \5C (\), and the
//     printer writes them, so that a DESC with an apostrophe survives a round
//     trip instead of ending the string early;
//   - with any permissive flag, every OID-keyed kind accepts a missing or
//     non-numeric OID (libldap does so for five of them), and quoted OIDs are
//     accepted wherever OIDs are (ALLOW_QUOTED);
//   - errp always points into the text; a lone KIND-UNKNOWN keyword (which the
//     object-class printer writes for a kind outside 0 to 2) parses back.
#include "schema/description_parts.h"

#include <cstring>
#include <string_view>
#include <utility>

namespace dirext::schema {

using namespace detail;

namespace {

inline bool ascii_iequal(const char *a, size_t n, const char *b)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = a[i], y = b[i];
        if (!y) return false;
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return b[n] == '\0';
}

// Whether the rest of the description, from p to the parenthesis that closes
// it (quoted strings skipped), holds "-oid".  Text after the description does
// not count, so that what the printer writes of a record still qualifies.
bool marks_oid(const char *p)
{
    int depth = 1;
    const char *end = p;
    for (bool quoted = false; *end; ++end) {
        if (quoted) {
            quoted = *end != '\'';
        } else if (*end == '\'') {
            quoted = true;
        } else if (*end == '(') {
            ++depth;
        } else if (*end == ')' && --depth == 0) {
            break;
        }
    }
    return std::string_view(p, size_t(end - p)).find("-oid") != std::string_view::npos;
}

class Parser {
public:
    Parser(int kind, const char *text, unsigned flags) : kind_(kKinds[kind]), p_(text), flags_(flags) {}

    // Fills record (zeroed, of the kind); false with code()/where() set.
    bool run(void *record);
    int code() const { return code_; }
    const char *where() const { return where_; }

private:
    bool fail(int code, const char *where)
    {
        code_ = code;
        where_ = where;
        return false;
    }
    bool no_memory() { return fail(kParseNoMemory, p_); }

    const Clause *find_clause(const Token &t) const
    {
        for (size_t i = 0; i < kind_.clause_count; ++i) {
            const Clause &c = kind_.clauses[i];
            if (c.length == t.length && std::memcmp(c.keyword, t.begin, t.length) == 0) return &c;
        }
        return nullptr;
    }
    bool is_keyword(const char *begin, size_t n) const
    {
        if (n >= 2 && begin[0] == 'X' && begin[1] == '-') return true;
        return find_clause({Tok::Word, begin, n}) != nullptr;
    }

    bool key(void *record);
    bool oid(char **out);
    bool clause_value(const Clause &c, void *record);
    bool qdescrs(StringList &out, int first_error);
    bool oids(char ***out, bool quotable);
    bool rule_ids(char ***out);
    bool extension(const Token &name, void *record, size_t &count);

    enum class OidScan { Found, NotAnOid, Failed };
    // from: where the OID begins, its opening quote included.
    OidScan scan_oid(const char *&begin, size_t &n, const char *from);

    const Kind &kind_;
    const char *p_;
    unsigned flags_;
    int code_ = kParseOk;
    const char *where_ = nullptr;
};

// A numeric OID at p_, or a word accepted as an OID because the rest of the
// description holds "-oid".  NotAnOid leaves p_ where it was.
Parser::OidScan Parser::scan_oid(const char *&begin, size_t &n, const char *from)
{
    const char *p = p_;
    if (is_digit(static_cast<unsigned char>(*p))) {
        begin = p;
        for (;;) {
            if (!is_digit(static_cast<unsigned char>(*p))) {
                fail(kParseNoDigit, p);
                p_ = p;
                return OidScan::Failed;
            }
            while (is_digit(static_cast<unsigned char>(*p))) ++p;
            if (*p != '.') break;
            ++p;
        }
        n = size_t(p - begin);
        p_ = p;
        return OidScan::Found;
    }
    if (ends_word(static_cast<unsigned char>(*p)) || !marks_oid(from)) return OidScan::NotAnOid;
    // The word ends where a bare word does: at a blank, a parenthesis, "$", a
    // quote or "{" (a syntax length may follow).
    const char *end = p;
    while (!ends_word(static_cast<unsigned char>(*end))) ++end;
    if (is_keyword(p, size_t(end - p))) return OidScan::NotAnOid;
    begin = p;
    n = size_t(end - p);
    p_ = end;
    return OidScan::Found;
}

// An OID where a numeric one is expected (optionally quoted).  False with code
// kParseNoDigit and p_ unchanged when there is none.
bool Parser::oid(char **out)
{
    const char *start = p_;
    bool quoted = (flags_ & LDAP_SCHEMA_ALLOW_QUOTED) && *p_ == '\'';
    if (quoted) ++p_;
    const char *begin = nullptr;
    size_t n = 0;
    switch (scan_oid(begin, n, start)) {
    case OidScan::Failed:
        return false;
    case OidScan::NotAnOid:
        p_ = start;
        return fail(kParseNoDigit, start + (quoted ? 1 : 0));
    case OidScan::Found:
        break;
    }
    if (quoted) {
        if (*p_ != '\'') return fail(kParseUnexpectedToken, p_);
        ++p_;
    }
    *out = dup_span(begin, n);
    return *out ? true : no_memory();
}

// The key that opens the description: an OID, or a rule ID for structure rules.
bool Parser::key(void *record)
{
    char *&key = member<char *>(record, 0);
    if (kind_.rule_id) {
        const char *begin = p_;
        while (is_digit(static_cast<unsigned char>(*p_))) ++p_;
        if (p_ == begin) return fail(kParseNoDigit, p_);
        key = dup_span(begin, size_t(p_ - begin));
        return key ? true : no_memory();
    }
    const char *start = p_;
    if (oid(&key)) return true;
    if (code_ != kParseNoDigit || p_ != start || !(flags_ & LDAP_SCHEMA_ALLOW_ALL)) return false;
    // Lenient parsing: the OID may be missing (a keyword follows) or be a
    // word that is skipped, or kept with ALLOW_OID_MACRO.
    code_ = kParseOk;
    const char *p = p_;
    Token t = next_token(p);
    if (t.kind == Tok::Word && t.length && !is_keyword(t.begin, t.length)) {
        if (flags_ & LDAP_SCHEMA_ALLOW_OID_MACRO) {
            key = dup_span(t.begin, t.length);
            if (!key) return no_memory();
        }
        p_ = p;
    } else if (t.kind == Tok::Quoted) {
        p_ = p;
    }
    return true;
}

// qdescrs (or qdstrings): 'x' or ( 'x' 'y' ... ).  An error in the first token
// gives first_error, one inside the list kParseUnexpectedToken.
bool Parser::qdescrs(StringList &out, int first_error)
{
    skip_space(p_);
    Token t = next_token(p_);
    if (t.kind == Tok::Quoted) {
        if (!out.push(dup_quoted(t.begin, t.length))) return no_memory();
        skip_space(p_);
        return true;
    }
    if (t.kind != Tok::LeftParen) return fail(first_error, p_);
    if (!out.ensure_array()) return no_memory();
    for (;;) {
        skip_space(p_);
        t = next_token(p_);
        if (t.kind == Tok::RightParen) break;
        if (t.kind != Tok::Quoted) return fail(kParseUnexpectedToken, p_);
        if (!out.push(dup_quoted(t.begin, t.length))) return no_memory();
    }
    skip_space(p_);
    return true;
}

// oids: one word, or ( w $ w ... ).  An empty list "( )" is stored as absent.
bool Parser::oids(char ***out, bool quotable)
{
    bool quoted_ok = quotable && (flags_ & LDAP_SCHEMA_ALLOW_QUOTED);
    // A quoted entry must still be one word: the printer writes it bare.
    auto is_word = [](const Token &t) {
        for (size_t i = 0; i < t.length; ++i)
            if (ends_word(static_cast<unsigned char>(t.begin[i]))) return false;
        return t.length > 0;
    };
    auto is_entry = [&](const Token &t) {
        return (t.kind == Tok::Word || (quoted_ok && t.kind == Tok::Quoted)) && is_word(t);
    };
    StringList list;
    skip_space(p_);
    Token t = next_token(p_);
    if (is_entry(t)) {
        if (!list.push(dup_span(t.begin, t.length))) return no_memory();
    } else if (t.kind == Tok::LeftParen) {
        skip_space(p_);
        t = next_token(p_);
        if (t.kind != Tok::RightParen) {
            for (;;) {
                if (!is_entry(t)) return fail(kParseUnexpectedToken, p_);
                if (!list.push(dup_span(t.begin, t.length))) return no_memory();
                skip_space(p_);
                t = next_token(p_);
                if (t.kind == Tok::RightParen) break;
                if (t.kind != Tok::Dollar) return fail(kParseUnexpectedToken, p_);
                skip_space(p_);
                t = next_token(p_);
            }
        }
    } else {
        return fail(kParseBadName, p_);
    }
    skip_space(p_);
    *out = list.take();
    return true;
}

// ruleids: one rule ID, or ( id id ... ) separated by blanks (or "$").
bool Parser::rule_ids(char ***out)
{
    auto digits = [](const Token &t) {
        if (t.kind != Tok::Word || !t.length) return false;
        for (size_t i = 0; i < t.length; ++i)
            if (!is_digit(static_cast<unsigned char>(t.begin[i]))) return false;
        return true;
    };
    StringList list;
    skip_space(p_);
    const char *at = p_;
    Token t = next_token(p_);
    if (t.kind == Tok::LeftParen) {
        for (;;) {
            skip_space(p_);
            at = p_;
            t = next_token(p_);
            if (t.kind == Tok::RightParen) break;
            if (t.kind == Tok::Dollar) continue;
            if (!digits(t)) return t.kind == Tok::Word ? fail(kParseNoDigit, at) : fail(kParseUnexpectedToken, p_);
            if (!list.push(dup_span(t.begin, t.length))) return no_memory();
        }
    } else if (digits(t)) {
        if (!list.push(dup_span(t.begin, t.length))) return no_memory();
    } else {
        return fail(kParseNoDigit, at);
    }
    skip_space(p_);
    *out = list.take();
    return true;
}

bool Parser::clause_value(const Clause &c, void *record)
{
    switch (c.field) {
    case Field::Names: {
        StringList names;
        if (!qdescrs(names, kParseBadName)) {
            if (code_ != kParseNoMemory) code_ = kParseBadName;
            return false;
        }
        member<char **>(record, c.offset) = names.take();
        return true;
    }
    case Field::Desc: {
        skip_space(p_);
        Token t = next_token(p_);
        if (t.kind != Tok::Quoted) return fail(kParseUnexpectedToken, p_);
        char *&desc = member<char *>(record, c.offset);
        desc = dup_quoted(t.begin, t.length);
        if (!desc) return no_memory();
        skip_space(p_);
        return true;
    }
    case Field::Flag:
        member<int>(record, c.offset) = LDAP_SCHEMA_YES;
        skip_space(p_);
        return true;
    case Field::ClassKind:
        member<int>(record, c.offset) = c.value;
        skip_space(p_);
        return true;
    case Field::Woid: {
        skip_space(p_);
        Token t = next_token(p_);
        if (t.kind != Tok::Word || !t.length) return fail(kParseUnexpectedToken, p_);
        char *&value = member<char *>(record, c.offset);
        value = dup_span(t.begin, t.length);
        if (!value) return no_memory();
        skip_space(p_);
        return true;
    }
    case Field::Oids:
        return oids(&member<char **>(record, c.offset), c.quotable);
    case Field::RuleIds:
        return rule_ids(&member<char **>(record, c.offset));
    case Field::NumericOid:
        skip_space(p_);
        if (!oid(&member<char *>(record, c.offset))) return false;
        skip_space(p_);
        return true;
    case Field::NoidLen: {
        // noidlen, the whole of it in quotes with ALLOW_QUOTED: '1.2.3{32}'
        skip_space(p_);
        const char *from = p_;
        bool quoted = (flags_ & LDAP_SCHEMA_ALLOW_QUOTED) && *p_ == '\'';
        if (quoted) ++p_;
        const char *begin = nullptr;
        size_t n = 0;
        switch (scan_oid(begin, n, from)) {
        case OidScan::Failed:
            return false;
        case OidScan::NotAnOid:
            return fail(kParseNoDigit, p_);
        case OidScan::Found:
            break;
        }
        int length = 0;
        if (*p_ == '{') {
            ++p_;
            while (is_digit(static_cast<unsigned char>(*p_))) {
                int digit = *p_ - '0';
                if (length > (INT32_MAX - digit) / 10) return fail(kParseUnexpectedToken, p_);
                length = length * 10 + digit;
                ++p_;
            }
            if (*p_ != '}') return fail(kParseUnexpectedToken, p_);
            ++p_;
        }
        if (quoted) {
            if (*p_ != '\'') return fail(kParseUnexpectedToken, p_);
            ++p_;
        }
        char *&value = member<char *>(record, c.offset);
        value = dup_span(begin, n);
        if (!value) return no_memory();
        member<int>(record, c.extra) = length;
        skip_space(p_);
        return true;
    }
    case Field::Usage: {
        skip_space(p_);
        Token t = next_token(p_);
        if (t.kind != Tok::Word) return fail(kParseUnexpectedToken, p_);
        for (int usage = 0; usage < 4; ++usage) {
            if (ascii_iequal(t.begin, t.length, kUsages[usage])) {
                member<int>(record, c.offset) = usage;
                skip_space(p_);
                return true;
            }
        }
        return fail(kParseUnexpectedToken, p_);
    }
    }
    return fail(kParseUnexpectedToken, p_);
}

bool Parser::extension(const Token &name, void *record, size_t &count)
{
    StringList values;
    if (!qdescrs(values, kParseBadName)) return false;
    BerMemPtr<char> copy(dup_span(name.begin, name.length));
    if (!copy) return no_memory();
    if (!append_extension(&member<LDAPSchemaExtensionItem **>(record, kind_.extensions), count, std::move(copy),
                          BerStringListPtr(values.take())))
        return no_memory();
    return true;
}

bool Parser::run(void *record)
{
    if (kind_.default_class >= 0) member<int>(record, offsetof(LDAPObjectClass, oc_kind)) = kind_.default_class;
    const char *text = p_;
    Token t = next_token(p_);
    if (t.kind != Tok::LeftParen) return fail(kParseNoLeftParen, text);
    skip_space(p_);
    if (!key(record)) return false;
    uint32_t seen = 0;
    size_t extensions = 0;
    for (;;) {
        skip_space(p_);
        t = next_token(p_);
        switch (t.kind) {
        case Tok::End:
            return fail(kParseNoRightParen, p_);
        case Tok::RightParen:
            return true;
        case Tok::Word: {
            if (const Clause *c = find_clause(t)) {
                if (seen & (1u << c->slot)) return fail(kParseDuplicate, p_);
                seen |= 1u << c->slot;
                if (!clause_value(*c, record)) return false;
            } else if (t.length >= 2 && t.begin[0] == 'X' && t.begin[1] == '-') {
                if (!extension(t, record, extensions)) return false;
            } else {
                return fail(kParseUnexpectedToken, p_);
            }
            break;
        }
        default:
            return fail(kParseUnexpectedToken, p_);
        }
    }
}

}  // namespace

void *parse(int kind, const char *text, int *code, const char **errp, unsigned flags)
{
    int ignored_code;
    const char *ignored_errp;
    if (!code) code = &ignored_code;
    if (!errp) errp = &ignored_errp;
    if (!text) {
        *code = kParseEmpty;
        *errp = "";
        return nullptr;
    }
    *errp = text;
    void *record = create(kind);
    if (!record) {
        *code = kParseNoMemory;
        return nullptr;
    }
    Parser parser(kind, text, flags);
    if (!parser.run(record)) {
        release(kind, record);
        *code = parser.code();
        *errp = parser.where();
        return nullptr;
    }
    *code = kParseOk;
    return record;
}

const char *error_text(int code)
{
    static const char *const texts[] = {
        "Success",           "Out of memory",   "Unexpected token", "Missing opening parenthesis",
        "Missing closing parenthesis", "Expecting digit", "Expecting a name", "Bad description",
        "Bad superiors",     "Duplicate option", "Unexpected end of data",
    };
    if (code < 0 || code >= int(std::size(texts))) return "Unknown error";
    return texts[code];
}

}  // namespace dirext::schema
