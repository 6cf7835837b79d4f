// parseDirectiveList over arbitrary bytes: no crash, no leak, and a list
// whose lengths agree with its strings.
#include <dirext.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DigestDirective *list = nullptr;
    int pos = 0;
    const int rc = parseDirectiveList(reinterpret_cast<const char *>(data), size, &list, &pos);
    if (rc != 0 && (list != nullptr || pos >= static_cast<int>(size))) std::abort();
    for (const DigestDirective *d = list; d; d = d->next) {
        if (!d->name[0] || d->length < 0 || static_cast<size_t>(d->length) > size) std::abort();
        if (d->value[d->length] != '\0') std::abort();
        if (d->kind != DIGEST_VALUE_QUOTED && d->kind != DIGEST_VALUE_TOKEN) std::abort();
    }
    freeParsedDirectives(list);
    return 0;
}
