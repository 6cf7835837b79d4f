#include "backup_file.h"

#include <openssl/evp.h>

#include <charconv>
#include <cstdio>

namespace dirext_cli {
namespace {

constexpr std::string_view kMagic = "dirext-backup ";
constexpr std::string_view kVersion = "1";
constexpr std::string_view kChecksumWord = "sha256 ";
constexpr size_t kChecksumLine = kChecksumWord.size() + 64 + 1;
constexpr long long kMaxSize = 2147483646;

std::string sha256_hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr)) return {};
    std::string hex;
    char pair[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

bool all_digits(std::string_view s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<long long> number(std::string_view s)
{
    long long value = 0;
    if (!all_digits(s)) return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// Reads "<word><rest>\n" at the front of in, leaving in after it.
std::optional<std::string_view> line(std::string_view &in, std::string_view word)
{
    size_t end = in.find('\n');
    if (in.substr(0, word.size()) != word || end == std::string_view::npos) return std::nullopt;
    std::string_view rest = in.substr(word.size(), end - word.size());
    in.remove_prefix(end + 1);
    return rest;
}

bool valid_state(std::string_view s)
{
    size_t plus = s.find('+');
    return plus != std::string_view::npos && all_digits(s.substr(0, plus)) && all_digits(s.substr(plus + 1));
}

// "count;c1;...;" with exactly count numbers after the count.
bool valid_chunk_list(std::string_view s)
{
    long long numbers = -1, count = 0;
    while (!s.empty()) {
        size_t semicolon = s.find(';');
        if (semicolon == std::string_view::npos) return false;
        auto n = number(s.substr(0, semicolon));
        if (!n) return false;
        if (numbers < 0) count = *n;
        ++numbers;
        s.remove_prefix(semicolon + 1);
    }
    return numbers >= 0 && numbers == count;
}

std::optional<std::string> malformed(const char *what) { return std::string("malformed backup file: ") + what; }

}  // namespace

std::string encode_backup(const Backup &b)
{
    std::string out = std::string(kMagic) + std::string(kVersion) + "\nstate " + b.state + "\nchunks " +
                      b.chunk_list + "\nsize " + std::to_string(b.data.size()) + "\n" + b.data + "\n";
    return out + std::string(kChecksumWord) + sha256_hex(out) + "\n";
}

std::optional<std::string> check_backup_start(std::string_view start)
{
    if (start.empty()) return std::string("the file is empty");
    size_t end = start.find('\n');
    std::string_view first = start.substr(0, end);
    if (first.substr(0, kMagic.size()) != kMagic || !all_digits(first.substr(kMagic.size()))) {
        std::string magic_line = std::string(kMagic) + std::string(kVersion) + "\n";
        if (end == std::string_view::npos && magic_line.starts_with(start)) return std::string("the file is truncated");
        return std::string("not a dirext backup file");
    }
    if (end == std::string_view::npos) return std::string("the file is truncated");
    std::string_view version = first.substr(kMagic.size());
    if (version != kVersion)
        return "backup format version " + std::string(version) + " is not supported (this dirext reads version " +
               std::string(kVersion) + ")";
    return std::nullopt;
}

std::optional<std::string> decode_backup(std::string_view bytes, Backup &out)
{
    if (auto error = check_backup_start(bytes.substr(0, 64))) return error;
    if (bytes.size() < kChecksumLine || bytes.back() != '\n' ||
        bytes.substr(bytes.size() - kChecksumLine, kChecksumWord.size()) != kChecksumWord)
        return std::string("the file is truncated or damaged: it does not end in its checksum line");
    std::string_view body = bytes.substr(0, bytes.size() - kChecksumLine);
    std::string_view checksum = bytes.substr(body.size() + kChecksumWord.size(), 64);
    if (checksum != sha256_hex(body)) return std::string("checksum mismatch: the file is damaged or was altered");

    std::string_view in = body;
    line(in, kMagic);
    auto state = line(in, "state ");
    auto chunks = line(in, "chunks ");
    auto size_text = line(in, "size ");
    if (!state || !valid_state(*state)) return malformed("bad state line");
    if (!chunks || !valid_chunk_list(*chunks)) return malformed("bad chunks line");
    auto size = size_text ? number(*size_text) : std::nullopt;
    if (!size || *size < 1 || *size > kMaxSize) return malformed("bad size line");
    if (in.size() != static_cast<unsigned long long>(*size) + 1 || in.back() != '\n')
        return malformed("the data does not have the size given");
    out = {std::string(*state), std::string(*chunks), std::string(in.substr(0, in.size() - 1))};
    return std::nullopt;
}

}  // namespace dirext_cli
