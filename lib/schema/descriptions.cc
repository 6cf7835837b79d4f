// Parsers, printers, copies and releases of the eight kinds of schema
// description (RFC 4512 section 4.1).  One table per kind lists its clauses;
// the parser, the printer, the copy and the release all walk that table, so
// the four cannot disagree about a record's fields.
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
// Records are allocated with liblber's allocator, field for field as libldap
// allocates them, so either library's free function releases them.
#include "schema/descriptions.h"
#include "schema/memory.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

namespace dirext::schema {

char **&names_of(void *record) { return *reinterpret_cast<char ***>(static_cast<char *>(record) + sizeof(char *)); }
char *const *names_of(const void *record)
{
    return *reinterpret_cast<char **const *>(static_cast<const char *>(record) + sizeof(char *));
}

namespace {

// ---------------------------------------------------------------- the tables

enum class Field : uint8_t {
    Names,       // NAME qdescrs                         char **
    Desc,        // DESC qdstring                        char *
    Flag,        // the keyword alone                    int 0/1
    Woid,        // one OID or name                      char *
    Oids,        // oids: one, or ( a $ b ... )          char **
    NoidLen,     // numeric OID with optional {len}      char * + int (extra)
    NumericOid,  // numeric OID                          char *
    Usage,       // USAGE <value>                        int
    ClassKind,   // ABSTRACT / STRUCTURAL / ...          int = value
    RuleIds,     // rule ID or ( id id ... )             char **
};

struct Clause {
    const char *keyword;
    uint8_t length;
    Field field;
    uint8_t slot;        // clauses sharing a slot exclude each other
    uint16_t offset;
    uint16_t extra;      // NoidLen: offset of the length
    int8_t value;        // ClassKind: the kind it sets
    bool quotable;       // Oids: quoted entries accepted with ALLOW_QUOTED
};

template <size_t N>
constexpr Clause clause(const char (&keyword)[N], Field field, uint8_t slot, size_t offset, size_t extra = 0,
                        int value = 0, bool quotable = false)
{
    return {keyword, uint8_t(N - 1), field, slot, uint16_t(offset), uint16_t(extra), int8_t(value), quotable};
}

// Every record starts with its key and its names, which the model relies on.
static_assert(offsetof(LDAPAttributeType, at_names) == sizeof(char *));
static_assert(offsetof(LDAPObjectClass, oc_names) == sizeof(char *));
static_assert(offsetof(LDAPSyntax, syn_names) == sizeof(char *));
static_assert(offsetof(LDAPMatchingRule, mr_names) == sizeof(char *));
static_assert(offsetof(LDAPMatchingRuleUse, mru_names) == sizeof(char *));
static_assert(offsetof(LDAPNameForm, nf_names) == sizeof(char *));
static_assert(offsetof(LDAPDITContentRule, dcr_names) == sizeof(char *));
static_assert(offsetof(LDAPDITStructureRule, dsr_names) == sizeof(char *));

// The clauses of each kind, in the order the printer writes them.
#define AT(m) offsetof(LDAPAttributeType, m)
const Clause kAttributeType[] = {
    clause("NAME", Field::Names, 0, AT(at_names)),
    clause("DESC", Field::Desc, 1, AT(at_desc)),
    clause("OBSOLETE", Field::Flag, 2, AT(at_obsolete)),
    clause("SUP", Field::Woid, 3, AT(at_sup_oid)),
    clause("EQUALITY", Field::Woid, 4, AT(at_equality_oid)),
    clause("ORDERING", Field::Woid, 5, AT(at_ordering_oid)),
    clause("SUBSTR", Field::Woid, 6, AT(at_substr_oid)),
    clause("SYNTAX", Field::NoidLen, 7, AT(at_syntax_oid), AT(at_syntax_len)),
    clause("SINGLE-VALUE", Field::Flag, 8, AT(at_single_value)),
    clause("COLLECTIVE", Field::Flag, 9, AT(at_collective)),
    clause("NO-USER-MODIFICATION", Field::Flag, 10, AT(at_no_user_mod)),
    clause("USAGE", Field::Usage, 11, AT(at_usage)),
};
#undef AT
#define OC(m) offsetof(LDAPObjectClass, m)
const Clause kObjectClass[] = {
    clause("NAME", Field::Names, 0, OC(oc_names)),
    clause("DESC", Field::Desc, 1, OC(oc_desc)),
    clause("OBSOLETE", Field::Flag, 2, OC(oc_obsolete)),
    clause("SUP", Field::Oids, 3, OC(oc_sup_oids), 0, 0, true),
    clause("ABSTRACT", Field::ClassKind, 4, OC(oc_kind), 0, LDAP_SCHEMA_ABSTRACT),
    clause("STRUCTURAL", Field::ClassKind, 4, OC(oc_kind), 0, LDAP_SCHEMA_STRUCTURAL),
    clause("AUXILIARY", Field::ClassKind, 4, OC(oc_kind), 0, LDAP_SCHEMA_AUXILIARY),
    clause("KIND-UNKNOWN", Field::ClassKind, 4, OC(oc_kind), 0, -1),
    clause("MUST", Field::Oids, 5, OC(oc_at_oids_must)),
    clause("MAY", Field::Oids, 6, OC(oc_at_oids_may)),
};
#undef OC
const Clause kSyntax[] = {
    clause("NAME", Field::Names, 0, offsetof(LDAPSyntax, syn_names)),
    clause("DESC", Field::Desc, 1, offsetof(LDAPSyntax, syn_desc)),
};
#define MR(m) offsetof(LDAPMatchingRule, m)
const Clause kMatchingRule[] = {
    clause("NAME", Field::Names, 0, MR(mr_names)),
    clause("DESC", Field::Desc, 1, MR(mr_desc)),
    clause("OBSOLETE", Field::Flag, 2, MR(mr_obsolete)),
    clause("SYNTAX", Field::NumericOid, 3, MR(mr_syntax_oid)),
};
#undef MR
#define MRU(m) offsetof(LDAPMatchingRuleUse, m)
const Clause kMatchingRuleUse[] = {
    clause("NAME", Field::Names, 0, MRU(mru_names)),
    clause("DESC", Field::Desc, 1, MRU(mru_desc)),
    clause("OBSOLETE", Field::Flag, 2, MRU(mru_obsolete)),
    clause("APPLIES", Field::Oids, 3, MRU(mru_applies_oids), 0, 0, true),
};
#undef MRU
#define NF(m) offsetof(LDAPNameForm, m)
const Clause kNameForm[] = {
    clause("NAME", Field::Names, 0, NF(nf_names)),
    clause("DESC", Field::Desc, 1, NF(nf_desc)),
    clause("OBSOLETE", Field::Flag, 2, NF(nf_obsolete)),
    clause("OC", Field::Woid, 3, NF(nf_objectclass)),
    clause("MUST", Field::Oids, 4, NF(nf_at_oids_must)),
    clause("MAY", Field::Oids, 5, NF(nf_at_oids_may)),
};
#undef NF
#define CR(m) offsetof(LDAPDITContentRule, m)
const Clause kContentRule[] = {
    clause("NAME", Field::Names, 0, CR(dcr_names)),
    clause("DESC", Field::Desc, 1, CR(dcr_desc)),
    clause("OBSOLETE", Field::Flag, 2, CR(dcr_obsolete)),
    clause("AUX", Field::Oids, 3, CR(dcr_aux_oids)),
    clause("MUST", Field::Oids, 4, CR(dcr_at_oids_must)),
    clause("MAY", Field::Oids, 5, CR(dcr_at_oids_may)),
    clause("NOT", Field::Oids, 6, CR(dcr_at_oids_not)),
};
#undef CR
#define SR(m) offsetof(LDAPDITStructureRule, m)
const Clause kStructureRule[] = {
    clause("NAME", Field::Names, 0, SR(dsr_names)),
    clause("DESC", Field::Desc, 1, SR(dsr_desc)),
    clause("OBSOLETE", Field::Flag, 2, SR(dsr_obsolete)),
    clause("FORM", Field::Woid, 3, SR(dsr_nameform)),
    clause("SUP", Field::RuleIds, 4, SR(dsr_sup_ruleids)),
};
#undef SR

struct Kind {
    const char *attribute;
    size_t size;
    const Clause *clauses;
    size_t clause_count;
    size_t extensions;    // offset of the extension list
    bool rule_id;         // keyed by a rule ID rather than an OID
    int default_class;    // object classes without a kind keyword are structural
};

template <size_t N>
constexpr Kind make_kind(const char *attribute, size_t size, const Clause (&clauses)[N], size_t extensions,
                    bool rule_id = false)
{
    return {attribute, size, clauses, N, extensions, rule_id, -1};
}

const Kind kKinds[LDAP_SCHEMA_KIND_COUNT] = {
    make_kind("attributeTypes", sizeof(LDAPAttributeType), kAttributeType, offsetof(LDAPAttributeType, at_extensions)),
    {"objectClasses", sizeof(LDAPObjectClass), kObjectClass, std::size(kObjectClass),
     offsetof(LDAPObjectClass, oc_extensions), false, LDAP_SCHEMA_STRUCTURAL},
    make_kind("ldapSyntaxes", sizeof(LDAPSyntax), kSyntax, offsetof(LDAPSyntax, syn_extensions)),
    make_kind("matchingRules", sizeof(LDAPMatchingRule), kMatchingRule, offsetof(LDAPMatchingRule, mr_extensions)),
    make_kind("matchingRuleUse", sizeof(LDAPMatchingRuleUse), kMatchingRuleUse,
         offsetof(LDAPMatchingRuleUse, mru_extensions)),
    make_kind("nameForms", sizeof(LDAPNameForm), kNameForm, offsetof(LDAPNameForm, nf_extensions)),
    make_kind("dITContentRules", sizeof(LDAPDITContentRule), kContentRule, offsetof(LDAPDITContentRule, dcr_extensions)),
    make_kind("dITStructureRules", sizeof(LDAPDITStructureRule), kStructureRule,
         offsetof(LDAPDITStructureRule, dsr_extensions), true),
};

template <class T>
T &member(void *record, size_t offset)
{
    return *reinterpret_cast<T *>(static_cast<char *>(record) + offset);
}
template <class T>
const T &member(const void *record, size_t offset)
{
    return *reinterpret_cast<const T *>(static_cast<const char *>(record) + offset);
}

const char *const kUsages[] = {"userApplications", "directoryOperation", "distributedOperation", "dSAOperation"};

// ---------------------------------------------------------------- characters

// LDAP_SPACE: the blanks between tokens.
inline bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n'; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Characters that end a bare word: blanks, ( ) $ ' { and the terminator.
struct WordEnds {
    bool table[256] = {};
    constexpr WordEnds()
    {
        for (unsigned char c : {' ', '\t', '\n', '(', ')', '$', '\'', '{', '\0'}) table[c] = true;
    }
};
constexpr WordEnds kWordEnds;
inline bool ends_word(unsigned char c) { return kWordEnds.table[c]; }

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

// ---------------------------------------------------------------- allocation

char *dup_span(const char *begin, size_t n)
{
    char *s = static_cast<char *>(mem_alloc(n + 1));
    if (!s) return nullptr;
    std::memcpy(s, begin, n);
    s[n] = '\0';
    return s;
}

char *dup_str(const char *s) { return s ? dup_span(s, std::strlen(s)) : nullptr; }

int hex_value(unsigned char c)
{
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted string's contents with \27 and \5C decoded; other backslashes stay.
char *dup_quoted(const char *begin, size_t n)
{
    if (!std::memchr(begin, '\\', n)) return dup_span(begin, n);
    char *s = static_cast<char *>(mem_alloc(n + 1));
    if (!s) return nullptr;
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        if (begin[i] == '\\' && i + 2 < n) {
            int hi = hex_value(static_cast<unsigned char>(begin[i + 1]));
            int lo = hex_value(static_cast<unsigned char>(begin[i + 2]));
            int c = hi * 16 + lo;
            if (hi >= 0 && lo >= 0 && (c == '\'' || c == '\\')) {
                s[out++] = char(c);
                i += 2;
                continue;
            }
        }
        s[out++] = begin[i];
    }
    s[out] = '\0';
    return s;
}

// A null-terminated string list under construction, released unless taken.
class List {
public:
    List() = default;
    List(const List &) = delete;
    List &operator=(const List &) = delete;
    ~List() { ber_memvfree(reinterpret_cast<void **>(items_)); }

    bool push(char *s)  // takes s; false (s released) when memory runs out
    {
        if (!s) return false;
        if (count_ + 1 >= capacity_) {
            size_t grown = capacity_ ? capacity_ * 2 : 4;
            auto **items = static_cast<char **>(mem_realloc(items_, grown * sizeof(char *)));
            if (!items) {
                ber_memfree(s);
                return false;
            }
            items_ = items;
            capacity_ = grown;
        }
        items_[count_++] = s;
        items_[count_] = nullptr;
        return true;
    }
    // An empty list, as a non-null array, for lists that may be empty.
    bool ensure_array()
    {
        if (items_) return true;
        items_ = static_cast<char **>(mem_calloc(1, sizeof(char *)));
        capacity_ = items_ ? 1 : 0;
        return items_ != nullptr;
    }
    size_t size() const { return count_; }
    char **take()
    {
        char **items = items_;
        items_ = nullptr;
        count_ = capacity_ = 0;
        return items;
    }

private:
    char **items_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

char **dup_list(char *const *list)
{
    if (!list) return nullptr;
    List out;
    if (!out.ensure_array()) return nullptr;
    for (; *list; ++list)
        if (!out.push(dup_str(*list))) return nullptr;
    return out.take();
}

void free_extensions(LDAPSchemaExtensionItem **extensions)
{
    if (!extensions) return;
    for (LDAPSchemaExtensionItem **e = extensions; *e; ++e) {
        ber_memfree((*e)->lsei_name);
        ber_memvfree(reinterpret_cast<void **>((*e)->lsei_values));
        ber_memfree(*e);
    }
    ber_memfree(extensions);
}

// Appends an item taking name and values; false (both released) on failure.
bool append_extension(LDAPSchemaExtensionItem ***extensions, size_t &count, char *name, char **values)
{
    auto *item = static_cast<LDAPSchemaExtensionItem *>(mem_calloc(1, sizeof(LDAPSchemaExtensionItem)));
    auto **grown = item ? static_cast<LDAPSchemaExtensionItem **>(
                              mem_realloc(*extensions, (count + 2) * sizeof(LDAPSchemaExtensionItem *)))
                        : nullptr;
    if (!grown) {
        ber_memfree(item);
        ber_memfree(name);
        ber_memvfree(reinterpret_cast<void **>(values));
        return false;
    }
    item->lsei_name = name;
    item->lsei_values = values;
    grown[count++] = item;
    grown[count] = nullptr;
    *extensions = grown;
    return true;
}

// ---------------------------------------------------------------- the scanner

enum class Tok { End, LeftParen, RightParen, Dollar, Quoted, Word, Unterminated, Brace };

struct Token {
    Tok kind;
    const char *begin;
    size_t length;
};

// The token at p; p moves past it (never past the terminator).
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

inline void skip_space(const char *&p)
{
    while (is_space(static_cast<unsigned char>(*p))) ++p;
}

// ---------------------------------------------------------------- the parser

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
    bool qdescrs(List &out, int first_error);
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
bool Parser::qdescrs(List &out, int first_error)
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
    List list;
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
    List list;
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
        List names;
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
    List values;
    if (!qdescrs(values, kParseBadName)) return false;
    char *copy = dup_span(name.begin, name.length);
    if (!copy) return no_memory();
    if (!append_extension(&member<LDAPSchemaExtensionItem **>(record, kind_.extensions), count, copy, values.take()))
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

// ---------------------------------------------------------------- the printer

// The text under construction; the first failed allocation spoils it.
class Out {
public:
    Out()
    {
        buf_ = static_cast<char *>(mem_alloc(256));
        cap_ = buf_ ? 256 : 0;
    }
    ~Out() { ber_memfree(buf_); }
    Out(const Out &) = delete;
    Out &operator=(const Out &) = delete;

    void put(const char *s, size_t n)
    {
        if (!buf_ || !n) return;
        if (len_ + n + 1 > cap_) {
            size_t grown = cap_ * 2;
            while (len_ + n + 1 > grown) grown *= 2;
            char *b = static_cast<char *>(mem_realloc(buf_, grown));
            if (!b) {
                ber_memfree(buf_);
                buf_ = nullptr;
                return;
            }
            buf_ = b;
            cap_ = grown;
        }
        std::memcpy(buf_ + len_, s, n);
        len_ += n;
    }
    void put(const char *s) { put(s, s ? std::strlen(s) : 0); }
    // One blank unless the text already ends in one.
    void space()
    {
        if (len_ == 0 || !is_space(static_cast<unsigned char>(buf_ ? buf_[len_ - 1] : ' '))) put(" ", 1);
    }
    char *take()
    {
        if (!buf_) return nullptr;
        buf_[len_] = '\0';
        char *b = buf_;
        buf_ = nullptr;
        return b;
    }

private:
    char *buf_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
};

// 'text' with ' and \ escaped, between blanks.
void print_qdstring(Out &out, const char *s)
{
    out.space();
    out.put("'", 1);
    const char *run = s ? s : "";
    for (const char *p = run; *p; ++p) {
        if (*p == '\'' || *p == '\\') {
            out.put(run, size_t(p - run));
            out.put(*p == '\'' ? "\\27" : "\\5C", 3);
            run = p + 1;
        }
    }
    out.put(run);
    out.put("'", 1);
    out.space();
}

void print_qdescrs(Out &out, char *const *list)
{
    if (list && list[0] && !list[1]) {
        print_qdstring(out, list[0]);
        return;
    }
    out.space();
    out.put("(", 1);
    for (char *const *s = list; s && *s; ++s) print_qdstring(out, *s);
    out.put(")", 1);
    out.space();
}

void print_woid(Out &out, const char *s)
{
    out.space();
    out.put(s);
    out.space();
}

void print_oids(Out &out, char *const *list)
{
    if (!list[1]) {
        print_woid(out, list[0]);
        return;
    }
    out.put("(", 1);
    for (char *const *s = list; *s; ++s) {
        print_woid(out, *s);
        if (s[1]) out.put("$", 1);
    }
    out.space();
    out.put(")", 1);
}

void print_rule_ids(Out &out, char *const *list)
{
    if (!list[1]) {
        out.put(list[0]);
        out.space();
        return;
    }
    out.put("(", 1);
    for (char *const *s = list; *s; ++s) {
        out.space();
        out.put(*s);
    }
    out.space();
    out.put(")", 1);
}

void print_clause(Out &out, const Clause &c, const void *record, bool &kind_printed)
{
    switch (c.field) {
    case Field::Names:
        if (char *const *names = member<char **>(record, c.offset)) {
            out.put("NAME", 4);
            print_qdescrs(out, names);
        }
        return;
    case Field::Desc:
        if (const char *desc = member<char *>(record, c.offset)) {
            out.put("DESC", 4);
            print_qdstring(out, desc);
        }
        return;
    case Field::Flag:
        if (member<int>(record, c.offset)) {
            out.put(c.keyword, c.length);
            out.space();
        }
        return;
    case Field::ClassKind: {
        if (kind_printed) return;
        kind_printed = true;
        switch (member<int>(record, c.offset)) {
        case LDAP_SCHEMA_ABSTRACT:
            out.put("ABSTRACT");
            break;
        case LDAP_SCHEMA_STRUCTURAL:
            out.put("STRUCTURAL");
            break;
        case LDAP_SCHEMA_AUXILIARY:
            out.put("AUXILIARY");
            break;
        default:
            out.put("KIND-UNKNOWN");
            break;
        }
        out.space();
        return;
    }
    case Field::Woid:
        if (const char *s = member<char *>(record, c.offset)) {
            out.put(c.keyword, c.length);
            print_woid(out, s);
        }
        return;
    case Field::Oids:
    case Field::RuleIds: {
        char *const *list = member<char **>(record, c.offset);
        if (!list || !list[0]) return;
        out.put(c.keyword, c.length);
        out.space();
        if (c.field == Field::Oids)
            print_oids(out, list);
        else
            print_rule_ids(out, list);
        out.space();
        return;
    }
    case Field::NumericOid:
    case Field::NoidLen: {
        const char *s = member<char *>(record, c.offset);
        if (!s) return;
        out.put(c.keyword, c.length);
        out.space();
        out.put(s);
        if (c.field == Field::NoidLen) {
            if (int length = member<int>(record, c.extra)) {
                char buf[16];
                int n = std::snprintf(buf, sizeof buf, "{%d}", length);
                out.put(buf, size_t(n));
            }
        }
        out.space();
        return;
    }
    case Field::Usage: {
        int usage = member<int>(record, c.offset);
        if (usage == LDAP_SCHEMA_USER_APPLICATIONS) return;
        out.put("USAGE", 5);
        out.space();
        out.put(usage > 0 && usage < 4 ? kUsages[usage] : "UNKNOWN");
        out.space();
        return;
    }
    }
}

}  // namespace

// ---------------------------------------------------------------- interface

const char *attribute_name(int kind) { return kKinds[kind].attribute; }

LDAPSchemaExtensionItem **&extensions_of(void *record, int kind)
{
    return member<LDAPSchemaExtensionItem **>(record, kKinds[kind].extensions);
}

void *create(int kind) { return mem_calloc(1, kKinds[kind].size); }

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

char *print(int kind, const void *record)
{
    if (!record) return nullptr;
    const Kind &k = kKinds[kind];
    Out out;
    out.put("(", 1);
    out.space();
    out.put(key_of(record));
    out.space();
    bool kind_printed = false;
    for (size_t i = 0; i < k.clause_count; ++i) print_clause(out, k.clauses[i], record, kind_printed);
    out.space();
    if (auto *const *extensions = member<LDAPSchemaExtensionItem **>(record, k.extensions)) {
        out.space();
        for (auto *const *e = extensions; *e; ++e) {
            out.put((*e)->lsei_name);
            out.space();
            print_qdescrs(out, (*e)->lsei_values);
            out.space();
        }
    }
    out.put(")", 1);
    return out.take();
}

void release(int kind, void *record)
{
    if (!record) return;
    const Kind &k = kKinds[kind];
    ber_memfree(key_of(record));
    for (size_t i = 0; i < k.clause_count; ++i) {
        const Clause &c = k.clauses[i];
        switch (c.field) {
        case Field::Names:
        case Field::Oids:
        case Field::RuleIds:
            ber_memvfree(member<void **>(record, c.offset));
            break;
        case Field::Desc:
        case Field::Woid:
        case Field::NumericOid:
        case Field::NoidLen:
            ber_memfree(member<char *>(record, c.offset));
            break;
        default:
            break;
        }
    }
    free_extensions(member<LDAPSchemaExtensionItem **>(record, k.extensions));
    ber_memfree(record);
}

void *copy(int kind, const void *record)
{
    if (!record) return nullptr;
    const Kind &k = kKinds[kind];
    void *out = create(kind);
    if (!out) return nullptr;
    // Scalars first, then every pointer replaced by a copy (or null, so that a
    // failure half-way releases only what was copied).
    std::memcpy(out, record, k.size);
    key_of(out) = nullptr;
    member<LDAPSchemaExtensionItem **>(out, k.extensions) = nullptr;
    for (size_t i = 0; i < k.clause_count; ++i) {
        const Clause &c = k.clauses[i];
        if (c.field != Field::Flag && c.field != Field::ClassKind && c.field != Field::Usage)
            member<void *>(out, c.offset) = nullptr;
    }
    bool ok = true;
    if (key_of(record)) ok = (key_of(out) = dup_str(key_of(record))) != nullptr;
    for (size_t i = 0; ok && i < k.clause_count; ++i) {
        const Clause &c = k.clauses[i];
        switch (c.field) {
        case Field::Names:
        case Field::Oids:
        case Field::RuleIds:
            if (char *const *list = member<char **>(record, c.offset))
                ok = (member<char **>(out, c.offset) = dup_list(list)) != nullptr;
            break;
        case Field::Desc:
        case Field::Woid:
        case Field::NumericOid:
        case Field::NoidLen:
            if (const char *s = member<char *>(record, c.offset))
                ok = (member<char *>(out, c.offset) = dup_str(s)) != nullptr;
            break;
        default:
            break;
        }
    }
    if (auto *const *extensions = member<LDAPSchemaExtensionItem **>(record, k.extensions); ok && extensions) {
        auto *&copied = member<LDAPSchemaExtensionItem **>(out, k.extensions);
        size_t count = 0;
        ok = (copied = static_cast<LDAPSchemaExtensionItem **>(mem_calloc(1, sizeof *copied))) != nullptr;
        for (auto *const *e = extensions; ok && *e; ++e) {
            char *name = dup_str((*e)->lsei_name);
            char **values = (*e)->lsei_values ? dup_list((*e)->lsei_values) : nullptr;
            if (!name || ((*e)->lsei_values && !values)) {
                ber_memfree(name);
                ber_memvfree(reinterpret_cast<void **>(values));
                ok = false;
            } else {
                ok = append_extension(&copied, count, name, values);
            }
        }
    }
    if (!ok) {
        release(kind, out);
        return nullptr;
    }
    return out;
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
