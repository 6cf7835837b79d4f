// Schema descriptions: the parsers, printers and free functions of the eight
// element kinds, as hidden functions.  The exported ldap_str2* / *2str / *_free
// names are thin wrappers around these, and the rest of the library calls these
// directly, so that no call inside the library can be bound to libldap's
// functions of the same names (or to an application's).
#pragma once

#include "dirext/schema.h"

#include <cstddef>

namespace dirext::schema {

// Parse error codes (ldap_scherr2str).
enum ParseCode : int {
    kParseOk = 0,
    kParseNoMemory = 1,
    kParseUnexpectedToken = 2,
    kParseNoLeftParen = 3,
    kParseNoRightParen = 4,
    kParseNoDigit = 5,
    kParseBadName = 6,
    kParseBadDescription = 7,
    kParseBadSuperiors = 8,
    kParseDuplicate = 9,
    kParseEmpty = 10,
};

// The flags with which the schema model parses what it stores: missing or
// non-numeric OIDs and quoted OIDs are accepted.
constexpr unsigned kModelParseFlags = 15;

inline bool valid_kind(int kind) { return kind >= 0 && kind < LDAP_SCHEMA_KIND_COUNT; }

// A new record of the kind, or null with *code and *errp set.  code and errp
// may be null.  errp always points into text (at its end for a missing
// closing parenthesis), or at "" for a null text.
void *parse(int kind, const char *text, int *code, const char **errp, unsigned flags);
// The description text, allocated with ber_memalloc; null for a null record or
// when memory runs out.
char *print(int kind, const void *record);
// Releases a record and everything it owns; null is ignored.
void release(int kind, void *record);
// A deep copy allocated like a parsed record; null when memory runs out.
void *copy(int kind, const void *record);
// A zero-initialised record of the kind; null when memory runs out.
void *create(int kind);

// The subschema attribute that holds the kind's descriptions.
const char *attribute_name(int kind);

// A record's key (OID or rule ID) and names; every kind keeps them first.
inline char *&key_of(void *record) { return *static_cast<char **>(record); }
inline const char *key_of(const void *record) { return *static_cast<char *const *>(record); }
char **&names_of(void *record);
char *const *names_of(const void *record);
LDAPSchemaExtensionItem **&extensions_of(void *record, int kind);

const char *error_text(int code);

}  // namespace dirext::schema
