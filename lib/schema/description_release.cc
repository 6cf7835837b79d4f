// Releasing description records: every string and list the clause table
// names, the extensions, and the record.
#include "schema/description_parts.h"

namespace dirext::schema {

namespace detail {

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

}  // namespace detail

using namespace detail;

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

}  // namespace dirext::schema
