// The printer of schema descriptions: a record as the text the parser reads
// back.  Quoted strings escape ' and \ as \27 and \5C.
#include "schema/description_parts.h"

#include <cstdio>
#include <cstring>

namespace dirext::schema {

using namespace detail;

namespace {

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

}  // namespace dirext::schema
