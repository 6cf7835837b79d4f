// Every member of an event record, in declaration order, as one line of text,
// written out by hand per record so that tests compare exact members.
#pragma once

#include <dirext.h>

#include <string>

namespace events_test {

// "<Record> member=value ..."; strings quoted with \xNN escapes, null as null.
std::string dump(const void *record);

std::string quote(const char *s);
std::string quote(const char *s, std::size_t n);

}  // namespace events_test
