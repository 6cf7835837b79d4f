// Editing a fetched schema and saving the edits.  Every edit changes the
// model at once and queues the matching modifications of the subschema entry;
// ldap_schema_save sends the queue as one modify request.
//
// An edit either succeeds whole or changes nothing: changes are applied to a
// copy of the element, checked, queued, and only then put in place.  The
// element keeps its address (its record is replaced), the name index follows
// a changed NAME, and the arrays are re-sorted after any change of key (OID or
// RULEID) or names, so that lookups stay right after every edit.
#include "schema/subschema.h"  // reads <ldap.h> the library's way; first
#include "schema/fields.h"

#include <cstring>
#include <utility>

namespace dirext::schema_util {

namespace schema = dirext::schema;

namespace {

bool add_like(int op) { return op == LDAP_MOD_ADD || op == LDAP_MOD_REPLACE; }

bool equal_ignoring_case(const char *a, const char *b) { return compare_ignoring_case(a, b) == 0; }

bool contains(char *const *list, const char *value)
{
    for (; list && *list; ++list)
        if (equal_ignoring_case(*list, value)) return true;
    return false;
}

// A value the printer can write as one bare word without changing the
// description's structure.
bool printable_word(const char *v, bool braces)
{
    if (!v || !*v) return false;
    for (; *v; ++v) {
        switch (*v) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '(':
        case ')':
        case '$':
        case '\'':
            return false;
        case '{':
        case '}':
            if (!braces) return false;
            break;
        default:
            break;
        }
    }
    return true;
}

bool all_digits(const char *v)
{
    if (!v || !*v) return false;
    for (; *v; ++v)
        if (*v < '0' || *v > '9') return false;
    return true;
}

bool acceptable(const FieldDef &f, const char *v)
{
    if (f.digits) return all_digits(v);
    if (f.token) return printable_word(v, f.braces);
    return f.cls != FieldClass::List || (v && *v);  // no empty names
}

// Values that an add or replace would store must print faithfully.
bool acceptable_values(const FieldDef &f, char **values)
{
    if (!values) return true;
    if (f.cls != FieldClass::List) return !values[0] || acceptable(f, values[0]);
    for (char **v = values; *v; ++v)
        if (!acceptable(f, *v)) return false;
    return true;
}

void remove_extension(LDAPSchemaExtensionItem **&list, size_t index)
{
    ber_memfree(list[index]->lsei_name);
    ber_memvfree(reinterpret_cast<void **>(list[index]->lsei_values));
    ber_memfree(list[index]);
    size_t i = index;
    for (; list[i + 1]; ++i) list[i] = list[i + 1];
    list[i] = nullptr;
    if (!list[0]) {
        ber_memfree(list);
        list = nullptr;
    }
}

int extension_change(LDAPSchemaElement *element, const char *field, char **values, int op)
{
    LDAPSchemaExtensionItem **&list = schema::extensions_of(element->description, element->kind);
    size_t n = 0;
    for (; list && list[n]; ++n) {
        if (list[n]->lsei_name && equal_ignoring_case(list[n]->lsei_name, field)) {
            int rc = edit_values(&list[n]->lsei_values, values, op);
            // An extension cannot be written without values: it goes.
            if (rc == LDAP_SUCCESS && !list[n]->lsei_values) remove_extension(list, n);
            return rc;
        }
    }
    if (op == LDAP_MOD_DELETE) return LDAP_SUCCESS;
    // A new field name must be an extension's ("X-..."), or the element
    // would print as a description nobody can parse.
    if (!values || !values[0] || std::strncmp(field, "X-", 2) != 0 || !printable_word(field, false))
        return LDAP_PARAM_ERROR;
    BerMemPtr<LDAPSchemaExtensionItem> item(
        static_cast<LDAPSchemaExtensionItem *>(mem_calloc(1, sizeof(LDAPSchemaExtensionItem))));
    if (!item) return LDAP_NO_MEMORY;
    BerMemPtr<char> name(mem_strdup(field));
    BerStringListPtr copies(copy_string_list(values));
    auto **grown = name && copies ? static_cast<LDAPSchemaExtensionItem **>(
                                        mem_realloc(list, (n + 2) * sizeof(LDAPSchemaExtensionItem *)))
                                  : nullptr;
    if (!grown) return LDAP_NO_MEMORY;
    item->lsei_name = name.release();
    item->lsei_values = copies.release();
    grown[n] = item.release();
    grown[n + 1] = nullptr;
    list = grown;
    return LDAP_SUCCESS;
}

// ---- the queue of pending changes

int push_change(LDAPSubschema *s, LDAPMod *mod)
{
    if (s->change_count + 1 >= s->change_capacity) {
        int capacity = s->change_capacity + 10;
        auto **grown = static_cast<LDAPMod **>(mem_realloc(s->changes, size_t(capacity) * sizeof(LDAPMod *)));
        if (!grown) return LDAP_NO_MEMORY;
        s->changes = grown;
        s->change_capacity = capacity;
    }
    s->changes[s->change_count++] = mod;
    s->changes[s->change_count] = nullptr;
    return LDAP_SUCCESS;
}

void free_change(LDAPMod *mod)
{
    if (!mod) return;
    ber_memvfree(reinterpret_cast<void **>(mod->mod_values));
    ber_memfree(mod);
}

using ChangePtr = std::unique_ptr<LDAPMod, Deleter<free_change>>;

// Queues {op, attribute, values}.
int queue_change(LDAPSubschema *s, int op, const char *attribute, BerStringListPtr values)
{
    ChangePtr mod(static_cast<LDAPMod *>(mem_calloc(1, sizeof(LDAPMod))));
    if (!mod) return LDAP_NO_MEMORY;
    mod->mod_op = op;
    mod->mod_type = const_cast<char *>(attribute);  // a constant, never freed
    mod->mod_values = values.release();
    if (int rc = push_change(s, mod.get()); rc != LDAP_SUCCESS) return rc;
    mod.release();  // the queue owns it now
    return LDAP_SUCCESS;
}

void drop_changes(LDAPSubschema *s, int count)
{
    for (; count > 0 && s->change_count > 0; --count) {
        free_change(s->changes[--s->change_count]);
        s->changes[s->change_count] = nullptr;
    }
}

// ---- keeping keys and names unique, so that lookups stay unambiguous

bool same_key(const char *a, const char *b) { return a == b || (a && b && std::strcmp(a, b) == 0); }

bool same_names(char *const *a, char *const *b)
{
    for (; a && b && *a && *b; ++a, ++b)
        if (std::strcmp(*a, *b) != 0) return false;
    return (!a || !*a) && (!b || !*b);
}

// LDAP_ALREADY_EXISTS when another element of the kind has the record's key,
// or one of its names that `previous` (the record it replaces) did not have.
int check_unique(const LDAPSubschema *s, int kind, const void *record, const LDAPSchemaElement *self,
                 const void *previous)
{
    const char *key = schema::key_of(record);
    if (key && !(previous && same_key(key, schema::key_of(previous)))) {
        for (int i = 0; i < s->element_count[kind]; ++i) {
            const LDAPSchemaElement *e = s->elements[kind][i];
            if (e != self && same_key(key, schema::key_of(e->description))) return LDAP_ALREADY_EXISTS;
        }
    }
    for (char *const *name = schema::names_of(record); name && *name; ++name) {
        if (previous && contains(schema::names_of(previous), *name)) continue;
        for (int i = 0; i < s->name_count[kind]; ++i) {
            const LDAPSchemaNameEntry &entry = s->names[kind][i];
            if (entry.element != self && entry.name && equal_ignoring_case(entry.name, *name))
                return LDAP_ALREADY_EXISTS;
        }
    }
    return LDAP_SUCCESS;
}

// Checks shared by add and modify: the operation's field lists.
bool valid_mods(LDAPMod **mods)
{
    for (LDAPMod **m = mods; *m; ++m)
        if (!(*m)->mod_type || ((*m)->mod_op & LDAP_MOD_BVALUES)) return false;
    return true;
}

// Releases the n entries of list equal to one of values (ignoring case) and
// moves the rest to its front, in order; how many are left.
size_t drop_matching(char **list, size_t n, char *const *values)
{
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        if (contains(values, list[i]))
            ber_memfree(list[i]);
        else
            list[kept++] = list[i];
    }
    return kept;
}

}  // namespace

int edit_value(char **field, char **values, int operation)
{
    char *next = nullptr;
    if (add_like(operation) && values && values[0] && !(next = mem_strdup(values[0]))) return LDAP_NO_MEMORY;
    ber_memfree(*field);
    *field = next;
    return LDAP_SUCCESS;
}

int edit_values(char ***field, char **values, int operation)
{
    char **old = *field;
    size_t n_old = 0, n_new = 0;
    while (old && old[n_old]) ++n_old;
    while (values && values[n_new]) ++n_new;
    switch (operation) {
    case LDAP_MOD_REPLACE: {
        char **copy = nullptr;
        if (n_new && !(copy = copy_string_list(values))) return LDAP_NO_MEMORY;
        ber_memvfree(reinterpret_cast<void **>(old));
        *field = copy;
        return LDAP_SUCCESS;
    }
    case LDAP_MOD_ADD: {
        // Entries equal to a new value go; the new values follow the rest.
        // The copies come first, so that a failure leaves the field as it was.
        BerStringListPtr next(static_cast<char **>(mem_calloc(n_old + n_new + 1, sizeof(char *))));
        if (!next) return LDAP_NO_MEMORY;
        char **list = next.get();
        for (size_t i = 0; i < n_new; ++i)
            if (!(list[i] = mem_strdup(values[i]))) return LDAP_NO_MEMORY;
        const size_t kept = drop_matching(old, n_old, values);
        std::memmove(list + kept, list, n_new * sizeof(char *));
        if (kept) std::memcpy(list, old, kept * sizeof(char *));
        list[kept + n_new] = nullptr;
        ber_memfree(old);
        if (!kept && !n_new) next.reset();  // an empty list is stored as absent
        *field = next.release();
        return LDAP_SUCCESS;
    }
    case LDAP_MOD_DELETE: {
        if (!n_new || !old) return LDAP_SUCCESS;
        const size_t n = drop_matching(old, n_old, values);
        old[n] = nullptr;
        if (!n) {
            ber_memfree(old);
            *field = nullptr;
        }
        return LDAP_SUCCESS;
    }
    default:
        return LDAP_PARAM_ERROR;
    }
}

int modify_element(LDAPSchemaElement *element, const char *field, char **values, int operation)
{
    SCHEMA_UTIL_CHECK_KIND(element->kind);
    const int op = operation & LDAP_MOD_OP;
    if (!field || (op != LDAP_MOD_ADD && op != LDAP_MOD_DELETE && op != LDAP_MOD_REPLACE)) return LDAP_PARAM_ERROR;
    void *record = element->description;
    const FieldDef *f = find_field(element->kind, field, true);
    if (!f) return extension_change(element, field, values, op);
    if (add_like(op) && !acceptable_values(*f, values)) return LDAP_PARAM_ERROR;
    switch (f->cls) {
    case FieldClass::String:
    case FieldClass::Syntax:  // the OID only; the length stays
        return edit_value(&field_ref<char *>(record, f->offset), values, op);
    case FieldClass::List:
        return edit_values(&field_ref<char **>(record, f->offset), values, op);
    case FieldClass::Flag:
        field_ref<int>(record, f->offset) = op == LDAP_MOD_DELETE ? 0 : 1;
        return LDAP_SUCCESS;
    case FieldClass::Usage: {
        static const char *const usages[] = {"userApplications", "directoryOperation", "distributedOperation",
                                             "dSAOperation"};
        int usage = LDAP_SCHEMA_USER_APPLICATIONS;
        if (op != LDAP_MOD_DELETE && values && values[0]) {
            usage = -1;
            for (int i = 0; i < 4; ++i)
                if (equal_ignoring_case(values[0], usages[i])) usage = i;
            if (usage < 0) return LDAP_PARAM_ERROR;
        }
        field_ref<int>(record, f->offset) = usage;
        return LDAP_SUCCESS;
    }
    case FieldClass::ClassKind:
        field_ref<int>(record, f->offset) = op == LDAP_MOD_DELETE ? -1 : f->value;
        return LDAP_SUCCESS;
    case FieldClass::UsageName:
        break;
    }
    return LDAP_PARAM_ERROR;
}

LDAPSchemaElement *dup_element(const LDAPSchemaElement *element)
{
    SCHEMA_UTIL_CHECK_KIND(element->kind);
    ElementPtr copy(static_cast<LDAPSchemaElement *>(mem_calloc(1, sizeof(LDAPSchemaElement))));
    if (!copy) return nullptr;
    copy->kind = element->kind;
    copy->description = schema::copy(element->kind, element->description);
    if (!copy->description) return nullptr;
    return copy.release();
}

int remove_element(LDAPSubschema *schema, const char *key, int kind)
{
    if (!schema || !key || !schema::valid_kind(kind)) return LDAP_PARAM_ERROR;
    if (!valid_handle(schema)) return LDAP_LOCAL_ERROR;
    if (!schema->element_count[kind]) return LDAP_NO_SUCH_OBJECT;
    auto *found = static_cast<LDAPSchemaElement **>(std::bsearch(
        key, schema->elements[kind], size_t(schema->element_count[kind]), sizeof(LDAPSchemaElement *),
        compare_key_to_oid));
    if (!found) return LDAP_NO_SUCH_OBJECT;
    detach_element(schema, *found);
    return LDAP_SUCCESS;
}

int add_change(LDAPSubschema *schema, const LDAPMod *change)
{
    BerStringListPtr values(copy_string_list(change->mod_values));
    if (change->mod_values && !values) return LDAP_NO_MEMORY;
    return queue_change(schema, change->mod_op, change->mod_type, std::move(values));
}

int store_update(LDAPSubschema *schema, const LDAPSchemaElement *element, int operation)
{
    SCHEMA_UTIL_CHECK_KIND(element->kind);
    BerMemPtr<char> text(schema::print(element->kind, element->description));
    BerStringListPtr values(text ? static_cast<char **>(mem_calloc(2, sizeof(char *))) : nullptr);
    if (!values) return LDAP_NO_MEMORY;
    values.get()[0] = text.release();
    return queue_change(schema, operation, schema::attribute_name(element->kind), std::move(values));
}

void free_changes(LDAPSubschema *schema)
{
    for (int i = 0; i < schema->change_count; ++i) free_change(schema->changes[i]);
    ber_memfree(schema->changes);
    schema->changes = nullptr;
    schema->change_count = schema->change_capacity = 0;
}

}  // namespace dirext::schema_util

using namespace dirext::schema_util;
namespace schema = dirext::schema;

extern "C" int ldap_schema_add(LDAPSubschema *schema, int kind, LDAPMod **attrs)
{
    if (!schema || !attrs || !schema::valid_kind(kind) || !valid_mods(attrs)) return LDAP_PARAM_ERROR;
    if (!valid_handle(schema)) return LDAP_LOCAL_ERROR;
    ElementPtr element(static_cast<LDAPSchemaElement *>(mem_calloc(1, sizeof(LDAPSchemaElement))));
    if (!element) return LDAP_NO_MEMORY;
    element->kind = kind;
    if (!(element->description = schema::create(kind))) return LDAP_NO_MEMORY;
    // Every entry adds, whatever operation it carries.
    for (LDAPMod **m = attrs; *m; ++m)
        if (int rc = modify_element(element.get(), (*m)->mod_type, (*m)->mod_values, LDAP_MOD_ADD); rc != LDAP_SUCCESS)
            return rc;
    // Without its key the element could be neither found by key nor written.
    if (!schema::key_of(element->description)) return LDAP_PARAM_ERROR;
    if (int rc = check_unique(schema, kind, element->description, nullptr, nullptr); rc != LDAP_SUCCESS) return rc;
    if (int rc = store_update(schema, element.get(), LDAP_MOD_ADD); rc != LDAP_SUCCESS) return rc;
    if (int rc = add_element(schema, element.release()); rc != LDAP_SUCCESS) {
        drop_changes(schema, 1);
        return rc;
    }
    sort_kind(schema, kind);
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_modify(LDAPSubschema *schema, const char *key, int kind, LDAPMod **changes)
{
    if (!schema || !key || !changes || !schema::valid_kind(kind) || !valid_mods(changes)) return LDAP_PARAM_ERROR;
    LDAPSchemaElement *element = nullptr;
    if (int rc = lookup(schema, key, kind, &element); rc != LDAP_SUCCESS) return rc;
    ElementPtr changed(dup_element(element));
    if (!changed) return LDAP_NO_MEMORY;
    for (LDAPMod **m = changes; *m; ++m)
        if (int rc = modify_element(changed.get(), (*m)->mod_type, (*m)->mod_values, (*m)->mod_op); rc != LDAP_SUCCESS)
            return rc;
    void *before = element->description;
    void *after = changed->description;
    if (!schema::key_of(after)) return LDAP_PARAM_ERROR;
    const bool new_key = !same_key(schema::key_of(before), schema::key_of(after));
    const bool new_names = !same_names(schema::names_of(before), schema::names_of(after));
    if (int rc = check_unique(schema, kind, after, element, before); rc != LDAP_SUCCESS) return rc;

    // The new name entries and their room come first: nothing can fail after
    // the changes are queued.
    dirext::BerStringListPtr names;
    int n_old = 0, n_new = 0;
    if (new_names) {
        for (char *const *n = schema::names_of(before); n && *n; ++n) ++n_old;
        for (char *const *n = schema::names_of(after); n && *n; ++n) ++n_new;
        names.reset(copy_string_list(const_cast<char **>(schema::names_of(after))));
        if (n_new && !names) return LDAP_NO_MEMORY;
        long wanted = long(schema->name_count[kind]) - n_old + n_new;
        if (wanted > schema->name_capacity[kind]) {
            auto *grown = static_cast<LDAPSchemaNameEntry *>(
                mem_realloc(schema->names[kind], size_t(wanted + 10) * sizeof(LDAPSchemaNameEntry)));
            if (!grown) return LDAP_NO_MEMORY;
            schema->names[kind] = grown;
            schema->name_capacity[kind] = int(wanted + 10);
        }
    }
    if (int rc = store_update(schema, element, LDAP_MOD_DELETE); rc != LDAP_SUCCESS) return rc;
    if (int rc = store_update(schema, changed.get(), LDAP_MOD_ADD); rc != LDAP_SUCCESS) {
        drop_changes(schema, 1);
        return rc;
    }

    // Commit: the element takes the changed record and releases the old one.
    element->description = after;
    changed->description = before;
    if (new_names) {
        drop_names(schema, element);
        char **copies = names.get();
        for (int i = 0; i < n_new; ++i) {
            schema->names[kind][schema->name_count[kind]++] = {element, copies[i]};
            copies[i] = nullptr;
        }
    }
    if (new_key || new_names) sort_kind(schema, kind);
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_delete(LDAPSubschema *schema, int kind, const char *key)
{
    if (!schema || !key || !schema::valid_kind(kind)) return LDAP_PARAM_ERROR;
    LDAPSchemaElement *element = nullptr;
    if (int rc = lookup(schema, key, kind, &element); rc != LDAP_SUCCESS) return rc;
    if (int rc = store_update(schema, element, LDAP_MOD_DELETE); rc != LDAP_SUCCESS) return rc;
    detach_element(schema, element);
    return LDAP_SUCCESS;
}

extern "C" int ldap_schema_save(LDAP *ld, LDAPSubschema *schema, const char *subschemaDN)
{
    if (!ld || !valid_handle(schema)) return LDAP_PARAM_ERROR;
    if (!schema->changes || schema->change_count == 0) return LDAP_SUCCESS;
    dirext::BerMemPtr<char> found;
    if (!subschemaDN) {
        char *dn = nullptr;
        if (int rc = subschema_dn(ld, &dn); rc != LDAP_SUCCESS) return rc;  // the queue stays
        found.reset(dn);
        subschemaDN = dn;
    }
    int rc = ldap_modify_ext_s(ld, subschemaDN, schema->changes, nullptr, nullptr);
    free_changes(schema);
    return rc;
}
