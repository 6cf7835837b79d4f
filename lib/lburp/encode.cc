// The four LBURP operation encoders.  Each operation is
//   SEQUENCE { <LDAP protocol request>, [0] Controls OPTIONAL }
// written into the caller's open element, so that an update request is the
// sequence number followed directly by its operations.
#include "lburp/internal.h"

namespace dirext::lburp {
namespace {

constexpr ber_tag_t kControlsTag = 0xa0;     // [0] Controls, constructed
constexpr ber_tag_t kNewSuperiorTag = 0x80;  // ModifyDNRequest newSuperior [0]

// Arguments that liblber would dereference without a check.
bool values_ok(const LDAPMod *mod)
{
    if (!mod || !mod->mod_type) return false;
    if (!(mod->mod_op & LDAP_MOD_BVALUES) || !mod->mod_bvalues) return true;
    for (berval **v = mod->mod_bvalues; *v; ++v)
        if (!(*v)->bv_val && (*v)->bv_len) return false;
    return true;
}

bool mods_ok(LDAPMod **mods)
{
    if (!mods) return false;
    for (; *mods; ++mods)
        if (!values_ok(*mods)) return false;
    return true;
}

bool controls_ok(LDAPControl **controls)
{
    if (!controls) return true;
    for (; *controls; ++controls)
        if (!(*controls)->ldctl_oid || (!(*controls)->ldctl_value.bv_val && (*controls)->ldctl_value.bv_len))
            return false;
    return true;
}

// RFC 4511 Controls: criticality only when TRUE, value only when present.
bool put_controls(BerElement *ber, LDAPControl **controls)
{
    if (ber_printf(ber, "t{", kControlsTag) == -1) return false;
    for (; *controls; ++controls) {
        const LDAPControl &c = **controls;
        if (ber_printf(ber, "{s", c.ldctl_oid) == -1) return false;
        if (c.ldctl_iscritical && ber_printf(ber, "b", ber_int_t(c.ldctl_iscritical)) == -1) return false;
        if (c.ldctl_value.bv_val && ber_printf(ber, "O", &c.ldctl_value) == -1) return false;
        if (ber_printf(ber, "}") == -1) return false;
    }
    return ber_printf(ber, "}") != -1;
}

// Controls (if any) and the operation's closing brace.
bool finish_operation(BerElement *ber, LDAPControl **controls)
{
    if (controls && !put_controls(ber, controls)) return false;
    return ber_printf(ber, "}") != -1;
}

// The encoders' contract: a failure releases the caller's element.
int fail(BerElement *ber, int code)
{
    ber_free(ber, 1);
    return code;
}

}  // namespace

int encode_add(const char *dn, LDAPMod **attributes, LDAPControl **controls, BerElement *ber)
{
    if (!ber) return LDAP_PARAM_ERROR;
    if (!dn || !mods_ok(attributes) || !controls_ok(controls)) return fail(ber, LDAP_PARAM_ERROR);
    if (ber_printf(ber, "{t{s{", ber_tag_t(LDAP_REQ_ADD), dn) == -1) return fail(ber, LDAP_ENCODING_ERROR);
    for (LDAPMod **a = attributes; *a; ++a) {
        const LDAPMod &mod = **a;
        const int rc = (mod.mod_op & LDAP_MOD_BVALUES)
                           ? ber_printf(ber, "{s[V]}", mod.mod_type, mod.mod_bvalues)
                           : ber_printf(ber, "{s[v]}", mod.mod_type, mod.mod_values);
        if (rc == -1) return fail(ber, LDAP_ENCODING_ERROR);
    }
    if (ber_printf(ber, "}}") == -1 || !finish_operation(ber, controls))
        return fail(ber, LDAP_ENCODING_ERROR);
    return LDAP_SUCCESS;
}

int encode_delete(const char *dn, LDAPControl **controls, BerElement *ber)
{
    if (!ber) return LDAP_PARAM_ERROR;
    if (!dn || !controls_ok(controls)) return fail(ber, LDAP_PARAM_ERROR);
    if (ber_printf(ber, "{ts", ber_tag_t(LDAP_REQ_DELETE), dn) == -1 || !finish_operation(ber, controls))
        return fail(ber, LDAP_ENCODING_ERROR);
    return LDAP_SUCCESS;
}

int encode_modify(const char *dn, LDAPMod **modifications, LDAPControl **controls, BerElement *ber)
{
    if (!ber) return LDAP_PARAM_ERROR;
    if (!dn || !mods_ok(modifications) || !controls_ok(controls)) return fail(ber, LDAP_PARAM_ERROR);
    if (ber_printf(ber, "{t{s{", ber_tag_t(LDAP_REQ_MODIFY), dn) == -1) return fail(ber, LDAP_ENCODING_ERROR);
    for (LDAPMod **m = modifications; *m; ++m) {
        const LDAPMod &mod = **m;
        const ber_int_t kind = mod.mod_op & ~LDAP_MOD_BVALUES;
        const int rc = (mod.mod_op & LDAP_MOD_BVALUES)
                           ? ber_printf(ber, "{e{s[V]}}", kind, mod.mod_type, mod.mod_bvalues)
                           : ber_printf(ber, "{e{s[v]}}", kind, mod.mod_type, mod.mod_values);
        if (rc == -1) return fail(ber, LDAP_ENCODING_ERROR);
    }
    if (ber_printf(ber, "}}") == -1 || !finish_operation(ber, controls))
        return fail(ber, LDAP_ENCODING_ERROR);
    return LDAP_SUCCESS;
}

int encode_moddn(const char *dn, const char *new_rdn, const char *new_superior, int delete_old_rdn,
                 LDAPControl **controls, BerElement *ber)
{
    if (!ber) return LDAP_PARAM_ERROR;
    if (!dn || !new_rdn || !controls_ok(controls)) return fail(ber, LDAP_PARAM_ERROR);
    if (ber_printf(ber, "{t{ssb", ber_tag_t(LDAP_REQ_MODDN), dn, new_rdn, ber_int_t(delete_old_rdn != 0)) == -1 ||
        (new_superior && ber_printf(ber, "ts", kNewSuperiorTag, new_superior) == -1) ||
        ber_printf(ber, "}") == -1 || !finish_operation(ber, controls))
        return fail(ber, LDAP_ENCODING_ERROR);
    return LDAP_SUCCESS;
}

int encode_operation(const LBURPOperation &op, BerElement *ber)
{
    switch (op.type) {
    case LBURP_OP_ADD:
        return encode_add(op.dn, static_cast<LDAPMod **>(op.changes), op.controls, ber);
    case LBURP_OP_DELETE:
        return encode_delete(op.dn, op.controls, ber);
    case LBURP_OP_MODIFY:
        return encode_modify(op.dn, static_cast<LDAPMod **>(op.changes), op.controls, ber);
    case LBURP_OP_MODDN:
        return encode_moddn(op.dn, static_cast<const char *>(op.changes), op.newSuperior, op.deleteOldRDN,
                            op.controls, ber);
    default:
        if (ber) ber_free(ber, 1);
        return LDAP_NOT_SUPPORTED;
    }
}

}  // namespace dirext::lburp

extern "C" {

int LBURPEncodeAdd(LDAP *, const char *dn, LDAPMod **attributes, LDAPControl **controls, BerElement *ber)
{
    return dirext::lburp::encode_add(dn, attributes, controls, ber);
}

int LBURPEncodeDelete(LDAP *, const char *dn, LDAPControl **controls, BerElement *ber)
{
    return dirext::lburp::encode_delete(dn, controls, ber);
}

int LBURPEncodeMod(LDAP *, const char *dn, LDAPMod **modifications, LDAPControl **controls, BerElement *ber)
{
    return dirext::lburp::encode_modify(dn, modifications, controls, ber);
}

int LBURPEncodeModRDN(LDAP *, const char *dn, const char *newRDN, const char *newSuperior, int deleteOldRDN,
                      LDAPControl **controls, BerElement *ber)
{
    return dirext::lburp::encode_moddn(dn, newRDN, newSuperior, deleteOldRDN, controls, ber);
}

}  // extern "C"
