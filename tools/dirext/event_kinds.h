// The event records member by member: where each member is, how it is held
// and the name dirext prints it under, so that one printer serves every kind.
#pragma once

#include <dirext.h>

#include <cstddef>
#include <span>

namespace dirext_cli {

// How a record member is held, and so how it is written.
enum class Member {
    kInt,         // int32_t
    kString,      // char *, NULL when absent
    kText,        // char[], NUL-terminated
    kBytes,       // char[] with its int32_t length at `count`
    kTriple,      // EventTriple
    kList,        // char **, NULL-terminated, NULL when absent
    kData,        // char * with its int32_t length at `count`: written as hex
    kConnection,  // ConnectionData *: connection, message_id, bound_dn
    kOperation,   // int32_t LDAP request tag, written as the operation's name
    kInts4,       // int32_t[4]
    kStrings4,    // char *[4]
    kReferrals,   // ReferralAddress * with its int32_t count at `count`
    kParams,      // DebugParameter * with its int32_t count at `count`
};

struct MemberRow {
    const char *name;
    Member type;
    size_t offset;
    bool main = true;  // also on the text line (the JSON line has every member)
    size_t count = 0;
};

struct KindRow {
    long kind;
    const char *name;  // the kind's name in the output
    std::span<const MemberRow> members;
};

// The row of a record's kind; nullptr for no record or a kind without one.
const KindRow *event_kind(const void *record);

// The bytes of a network-address record (NetAddrEventData), as a member.
extern const MemberRow kAddressBytes;

}  // namespace dirext_cli
