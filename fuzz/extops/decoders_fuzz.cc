// Fuzz target: the decoders of server answers (replica information and list,
// privileges of a list of attributes, replication filter, backup, returned
// strings) all read the same bytes; none may crash, leak or break its
// promises about the outputs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (auto ber = decoder(data, size)) {
        ReplicaInfo info;
        std::memset(&info, 'x', sizeof info);
        if (decode_replica_info(ber.get(), &info) == 0) check(std::memchr(info.dn, '\0', sizeof info.dn) != nullptr);
    }
    if (auto ber = decoder(data, size)) {
        char **names = nullptr;
        if (decode_replica_list(ber.get(), &names) == 0) {
            for (char **n = names; n && *n; ++n) check(std::strlen(*n) < size);
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
        }
    }
    if (auto ber = decoder(data, size)) {
        char *text = nullptr;
        if (decode_returned_string(ber.get(), true, &text) == 0) check(std::strlen(text) <= 771);
        std::free(text);
    }
    return 0;
}
