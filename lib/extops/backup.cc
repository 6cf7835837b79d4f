// Object backup and restore.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/alloc.h"
#include "core/ber_seam.h"
#include "extops/codecs.h"
#include "extops/runner.h"
#include "extops/text.h"

namespace dirext::extops {
namespace {

constexpr int kLargestBackup = 2147483646;
constexpr std::size_t kChunkListStart = 512;

// A decimal int at *cursor, optionally signed; advances past it.
bool read_int(const char *&cursor, int &value)
{
    const char *start = cursor;
    if (*start == '-') ++start;
    if (*start < '0' || *start > '9') return false;
    char *end = nullptr;
    errno = 0;
    long parsed = std::strtol(cursor, &end, 10);
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    value = static_cast<int>(parsed);
    cursor = end;
    return true;
}

}  // namespace

ber_tag_t read_any_element(BerElement *ber, char **buffer, ber_len_t *length)
{
    *buffer = nullptr;
    berval contents{};
    // Peek first: liblber faults on a decoder over no bytes.  Stepping over
    // the element whole (not ber_skip_tag + ber_read) keeps liblber's cached
    // tag of the next element in step with its position, so that whatever
    // is read next starts at the right byte whatever the content's first byte.
    if (ber_peek_tag(ber, &contents.bv_len) == LBER_DEFAULT) return LBER_ERROR;
    const ber_tag_t tag = ber_skip_element(ber, &contents);
    if (tag == LBER_DEFAULT) return LBER_ERROR;
    char *copy = static_cast<char *>(lber::memalloc(contents.bv_len + 1));
    if (!copy) return LBER_ERROR;
    if (contents.bv_len > 0) std::memcpy(copy, contents.bv_val, contents.bv_len);
    copy[contents.bv_len] = '\0';
    *buffer = copy;
    if (length) *length = contents.bv_len;
    return tag;
}

bool parse_backup_state(const char *text, int &first, int &second)
{
    const char *cursor = text;
    if (!read_int(cursor, first) || *cursor++ != '+') return false;
    if (!read_int(cursor, second) || *cursor != '\0') return false;
    return first != 0 && second != 0;
}

int decode_backup(BerElement *ber, BackupResponse &out)
{
    int size = 0, first = 0, second = 0, count = 0;
    if (!scan_fields(ber, "iii", &size, &first, &second)) return LDAP_DECODING_ERROR;
    char *raw = nullptr;
    ber_len_t element_length = 0;
    // Once the element is known to be whole, only memory can fail its copy.
    if (ber_peek_tag(ber, &element_length) == LBER_DEFAULT) return LDAP_DECODING_ERROR;
    if (read_any_element(ber, &raw, &element_length) == LBER_ERROR) return LDAP_NO_MEMORY;
    BerMemPtr<char> element(raw);
    if (!scan_fields(ber, "{i[", &count)) return LDAP_DECODING_ERROR;

    Text chunks;
    if (!chunks.reserve(kChunkListStart) || !chunks.append_int(count, ';')) return LDAP_NO_MEMORY;
    for (int i = 0; i < count; ++i) {
        int chunk = 0;
        if (!scan_fields(ber, "{i}", &chunk)) return LDAP_DECODING_ERROR;
        if (!chunks.append_int(chunk, ';')) return LDAP_NO_MEMORY;
    }

    if (size < 1 || size > kLargestBackup || static_cast<ber_len_t>(size) > element_length)
        return LDAP_DECODING_ERROR;
    MallocPtr<char> data(static_cast<char *>(alloc(static_cast<std::size_t>(size))));
    MallocPtr<char> state(static_cast<char *>(alloc(24)));
    if (!data || !state) return LDAP_NO_MEMORY;
    std::memcpy(data.get(), element.get(), static_cast<std::size_t>(size));
    std::snprintf(state.get(), 24, "%d+%d", first, second);

    out.size = size;
    out.data = std::move(data);
    out.chunk_list = chunks.release();
    out.state = std::move(state);
    return LDAP_SUCCESS;
}

int encode_chunk_list(BerElement *ber, const char *chunk_list)
{
    const char *cursor = chunk_list;
    bool first = true;
    while (*cursor) {
        int number = 0;
        if (!read_int(cursor, number) || (*cursor != ';' && *cursor != '\0')) return LDAP_PARAM_ERROR;
        if (*cursor == ';') ++cursor;
        if (ber_printf(ber, first ? "{i[" : "{i}", number) == -1) return LDAP_ENCODING_ERROR;
        first = false;
    }
    if (first) return LDAP_PARAM_ERROR;  // not a single number
    return ber_printf(ber, "]}") == -1 ? LDAP_ENCODING_ERROR : LDAP_SUCCESS;
}

}  // namespace dirext::extops

using namespace dirext::extops;

extern "C" {

ber_tag_t get_returnedBuffer(BerElement *ber, char **buffer)
{
    if (!buffer) return LBER_ERROR;
    *buffer = nullptr;
    if (!ber) return LBER_ERROR;
    return read_any_element(ber, buffer, nullptr);
}

int ldap_backup_object(LDAP *ld, const char *dn, const char *extra, char **state, char **data, char **chunkList,
                       int *size)
{
    if (!ld || !dn || !state || !data || !chunkList || !size) return LDAP_PARAM_ERROR;
    int first = 0, second = 0;
    if (*state && !parse_backup_state(*state, first, second)) return LDAP_ENCODING_ERROR;

    BackupResponse response;
    int rc = call<Op::BackupObject>(
        ld, [&response](BerElement *ber) { return decode_backup(ber, response); }, dn, first, second,
        extra ? extra : "");
    if (rc != LDAP_SUCCESS) return rc;
    *size = response.size;
    *data = response.data.release();
    *chunkList = response.chunk_list.release();
    std::free(*state);
    *state = response.state.release();
    return LDAP_SUCCESS;
}

int ldap_restore_object(LDAP *ld, const char *dn, const char *extra, const char *data, const char *chunkList,
                        int size)
{
    if (!ld || !dn || !data || !chunkList || size < 0) return LDAP_PARAM_ERROR;
    return run(
        ld, operation(Op::RestoreObject),
        [=](BerElement *ber) {
            if (int rc = print<Op::RestoreObject>(ber, dn, extra ? extra : "", size)) return rc;
            if (ber_printf(ber, "o", data, static_cast<ber_len_t>(size)) == -1) return LDAP_ENCODING_ERROR;
            return encode_chunk_list(ber, chunkList);
        },
        nullptr);
}

}  // extern "C"
