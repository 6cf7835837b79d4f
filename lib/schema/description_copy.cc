// Deep copies of description records, allocated as the parser allocates them.
#include "schema/description_parts.h"

#include <cstring>
#include <utility>

namespace dirext::schema {

using namespace detail;

namespace {

// Every pointer the clause table names, nulled, so that a copy that fails
// half-way releases only what it copied.
void clear_pointers(const Kind &k, void *out)
{
    key_of(out) = nullptr;
    member<LDAPSchemaExtensionItem **>(out, k.extensions) = nullptr;
    for (size_t i = 0; i < k.clause_count; ++i) {
        const Clause &c = k.clauses[i];
        if (c.field != Field::Flag && c.field != Field::ClassKind && c.field != Field::Usage)
            member<void *>(out, c.offset) = nullptr;
    }
}

bool copy_clause(const Clause &c, const void *record, void *out)
{
    switch (c.field) {
    case Field::Names:
    case Field::Oids:
    case Field::RuleIds:
        if (char *const *list = member<char **>(record, c.offset))
            return (member<char **>(out, c.offset) = dup_list(list)) != nullptr;
        return true;
    case Field::Desc:
    case Field::Woid:
    case Field::NumericOid:
    case Field::NoidLen:
        if (const char *s = member<char *>(record, c.offset))
            return (member<char *>(out, c.offset) = dup_str(s)) != nullptr;
        return true;
    default:
        return true;
    }
}

bool copy_extensions(LDAPSchemaExtensionItem *const *extensions, LDAPSchemaExtensionItem **&copied)
{
    size_t count = 0;
    if (!(copied = static_cast<LDAPSchemaExtensionItem **>(mem_calloc(1, sizeof *copied)))) return false;
    for (auto *const *e = extensions; *e; ++e) {
        BerMemPtr<char> name(dup_str((*e)->lsei_name));
        BerStringListPtr values((*e)->lsei_values ? dup_list((*e)->lsei_values) : nullptr);
        if (!name || ((*e)->lsei_values && !values)) return false;
        if (!append_extension(&copied, count, std::move(name), std::move(values))) return false;
    }
    return true;
}

struct RecordFree {
    int kind;
    void operator()(void *record) const { release(kind, record); }
};

}  // namespace

void *copy(int kind, const void *record)
{
    if (!record) return nullptr;
    const Kind &k = kKinds[kind];
    std::unique_ptr<void, RecordFree> out(create(kind), RecordFree{kind});
    if (!out) return nullptr;
    // Scalars first, then every pointer replaced by a copy.
    std::memcpy(out.get(), record, k.size);
    clear_pointers(k, out.get());
    if (key_of(record) && !(key_of(out.get()) = dup_str(key_of(record)))) return nullptr;
    for (size_t i = 0; i < k.clause_count; ++i)
        if (!copy_clause(k.clauses[i], record, out.get())) return nullptr;
    if (auto *const *extensions = member<LDAPSchemaExtensionItem **>(record, k.extensions))
        if (!copy_extensions(extensions, member<LDAPSchemaExtensionItem **>(out.get(), k.extensions)))
            return nullptr;
    return out.release();
}

}  // namespace dirext::schema
