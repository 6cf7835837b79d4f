// LDAP Bulk Update/Replication Protocol (RFC 4373), as the directory speaks it.
//
//   start   value SEQUENCE { OCTET STRING update style }; answers
//           SEQUENCE { INTEGER maxOperations } (Options::lburp_max_operations)
//   update  value SEQUENCE { INTEGER sequence number, operation ... } where
//           each operation is SEQUENCE { add/delete/modify/modDN request
//           [, [0] Controls] }; the operations are applied in order by the
//           same handlers that serve them one by one, and the answer's value
//           lists the failures one after another, each
//           SEQUENCE { INTEGER number (1 = the request's first operation),
//                      SEQUENCE { ENUMERATED code, matched DN, message } }
//           (no value when nothing failed)
//   end     value SEQUENCE { INTEGER sequence number }
//
// Updates outside a started bulk update get operationsError.  A critical
// control on one operation fails that operation (12): the simulator honours
// no controls inside a bulk update.
#include <ldap.h>

#include "../core.h"

namespace dirsim::detail {
namespace {

constexpr const char kStart[] = "2.16.840.1.113719.1.142.100.1";
constexpr const char kStartResponse[] = "2.16.840.1.113719.1.142.100.2";
constexpr const char kUpdateStyle[] = "2.16.840.1.113719.1.142.1.4.2";
constexpr const char kEnd[] = "2.16.840.1.113719.1.142.100.4";
constexpr const char kEndResponse[] = "2.16.840.1.113719.1.142.100.5";
constexpr const char kUpdate[] = "2.16.840.1.113719.1.142.100.6";
constexpr const char kUpdateResponse[] = "2.16.840.1.113719.1.142.100.7";
constexpr const char kStateName[] = "lburp";

struct State {
    bool active = false;
};

State &state(Exchange &ex)
{
    auto &slot = ex.session().handler_state[kStateName];
    if (!slot) slot = std::make_shared<State>();
    return *static_cast<State *>(slot.get());
}

// The contents of the SEQUENCE that the request value must be.
bool value_sequence(const std::optional<std::string> &value, berval &contents)
{
    if (!value) return false;
    Reader outer(as_berval(*value));
    return outer.element(LBER_SEQUENCE, contents) && outer.at_end();
}

void malformed(Exchange &ex, const char *what)
{
    ex.result(LDAP_PROTOCOL_ERROR, "", std::string(what) + " is malformed");
}

void start(Exchange &ex, const std::optional<std::string> &value)
{
    berval contents;
    std::string style;
    if (!value_sequence(value, contents)) return malformed(ex, "start request");
    Reader fields(contents);
    if (!fields.string(LBER_OCTETSTRING, style) || !fields.at_end()) return malformed(ex, "start request");
    if (style != kUpdateStyle) {
        ex.result(LDAP_UNWILLING_TO_PERFORM, "", "update style not supported");
        return;
    }
    State &s = state(ex);
    if (s.active) {
        ex.result(LDAP_OPERATIONS_ERROR, "", "a bulk update is already in progress");
        return;
    }
    s.active = true;
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    berval flat{};
    if (!ber || ber_printf(ber.get(), "{i}", ber_int_t(ex.server().options.lburp_max_operations)) == -1 ||
        ber_flatten2(ber.get(), &flat, 0) == -1) {
        ex.result(LDAP_OTHER, "", "cannot encode the start response");
        return;
    }
    Reply reply;
    reply.response_name = kStartResponse;
    reply.response_value = std::string(flat.bv_val, flat.bv_len);
    ex.respond(reply);
}

struct Failure {
    ber_int_t number;
    Reply result;
};

// One operation of an update: decoded and served like a request of its own,
// its answer kept instead of sent.
Reply apply(Exchange &ex, const berval &operation)
{
    Reply refused;
    refused.result_code = LDAP_PROTOCOL_ERROR;
    refused.diagnostic = "operation is malformed";
    Reader r(operation);
    ber_tag_t tag;
    berval body;
    if (!r.any(tag, body)) return refused;
    const OpSpec *spec = find_operation(tag);
    if (!spec || (tag != LDAP_REQ_ADD && tag != LDAP_REQ_DELETE && tag != LDAP_REQ_MODIFY && tag != LDAP_REQ_MODDN))
        return refused;
    Request request;
    request.msgid = ex.request().msgid;
    request.op = spec->name;
    if (r.peek() == LDAP_TAG_CONTROLS) {
        berval controls;
        if (!r.element(LDAP_TAG_CONTROLS, controls)) return refused;
        Reader list(controls);
        while (!list.at_end()) {
            berval one;
            std::string oid;
            bool critical = false;
            if (!list.element(LBER_SEQUENCE, one)) return refused;
            Reader c(one);
            if (!c.string(LBER_OCTETSTRING, oid)) return refused;
            if (c.peek() == LBER_BOOLEAN && !c.boolean(LBER_BOOLEAN, critical)) return refused;
            if (critical) {
                Reply r12;
                r12.result_code = LDAP_UNAVAILABLE_CRITICAL_EXTENSION;
                r12.diagnostic = "controls are not supported inside a bulk update";
                return r12;
            }
        }
    }
    std::unique_ptr<Operation> op = spec->make();
    if (!r.at_end() || !op->decode(body, request)) return refused;
    Exchange inner(ex.server(), ex.connection(), ex.session(), request, 0);
    op->serve(inner);
    if (!inner.answered()) {
        Reply lost;
        lost.result_code = LDAP_OTHER;
        return lost;
    }
    return inner.reply();
}

void update(Exchange &ex, const std::optional<std::string> &value)
{
    berval contents;
    if (!value_sequence(value, contents)) return malformed(ex, "update request");
    Reader r(contents);
    ber_int_t sequence = 0;
    if (!r.integer(LBER_INTEGER, sequence)) return malformed(ex, "update request");
    std::vector<berval> operations;
    while (!r.at_end()) {
        berval op;
        if (!r.element(LBER_SEQUENCE, op)) return malformed(ex, "update request");
        operations.push_back(op);
    }
    if (!state(ex).active) {
        ex.result(LDAP_OPERATIONS_ERROR, "", "no bulk update in progress");
        return;
    }
    if (operations.size() > size_t(ex.server().options.lburp_max_operations)) {
        ex.result(LDAP_UNWILLING_TO_PERFORM, "", "more operations than maxOperations");
        return;
    }
    std::vector<Failure> failures;
    for (size_t i = 0; i < operations.size(); ++i) {
        Reply result = apply(ex, operations[i]);
        if (result.result_code != LDAP_SUCCESS) failures.push_back({ber_int_t(i + 1), std::move(result)});
    }
    Reply reply;
    reply.response_name = kUpdateResponse;
    if (!failures.empty()) {
        BerPtr ber(ber_alloc_t(LBER_USE_DER));
        if (!ber) return (void)ex.result(LDAP_OTHER, "", "cannot encode the failures");
        for (const Failure &f : failures) {
            berval matched = as_berval(f.result.matched_dn), message = as_berval(f.result.diagnostic);
            if (ber_printf(ber.get(), "{i{eOO}}", f.number, ber_int_t(f.result.result_code), &matched, &message) ==
                -1)
                return (void)ex.result(LDAP_OTHER, "", "cannot encode the failures");
        }
        berval flat{};
        if (ber_flatten2(ber.get(), &flat, 0) == -1)
            return (void)ex.result(LDAP_OTHER, "", "cannot encode the failures");
        reply.response_value = std::string(flat.bv_val, flat.bv_len);
    }
    ex.respond(reply);
}

void end(Exchange &ex, const std::optional<std::string> &value)
{
    berval contents;
    if (!value_sequence(value, contents)) return malformed(ex, "end request");
    Reader r(contents);
    ber_int_t sequence = 0;
    if (!r.integer(LBER_INTEGER, sequence) || !r.at_end()) return malformed(ex, "end request");
    State &s = state(ex);
    if (!s.active) {
        ex.result(LDAP_OPERATIONS_ERROR, "", "no bulk update in progress");
        return;
    }
    s.active = false;
    Reply reply;
    reply.response_name = kEndResponse;
    ex.respond(reply);
}

const Registrar registrar([] {
    register_extended(kStart, start);
    register_extended(kUpdate, update);
    register_extended(kEnd, end);
});

}  // namespace
}  // namespace dirsim::detail
