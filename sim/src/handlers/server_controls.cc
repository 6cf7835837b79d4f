// The directory's own request controls: effective privileges, status and
// reference.  Each is checked for its value format (a malformed one gets
// protocolError), and status and reference are answered with a response
// control on the operation's response.  What the numbers mean is the
// simulator's own choice:
//
//   status response (asked for by the request's [0] ... [3] flags being TRUE)
//     [0] entries in the tree   [1] 1 when the session is bound, else 0
//     [2] writes to the tree    [3] the request's message id
//   reference response, for the request's DN
//     [1] the DN as sent        [2] entries in the subtree under it
//     [3] its parent (normalised)  [4] its number of RDNs
//     [5] the DNs of its children  [6] the server's URL
//
// Effective privileges has no response control; the request is only checked.
#include <ldap.h>

#include <algorithm>

#include "../core.h"

namespace dirsim::detail {
namespace {

constexpr const char kGetEffective[] = "2.16.840.1.113719.1.27.101.33";
constexpr const char kStatus[] = "2.16.840.1.113719.1.27.101.40";
constexpr const char kReference[] = "2.16.840.1.113719.1.1.5150.101.1";

std::string unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The contents of the single SEQUENCE a control value must be.
bool sequence(const RequestControl &control, std::string &bytes, berval &contents)
{
    if (!control.has_value) return false;
    bytes = unhex(control.value_hex);
    Reader outer(as_berval(bytes));
    return outer.element(LBER_SEQUENCE, contents) && outer.at_end();
}

// SEQUENCE { [0] INTEGER selector } or SEQUENCE { [1] SEQUENCE OF
// ([0] OCTET STRING | [1] OCTET STRING) }; the list's tag is sent as 0x81.
bool valid_get_effective(const RequestControl &control)
{
    std::string bytes;
    berval contents;
    if (!sequence(control, bytes, contents)) return false;
    Reader r(contents);
    ber_tag_t tag = r.peek();
    if (tag == (LBER_CLASS_CONTEXT | 0)) {
        ber_int_t selector = 0;
        return r.integer(tag, selector) && r.at_end();
    }
    berval items;
    if ((tag != (LBER_CLASS_CONTEXT | 1) && tag != (LBER_CLASS_CONTEXT | LBER_CONSTRUCTED | 1)) ||
        !r.element(tag, items) || !r.at_end())
        return false;
    Reader list(items);
    while (!list.at_end()) {
        std::string name;
        ber_tag_t item = list.peek();
        if ((item != (LBER_CLASS_CONTEXT | 0) && item != (LBER_CLASS_CONTEXT | 1)) || !list.string(item, name))
            return false;
    }
    return true;
}

// SEQUENCE { [0] BOOLEAN ... [6] BOOLEAN, each optional, in order }; which
// of [0] ... [3] are TRUE.
bool status_flags(const RequestControl &control, bool asked[4])
{
    std::string bytes;
    berval contents;
    if (!sequence(control, bytes, contents)) return false;
    Reader r(contents);
    for (unsigned i = 0; i < 7 && !r.at_end(); ++i) {
        if (r.peek() != (LBER_CLASS_CONTEXT | i)) continue;
        bool flag = false;
        if (!r.boolean(LBER_CLASS_CONTEXT | i, flag)) return false;
        if (i < 4) asked[i] = flag;
    }
    return r.at_end();
}

std::string flatten(BerElement *ber)
{
    berval flat{};
    if (ber_flatten2(ber, &flat, 0) == -1) return {};
    return std::string(flat.bv_val, flat.bv_len);
}

std::string status_value(Exchange &ex, const bool asked[4])
{
    const ber_int_t numbers[4] = {
        ber_int_t(ex.tree().read([](const EntryMap &entries) { return entries.size(); })),
        ex.session().bound_dn.empty() ? 0 : 1,
        ber_int_t(ex.tree().version()),
        ex.request().msgid,
    };
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber || ber_printf(ber.get(), "{") == -1) return {};
    for (unsigned i = 0; i < 4; ++i)
        if (asked[i] && ber_printf(ber.get(), "ti", ber_tag_t(LBER_CLASS_CONTEXT | i), numbers[i]) == -1) return {};
    if (ber_printf(ber.get(), "}") == -1) return {};
    return flatten(ber.get());
}

std::string reference_value(Exchange &ex)
{
    const std::string &dn = ex.request().dn;
    const std::string ndn = normalize_dn(dn).value_or(std::string());
    ber_int_t below = 0;
    std::vector<std::string> children;
    ex.tree().read([&](const EntryMap &entries) {
        for (const auto &[other, e] : entries) {
            if (other != ndn && in_scope(other, ndn, LDAP_SCOPE_SUBTREE)) ++below;
            if (other != ndn && parent_dn(other) == ndn) children.push_back(e.dn);
        }
        return 0;
    });
    const std::string parent = parent_dn(ndn);
    const ber_int_t depth = ndn.empty() ? 0 : ber_int_t(std::count(ndn.begin(), ndn.end(), ',') + 1);
    const std::string url = "ldap://127.0.0.1:" + std::to_string(ex.server().port);
    berval dn_bv = as_berval(dn), parent_bv = as_berval(parent), url_bv = as_berval(url);
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber || ber_printf(ber.get(), "[tOtitOtit[", ber_tag_t(0x81), &dn_bv, ber_tag_t(0x82), below,
                           ber_tag_t(0x83), &parent_bv, ber_tag_t(0x84), depth, ber_tag_t(0x85)) == -1)
        return {};
    for (const auto &child : children) {
        berval bv = as_berval(child);
        if (ber_printf(ber.get(), "O", &bv) == -1) return {};
    }
    if (ber_printf(ber.get(), "]tO]", ber_tag_t(0x86), &url_bv) == -1) return {};
    return flatten(ber.get());
}

void server_controls(Exchange &ex, Operation &, const berval &, const std::function<void()> &next)
{
    for (const auto &c : ex.request().control_details) {
        if (c.oid == kGetEffective) {
            if (!valid_get_effective(c)) {
                ex.result(LDAP_PROTOCOL_ERROR, "", "effective privileges control value is malformed");
                return;
            }
        } else if (c.oid == kStatus) {
            bool asked[4] = {false, false, false, false};
            if (!status_flags(c, asked)) {
                ex.result(LDAP_PROTOCOL_ERROR, "", "status control value is malformed");
                return;
            }
            ex.add_response_control({kStatus, false, status_value(ex, asked)});
        } else if (c.oid == kReference) {
            if (c.has_value) {
                ex.result(LDAP_PROTOCOL_ERROR, "", "reference control takes no value");
                return;
            }
            ex.add_response_control({kReference, false, reference_value(ex)});
        }
    }
    next();
}

const Registrar registrar([] {
    register_control(kGetEffective);
    register_control(kStatus);
    register_control(kReference);
    register_hook(server_controls);
});

}  // namespace
}  // namespace dirsim::detail
