// dirext load's LDIF reader, from arbitrary bytes: it must end, at the end of
// the text or at a reported error, with records in the order of their lines.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ldif_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    // A ":<" value names a file to read: a fuzzer could name one that never ends.
    if (text.find(":<") != std::string_view::npos) return 0;
    dirext_cli::bulk::LdifRecords records(text);
    long previous = 0;
    while (auto record = records.next()) {
        if (record->line <= previous) __builtin_trap();
        if (record->dn.empty() && record->kind != dirext_cli::bulk::ChangeKind::add) __builtin_trap();
        previous = record->line;
    }
    if (const auto &error = records.error())
        if (error->line < 1 || error->message.empty()) __builtin_trap();
    return 0;
}
