// A decoded event as the fields `dirext events` prints, in order, each
// already written as JSON and as text.
//
// Every line starts with type, result and kind (the record's kind name, null
// when the notification carried no record).  The record's members follow:
// members whose meaning the server's operation events make plain have names
// that say it (dn, attributes, bound_dn ...); the others keep the record's
// own member names (string1, integer2 ...).  The notification's network
// address, when it carries one, ends the line as address_type and address.
#pragma once

#include <dirext.h>

#include <optional>
#include <string>
#include <vector>

namespace dirext_cli {

struct EventField {
    std::string name;
    std::string json;                 // the value as JSON (null when absent)
    std::optional<std::string> text;  // the value on the text line; nullopt: not shown there
};

std::vector<EventField> event_fields(int type, int result, const void *record, const NetAddrEventData *address);

// One line on standard output, flushed: a JSON object, or name=value pairs.
void print_event(const std::vector<EventField> &fields, bool json);

}  // namespace dirext_cli
