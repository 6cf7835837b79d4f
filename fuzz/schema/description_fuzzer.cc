// Fuzz target for one kind's description parser (DIREXT_SCHEMA_KIND): any
// input either fails with a parse code and a position inside the text, or
// gives a record whose printed form parses back to the same record and prints
// the same again (unless the word-as-OID rule, which looks at what follows
// the word, no longer finds its "-oid" after printing).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "schema/descriptions.h"

namespace {

namespace schema = dirext::schema;

void check(bool condition)
{
    if (!condition) std::abort();
}

struct Text {
    char *s;
    ~Text() { ber_memfree(s); }
};

void run(const std::string &text, unsigned flags)
{
    const int kind = DIREXT_SCHEMA_KIND;
    int code = -1;
    const char *errp = nullptr;
    void *record = schema::parse(kind, text.c_str(), &code, &errp, flags);
    if (!record) {
        check(code >= 1 && code <= 10);
        check(errp >= text.c_str() && errp <= text.c_str() + std::strlen(text.c_str()));
        return;
    }
    check(code == 0);
    Text printed{schema::print(kind, record)};
    check(printed.s != nullptr);
    void *again = schema::parse(kind, printed.s, &code, &errp, flags);
    if (!again) {
        // The one refusal a printed record may meet: a word taken as an OID
        // because "-oid" stood later in the description (inside a quoted
        // NAME or DESC, say) that the printer writes before the word.
        check(code == schema::kParseNoDigit && std::strstr(text.c_str(), "-oid") != nullptr);
        check(errp >= printed.s && std::strstr(errp, "-oid") == nullptr);
        schema::release(kind, record);
        return;
    }
    Text reprinted{schema::print(kind, again)};
    check(reprinted.s && std::strcmp(printed.s, reprinted.s) == 0);
    void *copied = schema::copy(kind, again);
    Text copy_printed{schema::print(kind, copied)};
    check(copy_printed.s && std::strcmp(printed.s, copy_printed.s) == 0);
    schema::release(kind, copied);
    schema::release(kind, again);
    schema::release(kind, record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);  // parsers read up to the first NUL
    for (unsigned flags : {0u, 15u, 31u}) run(text, flags);
    return 0;
}
