// LDIF records as the changes they ask for: entries to add (records without
// a changetype, or "changetype: add"), deletes, modifies and modrdn/moddn,
// each with its controls and the line it starts on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ldif_text.h"

namespace dirext_cli::bulk {

// The operation kinds, as the LDAP protocol-operation tags.
enum class ChangeKind { add = 0x68, remove = 0x4a, modify = 0x66, rename = 0x6c };

struct LdifControl {
    std::string oid;
    bool critical = false;
    std::optional<std::string> value;
};

// One attribute of an entry to add (op unused), or one modification
// (LDAP_MOD_ADD, LDAP_MOD_DELETE, LDAP_MOD_REPLACE or LDAP_MOD_INCREMENT).
struct LdifModification {
    int op = 0;
    std::string type;
    std::vector<std::string> values;
};

struct LdifRecord {
    long line = 0;  // of its "dn:" line
    ChangeKind kind = ChangeKind::add;
    std::string dn;
    std::vector<LdifControl> controls;
    std::vector<LdifModification> modifications;  // add and modify
    std::string new_rdn;                          // rename
    std::optional<std::string> new_superior;
    bool delete_old_rdn = false;
};

// The records of a text one after the other, from its start (where a
// "version: 1" line may come first) or from where another reader stood.
// A text read through once already has had its DNs checked: with
// dns_checked they are not parsed again.
class LdifRecords {
public:
    explicit LdifRecords(std::string_view text, LdifPosition from = {}, bool dns_checked = false)
        : reader_(text, from), first_(from.offset == 0), check_dns_(!dns_checked)
    {
    }

    // The next record; nothing at the end of the text or at the first thing
    // wrong with it (error() says what).
    std::optional<LdifRecord> next();
    const std::optional<LdifError> &error() const { return error_; }
    // Just after the record next() returned last.
    LdifPosition position() const { return reader_.position(); }

private:
    LdifReader reader_;
    bool first_;
    bool check_dns_;
    std::vector<LdifField> fields_;
    std::optional<LdifError> error_;
};

}  // namespace dirext_cli::bulk
