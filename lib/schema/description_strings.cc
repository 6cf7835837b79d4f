// The strings and string lists of parsed and copied descriptions.
#include "schema/description_parts.h"

#include <cstring>

namespace dirext::schema::detail {

char *dup_span(const char *begin, size_t n)
{
    char *s = static_cast<char *>(mem_alloc(n + 1));
    if (!s) return nullptr;
    std::memcpy(s, begin, n);
    s[n] = '\0';
    return s;
}

char *dup_str(const char *s) { return s ? dup_span(s, std::strlen(s)) : nullptr; }

namespace {
int hex_value(unsigned char c)
{
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

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

bool StringList::push(char *s)
{
    BerMemPtr<char> owned(s);
    if (!owned) return false;
    if (count_ + 1 >= capacity_) {
        size_t grown = capacity_ ? capacity_ * 2 : 4;
        auto **items = static_cast<char **>(mem_realloc(items_, grown * sizeof(char *)));
        if (!items) return false;
        items_ = items;
        capacity_ = grown;
    }
    items_[count_++] = owned.release();
    items_[count_] = nullptr;
    return true;
}

bool StringList::ensure_array()
{
    if (items_) return true;
    items_ = static_cast<char **>(mem_calloc(1, sizeof(char *)));
    capacity_ = items_ ? 1 : 0;
    return items_ != nullptr;
}

char **StringList::take()
{
    char **items = items_;
    items_ = nullptr;
    count_ = capacity_ = 0;
    return items;
}

char **dup_list(char *const *list)
{
    if (!list) return nullptr;
    StringList out;
    if (!out.ensure_array()) return nullptr;
    for (; *list; ++list)
        if (!out.push(dup_str(*list))) return nullptr;
    return out.take();
}

bool append_extension(LDAPSchemaExtensionItem ***extensions, size_t &count, BerMemPtr<char> name,
                      BerStringListPtr values)
{
    BerMemPtr<LDAPSchemaExtensionItem> item(
        static_cast<LDAPSchemaExtensionItem *>(mem_calloc(1, sizeof(LDAPSchemaExtensionItem))));
    auto **grown = item ? static_cast<LDAPSchemaExtensionItem **>(
                              mem_realloc(*extensions, (count + 2) * sizeof(LDAPSchemaExtensionItem *)))
                        : nullptr;
    if (!grown) return false;
    item->lsei_name = name.release();
    item->lsei_values = values.release();
    grown[count++] = item.release();
    grown[count] = nullptr;
    *extensions = grown;
    return true;
}

}  // namespace dirext::schema::detail
