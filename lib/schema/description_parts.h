// What the description sources share: the clause tables (one per kind; the
// parser, the printer, the copy and the release all walk the same table, so
// the four cannot disagree about a record's fields), the character classes and
// tokens of the scanner, and the string and list builders.
//
// Records are allocated with liblber's allocator (schema/memory.h), field for
// field as libldap allocates them, so either library's free function releases
// them.
#pragma once

#include "core/handles.h"  // reads <ldap.h> the library's way; first
#include "schema/descriptions.h"
#include "schema/memory.h"

#include <cstddef>
#include <cstdint>

namespace dirext::schema::detail {

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

struct Kind {
    const char *attribute;
    size_t size;
    const Clause *clauses;
    size_t clause_count;
    size_t extensions;    // offset of the extension list
    bool rule_id;         // keyed by a rule ID rather than an OID
    int default_class;    // object classes without a kind keyword are structural
};

extern const Kind kKinds[LDAP_SCHEMA_KIND_COUNT];

// The USAGE values, indexed by LDAP_SCHEMA_USER_APPLICATIONS and the rest.
extern const char *const kUsages[4];

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
inline constexpr WordEnds kWordEnds;
inline bool ends_word(unsigned char c) { return kWordEnds.table[c]; }

// ---------------------------------------------------------------- tokens

enum class Tok { End, LeftParen, RightParen, Dollar, Quoted, Word, Unterminated, Brace };

struct Token {
    Tok kind;
    const char *begin;
    size_t length;
};

// The token at p; p moves past it (never past the terminator).
Token next_token(const char *&p);

inline void skip_space(const char *&p)
{
    while (is_space(static_cast<unsigned char>(*p))) ++p;
}

// ---------------------------------------------------------------- strings and lists

char *dup_span(const char *begin, size_t n);
char *dup_str(const char *s);  // null for null
// A quoted string's contents with \27 and \5C decoded; other backslashes stay.
char *dup_quoted(const char *begin, size_t n);

// A null-terminated string list under construction, released unless taken.
class StringList {
public:
    StringList() = default;
    StringList(const StringList &) = delete;
    StringList &operator=(const StringList &) = delete;
    ~StringList() { ber_memvfree(reinterpret_cast<void **>(items_)); }

    bool push(char *s);  // takes s; false (s released) when memory runs out
    // An empty list, as a non-null array, for lists that may be empty.
    bool ensure_array();
    size_t size() const { return count_; }
    char **take();

private:
    char **items_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

// A copy of a null-terminated list; null for null or when memory runs out.
char **dup_list(char *const *list);

// Appends an item made of name and values; false (both released) on failure.
bool append_extension(LDAPSchemaExtensionItem ***extensions, size_t &count, BerMemPtr<char> name,
                      BerStringListPtr values);
void free_extensions(LDAPSchemaExtensionItem **extensions);

}  // namespace dirext::schema::detail
