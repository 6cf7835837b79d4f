// The subschema model: the schema utility's internal operations on a fetched
// subschema (its element arrays, name indexes and pending changes), shared by
// subschema.cc, fields.cc and subschema_edit.cc and reached by white-box tests.
//
// Memory: the handle, its arrays, the elements, the records and the pending
// changes all come from liblber's allocator through schema/memory.h; results
// handed to callers are released with ldap_value_free / ldap_memfree.
#pragma once

#include "core/handles.h"  // reads <ldap.h> the library's way; first
#include "dirext/schema.h"
#include "schema/descriptions.h"
#include "schema/memory.h"

#include <memory>

namespace dirext::schema_util {

using schema::mem_alloc;
using schema::mem_calloc;
using schema::mem_realloc;
using schema::mem_strdup;

// Stops the process: a kind outside 0 to 7 reached an internal operation.
[[noreturn]] void kind_out_of_range(int kind, const char *function);

#define SCHEMA_UTIL_CHECK_KIND(kind)                                                          \
    do {                                                                                      \
        if (!::dirext::schema::valid_kind(kind)) ::dirext::schema_util::kind_out_of_range((kind), __func__); \
    } while (0)

inline bool valid_handle(const LDAPSubschema *schema) { return schema && schema->magic == LDAP_SCHEMA_MAGIC; }

// ---- model, fetch and lookup

// The subschemaSubentry DN from the root DSE (released with ber_memfree).
int subschema_dn(LDAP *ld, char **dn);
// A zeroed handle, not valid until finish_load(); null when memory runs out.
LDAPSubschema *new_schema();
// Releases everything a handle holds, valid or not, and the handle.
void destroy_schema(LDAPSubschema *schema);
// Makes room for count more elements and names of the kind.
int alloc_list(LDAPSubschema *schema, int kind, int count);
// Parses one description into a new element of the schema: 0, -2 (does not
// parse), -9 (kind outside 0 to 7) or -10.
int parse_element(LDAPSubschema *schema, const char *text, int kind);
// Loads the values of one subschema attribute (attributes that hold no
// descriptions are ignored): 0, -2 or -10.
int load_attribute(LDAPSubschema *schema, const char *attribute, const struct berval *const *values);
// Sorts every kind and marks the handle valid.
void finish_load(LDAPSubschema *schema);
// Appends the element and its names (unsorted).  On failure (-10) the element
// is released and the schema is as it was.
int add_element(LDAPSubschema *schema, LDAPSchemaElement *element);
void free_element(LDAPSchemaElement *element);

using ElementPtr = std::unique_ptr<LDAPSchemaElement, Deleter<free_element>>;
// Sorts the kind's element array and name index.
void sort_kind(LDAPSubschema *schema, int kind);
// The element of the kind found by key (a name, or an OID when the key begins
// with a digit): 0, -2 (handle not valid), -9 or 32.
int lookup(LDAPSubschema *schema, const char *key, int kind, LDAPSchemaElement **element);
// Takes the element out of the schema (array and names) and releases it.
void detach_element(LDAPSubschema *schema, LDAPSchemaElement *element);
// Removes the element's entries from its kind's name index, keeping the order.
void drop_names(LDAPSubschema *schema, const LDAPSchemaElement *element);

// qsort/bsearch comparisons: element pointers by key, name entries by name.
int compare_oid(const void *a, const void *b);
int compare_name(const void *a, const void *b);
int compare_key_to_oid(const void *key, const void *element);
int compare_key_to_name(const void *key, const void *entry);

// ASCII-only case-insensitive comparison (locale-independent).
int compare_ignoring_case(const char *a, const char *b);

// ---- field names and values

// *out: [value] or a copy of list; LDAP_NO_SUCH_ATTRIBUTE for null.
int one_value_list(char ***out, const char *value);
int copy_value_list(char ***out, char **list);
// A copy of a null-terminated list; null for null or when memory runs out.
char **copy_string_list(char **list);

// ---- editing

LDAPSchemaElement *dup_element(const LDAPSchemaElement *element);
int remove_element(LDAPSubschema *schema, const char *key, int kind);
int modify_element(LDAPSchemaElement *element, const char *field, char **values, int operation);
// Applies an add, delete or replace of values to a one-string or list field.
int edit_value(char **field, char **values, int operation);
int edit_values(char ***field, char **values, int operation);
int add_change(LDAPSubschema *schema, const LDAPMod *change);
int store_update(LDAPSubschema *schema, const LDAPSchemaElement *element, int operation);
void free_changes(LDAPSubschema *schema);

}  // namespace dirext::schema_util
