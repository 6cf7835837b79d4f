// Runs one body decoder over bytes in memory and owns what it delivered.
#pragma once

#include <dirext.h>

#include <memory>
#include <string>

namespace events_test {

using Decoder = int (*)(LDAP *, BerElement *, void **, NetAddrEventData **);

// The exported decoder for a body tag (null for tags without one).
Decoder decoder_for(int tag);

struct BerFree {
    void operator()(BerElement *ber) const { ber_free(ber, 1); }
};
using Ber = std::unique_ptr<BerElement, BerFree>;

// A decoder over an exact-size copy of `bytes`.
Ber reader(const std::string &bytes);

struct Decoded {
    int rc = 0;
    void *record = nullptr;
    NetAddrEventData *address = nullptr;
    std::string rest;  // bytes the decoder left unread

    Decoded() = default;
    Decoded(const Decoded &) = delete;
    Decoded &operator=(const Decoded &) = delete;
    ~Decoded()
    {
        ldap_event_free(record);
        ldap_event_free(address);
    }
};

// Decodes a body's contents (behind its tag) with the decoder for `tag`.
void decode(int tag, const std::string &contents, Decoded &out, LDAP *ld = nullptr);

// A handle that never connects, for reading back LDAP_OPT_RESULT_CODE.
struct Handle {
    LDAP *ld = nullptr;
    Handle();
    ~Handle();
    int result_code() const;
    void set_result_code(int code);
};

// Makes the Nth allocation of the library fail (0: none fail); counts them.
void fail_allocation(int n);
int allocations_seen();

}  // namespace events_test
