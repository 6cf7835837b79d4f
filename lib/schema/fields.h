// Field names of schema elements: the keywords of the description grammar,
// through which callers read (ldap_schema_get_field_*) and edit
// (ldap_schema_add / _modify) elements.  One table per kind, in the order in
// which ldap_schema_get_field_names lists the fields.
#pragma once

#include "dirext/schema.h"

#include <cstddef>

namespace dirext::schema_util {

enum class FieldClass {
    String,     // one string
    List,       // a string list
    Flag,       // int 0/1, read as [""] when set
    Syntax,     // attribute type SYNTAX: read as OID and length, edited as the OID only
    Usage,      // attribute type USAGE: edited only (read through the four usage names)
    UsageName,  // one of the four usage names: read only, [""] when the usage is `value`
    ClassKind,  // ABSTRACT / STRUCTURAL / AUXILIARY: [""] when the kind is `value`
};

struct FieldDef {
    const char *name;
    FieldClass cls;
    size_t offset;
    int value = 0;              // UsageName / ClassKind
    bool set_only_when_one = false;  // object class OBSOLETE reads [""] only for 1
    bool read = true;           // listed and read by ldap_schema_get_field_*
    bool edit = true;           // recognised by modify_element
    bool token = true;          // String/List: values must be single words (OIDs, names of other elements)
    bool digits = false;        // rule IDs: decimal digits only
    bool braces = false;        // attribute type SYNTAX may carry {len}
};

struct FieldTable {
    const FieldDef *fields;
    size_t count;
};

FieldTable fields_of(int kind);
// The field of the kind called `name` (ignoring case) that reading (edit
// false) or editing (edit true) recognises, or null.
const FieldDef *find_field(int kind, const char *name, bool edit);

template <class T>
T &field_ref(void *record, size_t offset)
{
    return *reinterpret_cast<T *>(static_cast<char *>(record) + offset);
}

}  // namespace dirext::schema_util
