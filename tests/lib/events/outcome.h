// What reading one whole notification value gave, for comparing the inline
// reader with liblber (the tests and the notification fuzz target).
#pragma once

#include <ostream>
#include <string>

#include "dump.h"
#include "events/records.h"

namespace events_test {

struct Outcome {
    int rc = 0, type = 0, result = 0;
    std::string record, address;  // dump()s
    bool address_after_failure = false;
    bool operator==(const Outcome &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Outcome &o)
{
    return os << "rc=" << o.rc << " type=" << o.type << " result=" << o.result << " " << o.record << " / "
              << o.address;
}

template <typename R>
Outcome read_through(R &reader)
{
    Outcome o;
    void *record = nullptr;
    NetAddrEventData *address = nullptr;
    o.rc = dirext::events::read_event(reader, &o.type, &o.result, &record, &address);
    o.address_after_failure = o.rc != LDAP_SUCCESS && address;
    o.record = dump(record);
    o.address = dump(address);
    ldap_event_free(record);
    ldap_event_free(address);
    return o;
}

}  // namespace events_test
