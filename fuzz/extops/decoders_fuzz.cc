// Fuzz target: the decoders of server answers (replica information and list,
// privileges of a list of attributes, replication filter, backup, returned
// strings) all read the same bytes; none may crash, leak or break its
// promises about the outputs.  What a decoder accepts, written again with
// liblber in the shape the decoder reads, must decode to the same outputs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/handles.h"
#include "extops/codecs.h"

using namespace dirext::extops;

namespace {

void check(bool ok)
{
    if (!ok) __builtin_trap();
}

// A fresh decoder over the input for each decoder.
dirext::BerPtr decoder(const uint8_t *data, size_t size)
{
    static char empty[1];
    struct berval value = {size, size ? reinterpret_cast<char *>(const_cast<uint8_t *>(data)) : empty};
    return dirext::BerPtr(ber_init(&value));
}

// A decoder over what an encoder holds.
dirext::BerPtr reread(BerElement *e)
{
    struct berval *flat = nullptr;
    check(ber_flatten(e, &flat) == 0);
    dirext::BerPtr d(ber_init(flat));
    ber_bvfree(flat);
    check(d != nullptr);
    return d;
}

// The elements `format` writes, as a fresh decoder over them.
template <typename... A>
dirext::BerPtr rewritten(const char *format, A... args)
{
    dirext::BerPtr e(ber_alloc_t(LBER_USE_DER));
    check(e && ber_printf(e.get(), format, args...) != -1);
    return reread(e.get());
}

bool same(char **a, char **b)
{
    for (; a && *a; ++a, ++b)
        if (!b || !*b || std::strcmp(*a, *b) != 0) return false;
    return !b || !*b;
}

// The numbers of a chunk list "count;n1;...;", the count included.
std::vector<int> numbers(const char *text)
{
    std::vector<int> out;
    for (char *end = nullptr; *text; text = end + 1) {
        out.push_back(static_cast<int>(std::strtol(text, &end, 10)));
        check(*end == ';');
    }
    return out;
}

void backup_again(const BackupResponse &first)
{
    int state[2] = {0, 0};
    check(std::sscanf(first.state.get(), "%d+%d", &state[0], &state[1]) == 2);
    std::vector<int> chunks = numbers(first.chunk_list.get());
    dirext::BerPtr e(ber_alloc_t(LBER_USE_DER));
    ber_printf(e.get(), "iiio{i[", first.size, state[0], state[1], first.data.get(),
               static_cast<ber_len_t>(first.size), chunks.at(0));
    for (std::size_t k = 1; k < chunks.size(); ++k) ber_printf(e.get(), "{i}", chunks[k]);
    check(ber_printf(e.get(), "]}") != -1);
    BackupResponse again;
    check(decode_backup(reread(e.get()).get(), again) == 0 && again.size == first.size);
    check(std::memcmp(again.data.get(), first.data.get(), static_cast<size_t>(first.size)) == 0);
    check(std::strcmp(again.chunk_list.get(), first.chunk_list.get()) == 0);
    check(std::strcmp(again.state.get(), first.state.get()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (auto ber = decoder(data, size)) {
        ReplicaInfo info;
        std::memset(&info, 'x', sizeof info);
        if (decode_replica_info(ber.get(), &info) == 0) {
            check(std::memchr(info.dn, '\0', sizeof info.dn) != nullptr);
            ReplicaInfo again;
            std::memset(&again, 'y', sizeof again);
            auto d = rewritten("iiiiisii", info.leadingValue1, info.leadingValue2, info.leadingValue3,
                               info.leadingValue4, info.leadingValue5, info.dn, info.trailingValue1,
                               info.trailingValue2);
            check(decode_replica_info(d.get(), &again) == 0);
            check(std::memcmp(&again, &info, offsetof(ReplicaInfo, dn)) == 0);
            check(std::strcmp(again.dn, info.dn) == 0);
            check(again.trailingValue1 == info.trailingValue1 && again.trailingValue2 == info.trailingValue2);
        }
    }
    if (auto ber = decoder(data, size)) {
        char **names = nullptr;
        if (decode_replica_list(ber.get(), &names) == 0) {
            for (char **n = names; n && *n; ++n) check(std::strlen(*n) < size);
            char *none[] = {nullptr};
            char **again = nullptr;
            check(decode_replica_list(rewritten("{v}", names ? names : none).get(), &again) == 0);
            check(same(names, again));
            ldap_value_free(again);
            ldap_value_free(names);
        }
    }
    if (auto ber = decoder(data, size)) {
        int slots[3] = {-1, -1, -1};
        decode_privileges(ber.get(), slots, 2);
        check(slots[2] == -1);  // never beyond the slots given
    }
    if (auto ber = decoder(data, size)) {
        char *text = nullptr;
        int rc = decode_replication_filter(ber.get(), &text);
        if (text) check(std::strlen(text) < size + 2);  // within the buffer sized from the value
        if (rc == 0) check(text != nullptr);
        std::free(text);
    }
    if (auto ber = decoder(data, size)) {
        BackupResponse backup;
        if (decode_backup(ber.get(), backup) == 0) {
            check(backup.size >= 1 && static_cast<size_t>(backup.size) < size);
            check(backup.data && backup.chunk_list && backup.state);
            check(std::strchr(backup.state.get(), '+') != nullptr);
            backup_again(backup);
        }
    }
    if (auto ber = decoder(data, size)) {
        char *text = nullptr;
        if (decode_returned_string(ber.get(), true, &text) == 0) {
            check(std::strlen(text) <= 771);
            char *again = nullptr;
            check(decode_returned_string(rewritten("s", text).get(), true, &again) == 0);
            check(std::strcmp(again, text) == 0);
            std::free(again);
        }
        std::free(text);
    }
    return 0;
}
