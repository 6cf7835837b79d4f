#include "load_operations.h"

namespace dirext_cli::bulk {

static_assert(int(ChangeKind::add) == LBURP_OP_ADD && int(ChangeKind::remove) == LBURP_OP_DELETE &&
              int(ChangeKind::modify) == LBURP_OP_MODIFY && int(ChangeKind::rename) == LBURP_OP_MODDN);

namespace {

berval view_of(std::string &s) { return berval{s.size(), s.data()}; }

}  // namespace

UpdateBatch::UpdateBatch(std::span<LdifRecord> records)
{
    size_t mods = 0, values = 0, controls = 0, with_controls = 0;
    for (const LdifRecord &r : records) {
        mods += r.modifications.size();
        for (const LdifModification &m : r.modifications) values += m.values.size();
        controls += r.controls.size();
        with_controls += !r.controls.empty();
    }
    ops_.resize(records.size());
    list_.reserve(records.size() + 1);
    mods_.reserve(mods);
    mod_lists_.reserve(mods + records.size());
    values_.reserve(values);
    value_lists_.reserve(values + mods);
    controls_.reserve(controls);
    control_lists_.reserve(controls + with_controls);
    for (size_t i = 0; i < records.size(); ++i) add(records[i], ops_[i]);
    list_.push_back(nullptr);
}

void UpdateBatch::add(LdifRecord &record, LBURPOperation &op)
{
    op.type = int(record.kind);
    op.dn = record.dn.c_str();
    if (!record.controls.empty()) {
        op.controls = control_lists_.data() + control_lists_.size();
        for (LdifControl &c : record.controls) {
            const berval value = c.value ? view_of(*c.value) : berval{0, nullptr};
            control_lists_.push_back(&controls_.emplace_back(LDAPControl{c.oid.data(), value, c.critical}));
        }
        control_lists_.push_back(nullptr);
    }
    if (record.kind == ChangeKind::rename) {
        op.changes = record.new_rdn.data();
        op.newSuperior = record.new_superior ? record.new_superior->c_str() : nullptr;
        op.deleteOldRDN = record.delete_old_rdn ? 1 : 0;
    } else if (record.kind != ChangeKind::remove) {
        op.changes = mod_lists_.data() + mod_lists_.size();
        for (LdifModification &m : record.modifications) {
            berval **list = value_lists_.data() + value_lists_.size();
            for (std::string &v : m.values) value_lists_.push_back(&values_.emplace_back(view_of(v)));
            value_lists_.push_back(nullptr);
            LDAPMod &mod = mods_.emplace_back();
            mod.mod_op = m.op | LDAP_MOD_BVALUES;
            mod.mod_type = m.type.data();
            mod.mod_bvalues = list;
            mod_lists_.push_back(&mod);
        }
        mod_lists_.push_back(nullptr);
    }
    list_.push_back(&op);
}

}  // namespace dirext_cli::bulk
