// The backup file reader, from arbitrary bytes.  What it accepts, written
// again, must read back to the same state, chunk list and data.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "backup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    dirext_cli::Backup first;
    if (dirext_cli::decode_backup(bytes, first)) return 0;
    const std::string again = dirext_cli::encode_backup(first);
    dirext_cli::Backup second;
    if (dirext_cli::decode_backup(again, second)) __builtin_trap();
    if (second.state != first.state || second.chunk_list != first.chunk_list || second.data != first.data)
        __builtin_trap();
    return 0;
}
