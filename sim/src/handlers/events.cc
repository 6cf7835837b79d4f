// Event monitoring (see dirsim/events.h): the plain and filtered monitor
// requests, the stream of notifications, and the final response.
//
// A registration is served on its connection's thread, which waits for
// notifications that the other connections' threads publish from a request
// hook once their operations are answered.  The registration ends when the
// client sends anything (the core then reads that request, and the hook here
// sends the final response first) or when the server stops (a stop hook asks
// every registration to send its final response while the connections are
// still open).
#include <ldap.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <list>
#include <mutex>
#include <utility>

#include "../core.h"
#include "dirsim/events.h"

namespace dirsim::detail {
namespace {

constexpr const char kMonitorRequest[] = "2.16.840.1.113719.1.27.100.79";
constexpr const char kFilteredMonitorRequest[] = "2.16.840.1.113719.1.27.100.84";
constexpr const char kMonitorResponse[] = "2.16.840.1.113719.1.27.100.80";
constexpr const char kEventNotification[] = "2.16.840.1.113719.1.27.100.81";
constexpr const char kCancel[] = "1.3.6.1.1.8";
constexpr const char kPendingKey[] = "events.pending";
constexpr const char kConnectionKey[] = "events.connection";
constexpr const char kClientAddress[] = "127.0.0.1";
constexpr int kAddressType = 1;
constexpr int kWaitMs = 20;

struct Registration {
    ber_int_t type = 0;
    ber_int_t status = 0;
    std::optional<std::string> filter;  // normalised DN of a filtered registration
};

// One registration being served.
struct Monitor {
    const Server::Impl *server;
    std::vector<Registration> registrations;
    std::deque<std::string> queue;  // notification values not sent yet
    bool finish = false;            // the server stops: send the final response now
};

// The registrations of every server in the process.
class Hub {
public:
    void add(Monitor *m)
    {
        std::lock_guard lock(mu_);
        monitors_.push_back(m);
    }
    void remove(Monitor *m)
    {
        std::lock_guard lock(mu_);
        monitors_.remove(m);
        cv_.notify_all();
    }
    bool watched(const Server::Impl *server)
    {
        std::lock_guard lock(mu_);
        return std::any_of(monitors_.begin(), monitors_.end(), [&](Monitor *m) { return m->server == server; });
    }
    void publish(const Server::Impl *server, int type, const std::string &ndn, const std::string &value)
    {
        std::lock_guard lock(mu_);
        for (Monitor *m : monitors_) {
            if (m->server != server) continue;
            bool wanted = std::any_of(m->registrations.begin(), m->registrations.end(), [&](const Registration &r) {
                return r.type == type && (!r.filter || within(ndn, *r.filter));
            });
            if (wanted) m->queue.push_back(value);
        }
        cv_.notify_all();
    }
    // Waits for notifications (or the end); hands them over.
    std::deque<std::string> wait(Monitor &m, bool &finish)
    {
        std::unique_lock lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return !m.queue.empty() || m.finish; });
        finish = m.finish;
        return std::exchange(m.queue, {});
    }
    // Asks the server's registrations to end and waits until they have.
    void finish(const Server::Impl *server)
    {
        std::unique_lock lock(mu_);
        for (Monitor *m : monitors_)
            if (m->server == server) m->finish = true;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(2), [&] {
            return std::none_of(monitors_.begin(), monitors_.end(), [&](Monitor *m) { return m->server == server; });
        });
    }

private:
    static bool within(const std::string &ndn, const std::string &base)
    {
        if (base.empty() || ndn == base) return true;
        return ndn.size() > base.size() && ndn.compare(ndn.size() - base.size(), base.size(), base) == 0 &&
               ndn[ndn.size() - base.size() - 1] == ',';
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::list<Monitor *> monitors_;
};

Hub &hub()
{
    static Hub h;
    return h;
}

// ---- the registration ----

// SEQUENCE { count, SET OF SEQUENCE { type, status [, filter] } }.
bool decode_registrations(const std::optional<std::string> &value, bool filtered, std::vector<Registration> &out)
{
    if (!value) return false;
    berval bytes = as_berval(*value), outer, set;
    Reader top(bytes);
    if (!top.element(LBER_SEQUENCE, outer) || !top.at_end()) return false;
    Reader r(outer);
    ber_int_t count = 0;
    if (!r.integer(LBER_INTEGER, count) || !r.element(LBER_SET, set) || !r.at_end()) return false;
    Reader elements(set);
    while (!elements.at_end()) {
        berval one;
        Registration reg;
        if (!elements.element(LBER_SEQUENCE, one)) return false;
        Reader f(one);
        if (!f.integer(LBER_INTEGER, reg.type) || !f.integer(LBER_ENUMERATED, reg.status)) return false;
        if (filtered) {
            std::string filter;
            if (!f.string(LBER_OCTETSTRING, filter)) return false;
            auto ndn = normalize_dn(filter);
            if (!ndn) return false;
            reg.filter = *ndn;
        }
        if (!f.at_end()) return false;
        out.push_back(std::move(reg));
    }
    return true;
}

std::string flatten(BerElement *ber)
{
    berval flat{};
    if (ber_flatten2(ber, &flat, 0) == -1) return {};
    return to_string(flat);
}

// The final response: the registrations in the plain request's element form.
BerPtr final_response(int msgid, int result, const std::vector<Registration> &registrations)
{
    BerPtr list(ber_alloc_t(LBER_USE_DER));
    if (!list || ber_printf(list.get(), "{i[", ber_int_t(registrations.size())) == -1) return nullptr;
    for (const auto &r : registrations)
        if (ber_printf(list.get(), "{ie}", r.type, r.status) == -1) return nullptr;
    if (ber_printf(list.get(), "]}") == -1) return nullptr;
    Reply reply;
    reply.result_code = result;
    reply.response_name = kMonitorResponse;
    reply.response_value = flatten(list.get());
    return encode_response(msgid, LDAP_RES_EXTENDED, reply);
}

bool send_notification(Exchange &ex, const std::string &value)
{
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    berval name = as_berval(kEventNotification), bytes = as_berval(value);
    if (!ber || ber_printf(ber.get(), "{it{tOtO}}", ber_int_t(ex.request().msgid), LDAP_RES_INTERMEDIATE,
                           LDAP_TAG_IM_RES_OID, &name, LDAP_TAG_IM_RES_VALUE, &bytes) == -1)
        return false;
    return ex.send(ber.get());
}

// A registration that the client's next request ends.
struct Pending {
    int msgid;
    std::vector<Registration> registrations;
};

void monitor(Exchange &ex, const std::optional<std::string> &value, bool filtered)
{
    std::vector<Registration> registrations;
    if (!decode_registrations(value, filtered, registrations)) {
        ex.result(LDAP_PROTOCOL_ERROR, "", "malformed event registration");
        return;
    }
    if (registrations.empty()) {
        ex.result(LDAP_UNWILLING_TO_PERFORM, "", "no events to monitor");
        return;
    }
    if (ex.session().bound_dn.empty()) {
        ex.result(LDAP_INSUFFICIENT_ACCESS, "", "event monitoring needs an authenticated connection");
        return;
    }
    Monitor m{&ex.server(), registrations, {}, false};
    hub().add(&m);
    bool finish = false;
    bool client_spoke = false;
    while (!finish) {
        for (const auto &v : hub().wait(m, finish)) {
            if (!send_notification(ex, v)) {
                hub().remove(&m);
                return;  // the client is gone
            }
        }
        if (!finish && ex.connection().readable(0)) {
            client_spoke = true;
            break;
        }
    }
    if (client_spoke) {
        hub().remove(&m);
        // The hook answers once it has seen what the client sent.
        ex.session().handler_state[kPendingKey] =
            std::make_shared<Pending>(Pending{ex.request().msgid, std::move(registrations)});
        return;
    }
    // The server stops: answer before the hub lets it close the connection.
    if (BerPtr ber = final_response(ex.request().msgid, LDAP_SUCCESS, registrations)) ex.send(ber.get());
    hub().remove(&m);
}

// ---- what the other connections do ----

int connection_number(Session &session, bool &first)
{
    static std::atomic<int> next{1};
    auto &slot = session.handler_state[kConnectionKey];
    first = !slot;
    if (first) slot = std::make_shared<int>(next++);
    return *static_cast<int *>(slot.get());
}

// One notification value, built field by field.
class Notice {
public:
    Notice(int type, int result, int kind) : ber_(ber_alloc_t(LBER_USE_DER))
    {
        ok_ = ber_ && ber_printf(ber_.get(), "{iit{", ber_int_t(type), ber_int_t(result), ber_tag_t(kind - 96 + 0x60)) != -1;
    }
    Notice &i(long v) { return put("i", ber_int_t(v)); }
    Notice &s(const std::string &v)
    {
        berval b = as_berval(v);
        return put("O", &b);
    }
    Notice &connection(int number, int msgid, const std::string &dn)
    {
        berval b = as_berval(dn);
        return put("{iiO}", ber_int_t(number), ber_int_t(msgid), &b);
    }
    Notice &list(ber_tag_t tag, const std::vector<std::string> &members)
    {
        put("t{", tag);
        for (const auto &m : members) s_wrapped(m);
        return put("}");
    }
    std::string finish()
    {
        berval address = as_berval(kClientAddress);
        put("iO}}", ber_int_t(kAddressType), &address);  // the address, behind the body's fields
        return ok_ ? flatten(ber_.get()) : std::string();
    }

private:
    template <typename... A>
    Notice &put(const char *format, A... args)
    {
        ok_ = ok_ && ber_printf(ber_.get(), format, args...) != -1;
        return *this;
    }
    void s_wrapped(const std::string &v)
    {
        berval b = as_berval(v);
        put("{O}", &b);
    }

    BerPtr ber_;
    bool ok_ = false;
};

// "key=value" out of a request's summary ("" when absent).
std::string detail_field(const std::string &detail, const std::string &key)
{
    std::string::size_type at = detail.find(key + "=");
    while (at != std::string::npos && at != 0 && detail[at - 1] != ' ') at = detail.find(key + "=", at + 1);
    if (at == std::string::npos) return {};
    at += key.size() + 1;
    return detail.substr(at, detail.find(' ', at) - at);
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    std::string::size_type from = 0;
    while (!s.empty() && from <= s.size()) {
        std::string::size_type to = s.find(sep, from);
        if (to == std::string::npos) to = s.size();
        out.push_back(s.substr(from, to - from));
        from = to + 1;
    }
    return out;
}

// The attribute names an add or a modify carries, read from its body.
std::vector<std::string> attribute_names(const std::string &op, const berval &body)
{
    std::vector<std::string> names;
    Reader r(body);
    std::string dn;
    berval list;
    if (!r.string(LBER_OCTETSTRING, dn) || !r.element(LBER_SEQUENCE, list)) return names;
    Reader items(list);
    while (!items.at_end()) {
        berval item, attribute;
        if (!items.element(LBER_SEQUENCE, item)) break;
        Reader one(item);
        if (op == "modify") {
            ber_int_t change = 0;
            if (!one.integer(LBER_ENUMERATED, change) || !one.element(LBER_SEQUENCE, attribute)) break;
        } else {
            attribute = item;
        }
        std::string name;
        Reader a(attribute);
        if (!a.string(LBER_OCTETSTRING, name)) break;
        names.push_back(name);
    }
    return names;
}

// The notification for one answered request, or nothing for requests that
// are not reported.
std::optional<std::pair<int, std::string>> describe(Exchange &ex, const Operation &operation, const berval &body,
                                                    int number, const std::string &bound_before)
{
    const Request &q = ex.request();
    const Reply &a = ex.reply();
    const int rc = ex.answered() ? a.result_code : LDAP_SUCCESS;
    auto with_connection = [&](int type, int kind) {
        Notice n(type, rc, kind);
        n.connection(number, q.msgid, bound_before);
        return n;
    };
    if (q.op == "bind") {
        const bool sasl = q.detail.rfind("sasl ", 0) == 0;
        return std::pair{events::kBind, with_connection(events::kBind, 113)
                                            .i(LDAP_VERSION3).i(rc).s(q.dn).i(sasl ? 3 : 0)
                                            .s(sasl ? q.detail.substr(5) : "simple").i(0).finish()};
    }
    if (q.op == "unbind")
        return std::pair{events::kConnection, Notice(events::kConnection, 0, 114).i(number).i(0).s(kClientAddress).finish()};
    if (q.op == "search") {
        const std::string scope = detail_field(q.detail, "scope");
        const std::string::size_type f = q.detail.find("filter="), at = q.detail.rfind(" attrs=");
        const std::string filter = f == std::string::npos || at == std::string::npos ? "" : q.detail.substr(f + 7, at - f - 7);
        return std::pair{events::kSearch, with_connection(events::kSearch, 115)
                                              .i(scope == "base" ? 0 : scope == "one" ? 1 : 2).i(rc).s(q.dn)
                                              .s(filter).i(0).s(a.diagnostic).i(0)
                                              .list(LBER_SEQUENCE, split(detail_field(q.detail, "attrs"), ','))
                                              .finish()};
    }
    if (q.op == "add" || q.op == "delete" || q.op == "modify") {
        const int type = q.op == "add" ? events::kAdd : q.op == "delete" ? events::kDelete : events::kModify;
        const ber_tag_t tag = q.op == "add" ? LDAP_REQ_ADD : q.op == "delete" ? LDAP_REQ_DELETE : LDAP_REQ_MODIFY;
        const std::vector<std::string> names = q.op == "delete" ? std::vector<std::string>() : attribute_names(q.op, body);
        Notice n = with_connection(type, 117);
        n.i(long(tag)).i(rc).i(long(names.size())).s(q.dn).s(a.matched_dn).s(a.diagnostic).i(0);
        if (q.op != "delete") n.list(LBER_CLASS_CONTEXT, names);  // [0]
        return std::pair{type, n.finish()};
    }
    if (q.op == "modrdn") {
        // entry, newrdn, deleteoldrdn, [0] newSuperior (optional)
        Reader r(body);
        std::string dn, rdn, superior;
        bool delete_old = false;
        r.string(LBER_OCTETSTRING, dn) && r.string(LBER_OCTETSTRING, rdn) && r.boolean(LBER_BOOLEAN, delete_old) &&
            (r.at_end() || r.string(LBER_CLASS_CONTEXT, superior));
        return std::pair{events::kModDn, with_connection(events::kModDn, 119)
                                             .i(delete_old).i(rc).s(q.dn).s(rdn).s(superior).s(a.diagnostic).i(0)
                                             .finish()};
    }
    if (q.op == "compare") {
        const std::string::size_type eq = q.detail.find('=');
        return std::pair{events::kCompare,
                         with_connection(events::kCompare, 118)
                             .i(0).i(rc).s(q.dn).s(q.detail.substr(0, eq))
                             .s(eq == std::string::npos ? "" : q.detail.substr(eq + 1)).s(a.matched_dn)
                             .s(a.diagnostic).i(0).finish()};
    }
    if (q.op == "abandon") {
        return std::pair{events::kAbandon, with_connection(events::kAbandon, 120)
                                               .i(std::atol(detail_field(q.detail, "msgid").c_str())).i(0).i(0)
                                               .s("").i(0).finish()};
    }
    if (q.op == "extended" && q.oid != kMonitorRequest && q.oid != kFilteredMonitorRequest) {
        return std::pair{events::kExtended, with_connection(events::kExtended, 121)
                                                .i(0).i(rc).i(long(operation.value().size())).s(q.oid)
                                                .s(a.response_name.value_or("")).i(0).finish()};
    }
    return std::nullopt;
}

// The registration the client's request ends: its final response goes first.
// A Cancel of it is answered here.
bool end_pending(Exchange &ex, const Operation &operation)
{
    Session &session = ex.session();
    auto it = session.handler_state.find(kPendingKey);
    if (it == session.handler_state.end()) return false;
    Pending pending = *static_cast<Pending *>(it->second.get());
    session.handler_state.erase(it);

    const Request &q = ex.request();
    bool cancel = false;
    if (q.op == "extended" && q.oid == kCancel && q.has_value) {
        berval value = as_berval(operation.value()), contents;
        Reader r(value);
        ber_int_t id = -1;
        cancel = r.element(LBER_SEQUENCE, contents) && Reader(contents).integer(LBER_INTEGER, id) &&
                 id == pending.msgid;
    }
    if (BerPtr ber = final_response(pending.msgid, cancel ? LDAP_CANCELLED : LDAP_SUCCESS, pending.registrations))
        ex.send(ber.get());
    if (cancel) ex.result(LDAP_SUCCESS);
    return cancel;
}

void observe(Exchange &ex, Operation &operation, const berval &body, const std::function<void()> &next)
{
    if (end_pending(ex, operation)) return;
    Session &session = ex.session();
    bool first = false;
    const int number = connection_number(session, first);
    const std::string bound_before = session.bound_dn;
    const Server::Impl *server = &ex.server();
    if (first && hub().watched(server))
        hub().publish(server, events::kConnection, "",
                      Notice(events::kConnection, 0, 114).i(number).i(1).s(kClientAddress).finish());
    next();
    if (!hub().watched(server)) return;
    if (auto notice = describe(ex, operation, body, number, bound_before)) {
        std::string ndn = normalize_dn(ex.request().dn).value_or("");
        if (!notice->second.empty()) hub().publish(server, notice->first, ndn, notice->second);
    }
}

const Registrar registrar([] {
    register_extended(kMonitorRequest, [](Exchange &ex, const std::optional<std::string> &value) {
        monitor(ex, value, false);
    });
    register_extended(kFilteredMonitorRequest, [](Exchange &ex, const std::optional<std::string> &value) {
        monitor(ex, value, true);
    });
    register_hook(observe);
    register_stop_hook([](Server::Impl &server) { hub().finish(&server); });
});

}  // namespace
}  // namespace dirsim::detail
