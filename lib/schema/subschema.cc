// The schema model: fetching a subschema entry into per-kind element arrays
// sorted by key and name indexes sorted by name, lookups, and release.
#include "schema/subschema.h"  // reads <ldap.h> the library's way; first

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace dirext::schema_util {

namespace schema = dirext::schema;

void kind_out_of_range(int kind, const char *function)
{
    std::fprintf(stderr, "schema_util: %s: Assertion `element kind %d within 0 to 7' failed.\n", function, kind);
    std::abort();
}

namespace {
struct Lower {
    unsigned char table[256];
    constexpr Lower() : table()
    {
        for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
};
constexpr Lower kLower;
}  // namespace

int compare_ignoring_case(const char *a, const char *b)
{
    const auto *x = reinterpret_cast<const unsigned char *>(a);
    const auto *y = reinterpret_cast<const unsigned char *>(b);
    for (;; ++x, ++y) {
        unsigned char cx = kLower.table[*x], cy = kLower.table[*y];
        if (cx != cy) return cx < cy ? -1 : 1;
        if (!cx) return 0;
    }
}

// ------------------------------------------------------------ comparisons

int compare_oid(const void *a, const void *b)
{
    const LDAPSchemaElement *x = *static_cast<LDAPSchemaElement *const *>(a);
    const LDAPSchemaElement *y = *static_cast<LDAPSchemaElement *const *>(b);
    if (!x || !y) return !x && !y ? 0 : (!x ? 1 : -1);
    const char *kx = x->description ? schema::key_of(x->description) : nullptr;
    const char *ky = y->description ? schema::key_of(y->description) : nullptr;
    if (!kx || !ky) return !kx && !ky ? 0 : (!kx ? 1 : -1);
    return std::strcmp(kx, ky);
}

int compare_name(const void *a, const void *b)
{
    const char *x = static_cast<const LDAPSchemaNameEntry *>(a)->name;
    const char *y = static_cast<const LDAPSchemaNameEntry *>(b)->name;
    if (!x || !y) return !x && !y ? 0 : (!x ? 1 : -1);
    return compare_ignoring_case(x, y);
}

int compare_key_to_oid(const void *key, const void *element)
{
    const LDAPSchemaElement *e = *static_cast<LDAPSchemaElement *const *>(element);
    const char *k = e && e->description ? schema::key_of(e->description) : nullptr;
    if (!k) return -1;  // elements without a key sort last
    return std::strcmp(static_cast<const char *>(key), k);
}

int compare_key_to_name(const void *key, const void *entry)
{
    const char *name = static_cast<const LDAPSchemaNameEntry *>(entry)->name;
    if (!name) return -1;
    return compare_ignoring_case(static_cast<const char *>(key), name);
}

// ------------------------------------------------------------ building

LDAPSubschema *new_schema()
{
    return static_cast<LDAPSubschema *>(mem_calloc(1, sizeof(LDAPSubschema)));
}

void free_element(LDAPSchemaElement *element)
{
    if (!element) return;
    SCHEMA_UTIL_CHECK_KIND(element->kind);
    schema::release(element->kind, element->description);
    ber_memfree(element);
}

void destroy_schema(LDAPSubschema *schema)
{
    if (!schema) return;
    schema->magic = 0;
    for (int kind = 0; kind < LDAP_SCHEMA_KIND_COUNT; ++kind) {
        for (int i = 0; i < schema->element_count[kind]; ++i) free_element(schema->elements[kind][i]);
        for (int i = 0; i < schema->name_count[kind]; ++i) ber_memfree(schema->names[kind][i].name);
        ber_memfree(schema->elements[kind]);
        ber_memfree(schema->names[kind]);
    }
    free_changes(schema);
    ber_memfree(schema);
}

namespace {

template <class T>
bool grow(T *&array, int &capacity, long wanted)
{
    if (wanted <= capacity) return true;
    if (wanted > INT32_MAX / 2) return false;
    T *grown = static_cast<T *>(mem_realloc(array, size_t(wanted) * sizeof(T)));
    if (!grown) return false;
    array = grown;
    capacity = int(wanted);
    return true;
}

int name_count_of(const void *record)
{
    int n = 0;
    if (char *const *names = schema::names_of(record))
        while (names[n]) ++n;
    return n;
}

}  // namespace

int alloc_list(LDAPSubschema *schema, int kind, int count)
{
    SCHEMA_UTIL_CHECK_KIND(kind);
    if (count < 0) return LDAP_PARAM_ERROR;
    if (!grow(schema->elements[kind], schema->element_capacity[kind], long(schema->element_count[kind]) + count) ||
        !grow(schema->names[kind], schema->name_capacity[kind], long(schema->name_count[kind]) + count))
        return LDAP_NO_MEMORY;
    return LDAP_SUCCESS;
}

namespace {

// Room for one more element of the kind and n more names.
bool make_room(LDAPSubschema *schema, int kind, int n)
{
    return (schema->element_count[kind] < schema->element_capacity[kind] ||
            grow(schema->elements[kind], schema->element_capacity[kind], long(schema->element_capacity[kind]) + 10)) &&
           (long(schema->name_count[kind]) + n < schema->name_capacity[kind] ||
            grow(schema->names[kind], schema->name_capacity[kind], long(schema->name_capacity[kind]) + n + 10));
}

// Name entries written past the end of a name index, released unless kept.
class NameEntries {
public:
    explicit NameEntries(LDAPSchemaNameEntry *end) : end_(end) {}
    ~NameEntries()
    {
        for (int i = 0; i < count_; ++i) ber_memfree(end_[i].name);
    }
    NameEntries(const NameEntries &) = delete;
    NameEntries &operator=(const NameEntries &) = delete;

    bool add(LDAPSchemaElement *element, const char *name)
    {
        char *copy = mem_strdup(name);
        if (!copy) return false;
        end_[count_++] = {element, copy};
        return true;
    }
    int keep()  // how many entries the index gains
    {
        int n = count_;
        count_ = 0;
        return n;
    }

private:
    LDAPSchemaNameEntry *end_;
    int count_ = 0;
};

}  // namespace

int add_element(LDAPSubschema *schema, LDAPSchemaElement *element)
{
    SCHEMA_UTIL_CHECK_KIND(element->kind);
    ElementPtr owned(element);  // released on failure
    const int kind = element->kind;
    const int n = name_count_of(element->description);
    // Room first, then the name copies, so that a failure changes nothing.
    if (!make_room(schema, kind, n)) return LDAP_NO_MEMORY;
    char *const *element_names = schema::names_of(element->description);
    NameEntries entries(schema->names[kind] + schema->name_count[kind]);
    for (int i = 0; i < n; ++i)
        if (!entries.add(element, element_names[i])) return LDAP_NO_MEMORY;
    schema->name_count[kind] += entries.keep();
    schema->elements[kind][schema->element_count[kind]++] = owned.release();
    return LDAP_SUCCESS;
}

int parse_element(LDAPSubschema *schema, const char *text, int kind)
{
    if (!schema::valid_kind(kind)) return LDAP_PARAM_ERROR;
    ElementPtr element(static_cast<LDAPSchemaElement *>(mem_calloc(1, sizeof(LDAPSchemaElement))));
    if (!element) return LDAP_NO_MEMORY;
    element->kind = kind;
    int code = 0;
    const char *errp = nullptr;
    element->description = schema::parse(kind, text, &code, &errp, schema::kModelParseFlags);
    if (!element->description) return code == schema::kParseNoMemory ? LDAP_NO_MEMORY : LDAP_LOCAL_ERROR;
    return add_element(schema, element.release());
}

void sort_kind(LDAPSubschema *schema, int kind)
{
    SCHEMA_UTIL_CHECK_KIND(kind);
    if (schema->element_count[kind] > 1)
        std::qsort(schema->elements[kind], size_t(schema->element_count[kind]), sizeof(LDAPSchemaElement *),
                   compare_oid);
    if (schema->name_count[kind] > 1)
        std::qsort(schema->names[kind], size_t(schema->name_count[kind]), sizeof(LDAPSchemaNameEntry), compare_name);
}

int lookup(LDAPSubschema *schema, const char *key, int kind, LDAPSchemaElement **element)
{
    *element = nullptr;
    if (!schema) return LDAP_PARAM_ERROR;
    if (!valid_handle(schema)) return LDAP_LOCAL_ERROR;
    if (!key || !schema::valid_kind(kind)) return LDAP_PARAM_ERROR;
    if (*key >= '0' && *key <= '9') {
        if (!schema->element_count[kind]) return LDAP_NO_SUCH_OBJECT;
        auto *found = static_cast<LDAPSchemaElement **>(
            std::bsearch(key, schema->elements[kind], size_t(schema->element_count[kind]),
                         sizeof(LDAPSchemaElement *), compare_key_to_oid));
        if (!found) return LDAP_NO_SUCH_OBJECT;
        *element = *found;
        return LDAP_SUCCESS;
    }
    if (!schema->name_count[kind]) return LDAP_NO_SUCH_OBJECT;
    auto *found = static_cast<LDAPSchemaNameEntry *>(std::bsearch(
        key, schema->names[kind], size_t(schema->name_count[kind]), sizeof(LDAPSchemaNameEntry), compare_key_to_name));
    if (!found) return LDAP_NO_SUCH_OBJECT;
    *element = found->element;
    return LDAP_SUCCESS;
}

void detach_element(LDAPSubschema *schema, LDAPSchemaElement *element)
{
    const int kind = element->kind;
    SCHEMA_UTIL_CHECK_KIND(kind);
    // Compacting keeps both arrays in order.
    LDAPSchemaElement **elements = schema->elements[kind];
    int &count = schema->element_count[kind];
    for (int i = 0; i < count; ++i) {
        if (elements[i] == element) {
            std::memmove(elements + i, elements + i + 1, size_t(count - i - 1) * sizeof *elements);
            elements[--count] = nullptr;
            break;
        }
    }
    drop_names(schema, element);
    free_element(element);
}

void drop_names(LDAPSubschema *schema, const LDAPSchemaElement *element)
{
    const int kind = element->kind;
    LDAPSchemaNameEntry *names = schema->names[kind];
    int kept = 0;
    for (int i = 0; i < schema->name_count[kind]; ++i) {
        if (names[i].element == element)
            ber_memfree(names[i].name);
        else
            names[kept++] = names[i];
    }
    for (int i = kept; i < schema->name_count[kind]; ++i) names[i] = {nullptr, nullptr};
    schema->name_count[kind] = kept;
}

// The subschema attributes, in the order they are requested and matched.
namespace {
struct SubschemaAttribute {
    const char *name;
    int kind;
};
const SubschemaAttribute kAttributes[] = {
    {"attributeTypes", LDAP_SCHEMA_ATTRIBUTE_TYPE},     {"objectClasses", LDAP_SCHEMA_OBJECT_CLASS},
    {"ldapSyntaxes", LDAP_SCHEMA_SYNTAX},               {"matchingRules", LDAP_SCHEMA_MATCHING_RULE},
    {"matchingRuleUse", LDAP_SCHEMA_MATCHING_RULE_USE}, {"dITContentRules", LDAP_SCHEMA_DIT_CONTENT_RULE},
    {"dITStructureRules", LDAP_SCHEMA_DIT_STRUCTURE_RULE}, {"nameForms", LDAP_SCHEMA_NAME_FORM},
};
}  // namespace

int load_attribute(LDAPSubschema *schema, const char *attribute, const struct berval *const *values)
{
    // Attribute descriptions ignore case (RFC 4512): a server may well answer
    // "attributetypes" to a request for "attributeTypes".
    int kind = -1;
    for (const auto &a : kAttributes)
        if (compare_ignoring_case(attribute, a.name) == 0) kind = a.kind;
    if (kind < 0 || !values || !values[0]) return LDAP_SUCCESS;
    int count = 0;
    while (values[count]) ++count;
    if (alloc_list(schema, kind, count) != LDAP_SUCCESS) return LDAP_NO_MEMORY;
    // Servers publish malformed attribute types and object classes now and
    // then; those are dropped, while any other malformed description fails.
    const bool lenient = kind == LDAP_SCHEMA_ATTRIBUTE_TYPE || kind == LDAP_SCHEMA_OBJECT_CLASS;
    for (int i = 0; i < count; ++i) {
        const berval *v = values[i];
        // A value with a NUL inside is not a description, whatever its prefix says.
        int rc = v->bv_val && std::strlen(v->bv_val) == v->bv_len ? parse_element(schema, v->bv_val, kind)
                                                                   : LDAP_LOCAL_ERROR;
        if (rc == LDAP_LOCAL_ERROR && lenient) continue;
        if (rc != LDAP_SUCCESS) return rc;
    }
    return LDAP_SUCCESS;
}

void finish_load(LDAPSubschema *schema)
{
    for (int kind = 0; kind < LDAP_SCHEMA_KIND_COUNT; ++kind) sort_kind(schema, kind);
    schema->magic = LDAP_SCHEMA_MAGIC;
}

// ------------------------------------------------------------ fetch

namespace {
using SchemaPtr = std::unique_ptr<LDAPSubschema, Deleter<destroy_schema>>;
}  // namespace

int subschema_dn(LDAP *ld, char **dn)
{
    *dn = nullptr;
    char attribute[] = "subschemaSubentry";
    char *attrs[] = {attribute, nullptr};
    LDAPMessage *res = nullptr;
    int rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectclass=*)", attrs, 0, nullptr, nullptr, nullptr,
                               LDAP_NO_LIMIT, &res);
    MessagePtr result(res);
    if (rc != LDAP_SUCCESS) return rc;
    LDAPMessage *entry = ldap_first_entry(ld, res);
    if (!entry) return LDAP_NO_RESULTS_RETURNED;
    LdapValuesLenPtr values(ldap_get_values_len(ld, entry, attribute));
    if (!values || !values.get()[0]) return LDAP_NO_RESULTS_RETURNED;
    const berval *first = values.get()[0];
    *dn = static_cast<char *>(mem_alloc(first->bv_len + 1));
    if (!*dn) return LDAP_NO_MEMORY;
    std::memcpy(*dn, first->bv_val, first->bv_len);
    (*dn)[first->bv_len] = '\0';
    return LDAP_SUCCESS;
}

}  // namespace dirext::schema_util

using namespace dirext::schema_util;

extern "C" int ldap_schema_fetch(LDAP *ld, LDAPSubschema **schema, const char *subschemaDN)
{
    if (!schema) return LDAP_PARAM_ERROR;
    *schema = nullptr;
    if (!ld) return LDAP_PARAM_ERROR;
    SchemaPtr handle(new_schema());
    if (!handle) return LDAP_NO_MEMORY;
    dirext::BerMemPtr<char> found;
    if (!subschemaDN) {
        char *dn = nullptr;
        if (int rc = subschema_dn(ld, &dn); rc != LDAP_SUCCESS) return rc;
        found.reset(dn);
        subschemaDN = dn;
    }
    char *attrs[std::size(kAttributes) + 1] = {};
    for (size_t i = 0; i < std::size(kAttributes); ++i) attrs[i] = const_cast<char *>(kAttributes[i].name);
    LDAPMessage *res = nullptr;
    int rc = ldap_search_s(ld, subschemaDN, LDAP_SCOPE_BASE, "(objectclass=*)", attrs, 0, &res);
    dirext::MessagePtr result(res);
    if (rc != LDAP_SUCCESS) return rc;
    if (LDAPMessage *entry = ldap_first_entry(ld, res)) {
        BerElement *cursor = nullptr;
        char *name = ldap_first_attribute(ld, entry, &cursor);
        dirext::BerViewPtr cursor_owner(cursor);  // ldap_first_attribute's cursor
        for (; name; name = ldap_next_attribute(ld, entry, cursor)) {
            dirext::LdapStringPtr owned_name(name);
            dirext::LdapValuesLenPtr values(ldap_get_values_len(ld, entry, name));
            rc = load_attribute(handle.get(), name, values.get());
            if (rc != LDAP_SUCCESS) return rc;
        }
    }
    finish_load(handle.get());
    *schema = handle.release();
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_free(LDAPSubschema *schema)
{
    if (!schema) return LDAP_SUCCESS;
    if (!valid_handle(schema)) return LDAP_PARAM_ERROR;
    destroy_schema(schema);
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_get_by_name(LDAPSubschema *schema, const char *key, int kind, LDAPSchemaElement **element)
{
    if (!element) return LDAP_PARAM_ERROR;
    return lookup(schema, key, kind, element);
}

extern "C" int ldap_schema_get_by_index(LDAPSubschema *schema, int index, int kind, LDAPSchemaElement **element)
{
    if (!element) return LDAP_PARAM_ERROR;
    *element = nullptr;
    if (!schema || !dirext::schema::valid_kind(kind) || index < 0 || index >= schema->element_count[kind])
        return LDAP_PARAM_ERROR;
    if (!valid_handle(schema)) return LDAP_LOCAL_ERROR;
    *element = schema->elements[kind][index];
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_get_count(LDAPSubschema *schema, int kind)
{
    if (!valid_handle(schema) || !dirext::schema::valid_kind(kind)) return -1;
    return schema->element_count[kind];
}
