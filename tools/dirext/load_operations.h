// The library's view of LDIF records for one update request: LBURPOperation
// and the LDAPMod, berval and LDAPControl arrays it points to, over the
// records' own strings (which must outlive it).  Each kind of array is one
// block for the whole request.
#pragma once

#include <dirext.h>  // before <ldap.h>

#include <span>
#include <vector>

#include "ldif_records.h"

namespace dirext_cli::bulk {

class UpdateBatch {
public:
    explicit UpdateBatch(std::span<LdifRecord> records);
    UpdateBatch(const UpdateBatch &) = delete;
    UpdateBatch &operator=(const UpdateBatch &) = delete;

    LBURPOperation **operations() { return list_.data(); }  // NULL-terminated

private:
    void add(LdifRecord &record, LBURPOperation &op);

    // Sized before they are filled: the pointers into them stay valid.
    std::vector<LBURPOperation> ops_;
    std::vector<LBURPOperation *> list_;
    std::vector<LDAPMod> mods_;
    std::vector<LDAPMod *> mod_lists_;  // one NULL-terminated list per record
    std::vector<berval> values_;
    std::vector<berval *> value_lists_;  // one NULL-terminated list per modification
    std::vector<LDAPControl> controls_;
    std::vector<LDAPControl *> control_lists_;  // one NULL-terminated list per record with controls
};

}  // namespace dirext_cli::bulk
