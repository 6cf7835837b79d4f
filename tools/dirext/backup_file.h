// The backup file: one object's backup data as `dirext backup` writes it and
// `dirext restore` reads it back.
//
// Layout, version 1, byte for byte (text lines end in a single \n):
//
//   dirext-backup 1\n                  magic word and format version
//   state <n>+<m>\n                    continuation state, two decimal numbers
//   chunks <count>;<c1>;...;<cN>;\n    chunk list: count, then count numbers
//   size <bytes>\n                     data length, decimal, 1 to 2147483646
//   <data>\n                           exactly <bytes> bytes, then a line break
//   sha256 <64 lower-case hex digits>\n
//
// The checksum is the SHA-256 of every byte before the "sha256" line (from
// the magic word to the line break after the data).  Nothing follows the
// checksum line.  Numbers are plain decimal digits: no sign, no blanks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dirext_cli {

struct Backup {
    std::string state;       // "n+m"
    std::string chunk_list;  // "count;c1;...;"
    std::string data;
};

std::string encode_backup(const Backup &backup);

// Whether the start of a file (its first bytes, at least the magic line's
// worth when the file has that many) can begin a backup file; why not.
std::optional<std::string> check_backup_start(std::string_view start);

// The backup that the bytes of a file hold, or why they are refused.
std::optional<std::string> decode_backup(std::string_view bytes, Backup &out);

}  // namespace dirext_cli
