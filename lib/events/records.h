// One description per record kind: the fields of the body in wire order, each
// with the member it fills.  The decoding frame runs the description, and
// ldap_event_free walks the same description to release what a record owns,
// so the two cannot drift apart.
#pragma once

#include "events/ber_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace dirext::events {

enum class Op : uint8_t {
    Int,          // one INTEGER (any tag, as liblber's "i") into int32 `at`
    String,       // required string with `tag` into char* `at`
    Triple,       // "{iii}" into EventTriple `at`
    Connection,   // connection block into ConnectionData* `at`
    List,         // string list into char** `at`, read whenever bytes remain
    TaggedList,   // string list into char** `at`, only behind `tag`
    TaggedInt,    // INTEGER into int32 `at`, only when the next tag is `tag`
    OptionalData, // OCTET STRING behind `tag` (absent otherwise) into char* `at`, length in `at2`
    Data,         // required OCTET STRING: char* `at`, its length in int32 `at2`
    Referrals,    // referral list: ReferralAddress* `at`, count in int32 `at2`
    IntGroup,     // up to four INTEGERs inside `tag` into int32[4] `at`
    StringGroup,  // up to four OCTET STRINGs inside `tag` into char*[4] `at`
    Text,         // inline text: `min`..`size`-1 bytes into char[size] `at`
    ConfigValue,  // the configuration-change value slot (ChangeConfigParamData)
    DebugParams,  // the debug parameter list (DebugEventData)
};

constexpr uint16_t kNoMember = 0xffff;

struct Field {
    Op op;
    ber_tag_t tag = 0;
    uint16_t at = 0;
    uint16_t at2 = kNoMember;
    uint8_t min = 0;
    uint16_t size = 0;
};

struct Record {
    long kind = 0;
    const char *name = nullptr;
    std::size_t size = 0;
    std::span<const Field> fields;
    bool trailing_address = true;  // false: no record, nothing read (skulk)
};

// The member a field names, inside a record.
template <typename T>
T &member(void *record, uint16_t at)
{
    return *reinterpret_cast<T *>(static_cast<char *>(record) + at);
}

// The description of `kind`, or null when the kind has no record to decode.
const Record *record_for(long kind);

// Releases what the record at `record` owns by its description (not the block).
void release_members(const Record &desc, void *record);

// The library's own entry points behind the exported allocEventData,
// ldap_event_free and free* functions, which are thin wrappers over them.
// Code inside the library calls these, never the exported names, which
// another definition in the process could stand in for.
void *allocate_record(std::size_t size, long kind);  // records.cc
void free_record(void *record);
void free_string_list(char **list);  // readers.cc
void free_referral_list(int count, ReferralAddress *list);
void free_connection_data(ConnectionData *block);

// Runs the common decoder frame: allocates the record, reads its fields,
// then the trailing address.  Does not touch a handle.  Instantiated for
// LberReader and SpanReader.
template <typename R>
int decode(const Record &desc, R &ber, void **out, NetAddrEventData **address);

// A notification value: reads the head into *eventType and *eventResult and,
// when eventData is given, the body into a record (and the trailing address).
// The caller releases *eventData on failure.  Does not touch a handle.
// Instantiated for SpanReader (the library's path) and LberReader (what the
// fuzz targets compare it with).
template <typename R>
int read_event(R &value, int *eventType, int *eventResult, void **eventData, NetAddrEventData **address);

// read_event over the value's bytes with a SpanReader; nothing behind them
// is read.
int parse_event_value(struct berval *value, int *eventType, int *eventResult, void **eventData,
                      NetAddrEventData **address);

// The registration list of a final response value, from its head on.
int read_registrations(BerElement *ber, int *specCount, EventSpecifier **specList);

}  // namespace dirext::events
