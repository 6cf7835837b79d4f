// The core: listener, one thread per connection, framing, the request log,
// scripted replies, and dispatch to the registered handlers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ldap.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core.h"

namespace dirsim {

using namespace detail;

namespace {
constexpr const char kNoticeOfDisconnection[] = "1.3.6.1.4.1.1466.20036";

bool decode_controls(const berval &contents, Request &request)
{
    Reader r(contents);
    while (!r.at_end()) {
        berval one;
        if (!r.element(LBER_SEQUENCE, one)) return false;
        Reader c(one);
        RequestControl control;
        if (!c.string(LBER_OCTETSTRING, control.oid) || control.oid.empty()) return false;
        if (c.peek() == LBER_BOOLEAN && !c.boolean(LBER_BOOLEAN, control.critical)) return false;
        if (c.peek() == LBER_OCTETSTRING) {
            std::string value;
            if (!c.string(LBER_OCTETSTRING, value)) return false;
            control.has_value = true;
            control.value_hex = to_hex(value);
        }
        if (!c.at_end()) return false;
        request.controls.push_back(control.oid);
        request.control_details.push_back(std::move(control));
    }
    return true;
}

void serve_through_hooks(size_t next, Exchange &exchange, Operation &operation, const berval &body)
{
    const std::vector<RequestHook> &hooks = request_hooks();
    if (next == hooks.size()) {
        operation.serve(exchange);
        return;
    }
    hooks[next](exchange, operation, body, [&] { serve_through_hooks(next + 1, exchange, operation, body); });
}

// Unsolicited notice that the server ends the connection (RFC 4511 4.4.1).
void notice_of_disconnection(Connection &connection, const char *diagnostic)
{
    Reply notice;
    notice.result_code = LDAP_PROTOCOL_ERROR;
    notice.diagnostic = diagnostic;
    notice.response_name = kNoticeOfDisconnection;
    if (BerPtr ber = encode_response(0, LDAP_RES_EXTENDED, notice)) connection.write(ber.get());
}

bool write_all(int fd, const char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}
}  // namespace

namespace detail {

BerPtr encode_response(int msgid, ber_tag_t tag, const Reply &reply)
{
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber) return nullptr;
    berval matched = as_berval(reply.matched_dn), diagnostic = as_berval(reply.diagnostic);
    if (ber_printf(ber.get(), "{it{eOO", msgid, tag, reply.result_code, &matched, &diagnostic) == -1)
        return nullptr;
    if (tag == LDAP_RES_EXTENDED) {
        if (reply.response_name) {
            berval name = as_berval(*reply.response_name);
            if (ber_printf(ber.get(), "tO", LDAP_TAG_EXOP_RES_OID, &name) == -1) return nullptr;
        }
        if (reply.response_value) {
            berval value = as_berval(*reply.response_value);
            if (ber_printf(ber.get(), "tO", LDAP_TAG_EXOP_RES_VALUE, &value) == -1) return nullptr;
        }
    } else if (tag == LDAP_RES_BIND && reply.response_value) {
        berval creds = as_berval(*reply.response_value);
        if (ber_printf(ber.get(), "tO", LDAP_TAG_SASL_RES_CREDS, &creds) == -1) return nullptr;
    }
    if (ber_printf(ber.get(), "}") == -1 || !put_controls(ber.get(), reply.controls) ||
        ber_printf(ber.get(), "}") == -1)
        return nullptr;
    return ber;
}

bool put_controls(BerElement *ber, const std::vector<ResponseControl> &controls)
{
    if (controls.empty()) return true;
    if (ber_printf(ber, "t{", LDAP_TAG_CONTROLS) == -1) return false;
    for (const auto &c : controls) {
        berval oid = as_berval(c.oid);
        if (ber_printf(ber, "{O", &oid) == -1) return false;
        if (c.critical && ber_printf(ber, "b", 1) == -1) return false;
        if (c.value) {
            berval value = as_berval(*c.value);
            if (ber_printf(ber, "O", &value) == -1) return false;
        }
        if (ber_printf(ber, "}") == -1) return false;
    }
    return ber_printf(ber, "}") != -1;
}

Reply no_such_object(const EntryMap &entries, const std::string &ndn)
{
    Reply r;
    r.result_code = LDAP_NO_SUCH_OBJECT;
    r.matched_dn = matched_dn(entries, ndn);
    return r;
}

Tree &Exchange::tree() { return server_.tree; }

std::optional<std::string> Exchange::target()
{
    auto ndn = normalize_dn(request_.dn);
    if (!ndn) result(LDAP_INVALID_DN_SYNTAX, "", "invalid DN");
    return ndn;
}

std::optional<ParsedDn> Exchange::parsed_target()
{
    auto dn = parse_dn(request_.dn);
    if (!dn) result(LDAP_INVALID_DN_SYNTAX, "", "invalid DN");
    return dn;
}

bool Exchange::respond(const Reply &reply)
{
    answered_ = true;
    reply_ = reply;
    reply_.controls.insert(reply_.controls.end(), response_controls_.begin(), response_controls_.end());
    if (!response_tag_) return true;
    BerPtr ber = encode_response(request_.msgid, response_tag_, reply_);
    if (ber && connection_.write(ber.get())) return true;
    close_ = true;
    return false;
}

bool Exchange::result(int code, std::string_view matched, std::string_view diagnostic)
{
    Reply reply;
    reply.result_code = code;
    reply.matched_dn = std::string(matched);
    reply.diagnostic = std::string(diagnostic);
    return respond(reply);
}

bool Exchange::send(BerElement *message)
{
    if (connection_.write(message)) return true;
    close_ = true;
    return false;
}

}  // namespace detail

std::string format_request(const Request &r)
{
    std::string line = "msgid=" + std::to_string(r.msgid) + " op=" + r.op + " dn=\"" + r.dn + "\"";
    if (!r.oid.empty()) line += " oid=" + r.oid;
    if (r.has_value) line += " value=" + r.value_hex;
    if (!r.controls.empty()) {
        line += " controls=";
        for (size_t i = 0; i < r.controls.size(); ++i) line += (i ? "," : "") + r.controls[i];
    }
    return line + " detail=\"" + r.detail + "\"";
}

// ---- the log and the script ----

void Server::Impl::record(const Request &request, std::string_view value)
{
    std::lock_guard lock(log_mu);
    log.push_back({request, std::string(value)});
    if (options.on_request) {
        write_hex(log.back());
        options.on_request(log.back().request);
    }
    log_cv.notify_all();
}

void Server::Impl::write_hex(Logged &logged) const
{
    if (!logged.request.has_value || !logged.request.value_hex.empty() || logged.value.empty()) return;
    logged.request.value_hex = to_hex(logged.value);
    logged.value = std::string();
}

std::optional<Reply> Server::Impl::scripted(const Request &request)
{
    std::lock_guard lock(script_mu);
    for (auto &r : rules) {
        if (r.rule.op != request.op || (!r.rule.oid.empty() && r.rule.oid != request.oid)) continue;
        if (r.times_left == 0) continue;
        if (r.skip_left > 0) {
            --r.skip_left;
            continue;
        }
        if (r.times_left > 0) --r.times_left;
        return r.rule.reply;
    }
    return std::nullopt;
}

bool Server::Impl::pause(int ms)
{
    std::unique_lock lock(pause_mu);
    return !pause_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
}

// ---- connections ----

int Server::Impl::listen_socket(uint16_t wanted, uint16_t &bound)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "dirsim: socket: %s\n", std::strerror(errno));
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(wanted);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        std::fprintf(stderr, "dirsim: cannot listen on 127.0.0.1:%u: %s\n", unsigned(wanted), std::strerror(errno));
        ::close(fd);
        return -1;
    }
    bound = ntohs(addr.sin_port);
    return fd;
}

bool Server::Impl::listen_on(uint16_t wanted)
{
    listen_fd = listen_socket(wanted, port);
    if (listen_fd < 0) return false;
    if (!options.ldaps) return true;
    ldaps_fd = listen_socket(ldaps_port, ldaps_port);
    if (ldaps_fd >= 0) return true;
    ::close(listen_fd);
    listen_fd = -1;
    return false;
}

bool Server::Impl::secure(Connection &connection, Session &session)
{
    if (!accept_tls(tls_ctx.get(), connection, session)) return false;
    if (!session.tls_client_subject.empty()) {
        std::lock_guard lock(tls_mu);
        client_subjects.push_back(session.tls_client_subject);
    }
    return true;
}

void Server::Impl::accept_loop()
{
    for (;;) {
        // The ldaps listener (-1 without one) is ignored by poll.
        pollfd fds[3] = {{wake[0], POLLIN, 0}, {listen_fd, POLLIN, 0}, {ldaps_fd, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents || stopping) return;
        bool ldaps = !(fds[1].revents & POLLIN);
        if (ldaps && !(fds[2].revents & POLLIN)) continue;
        int fd = ::accept4(ldaps ? ldaps_fd : listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;

        std::lock_guard lock(slots_mu);
        for (auto it = slots.begin(); it != slots.end();) {  // reap finished connections
            if ((*it)->done) {
                (*it)->thread.join();
                it = slots.erase(it);
            } else {
                ++it;
            }
        }
        if (slots.size() >= options.max_connections) {
            ::close(fd);
            continue;
        }
        auto slot = std::make_shared<Slot>();
        slot->connection = std::make_unique<Connection>(fd);
        if (!slot->connection->ok()) continue;
        slot->ldaps = ldaps;
        slot->thread = std::thread(&Impl::serve, this, slot);
        slots.push_back(std::move(slot));
    }
}

void Server::Impl::serve(std::shared_ptr<Slot> slot)
{
    // A client that goes away mid-write must not kill the process: with
    // SIGPIPE blocked on this thread, the write fails with EPIPE instead.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    Connection &connection = *slot->connection;
    Session session;
    // A failed handshake ends this connection only.
    bool serving = !slot->ldaps || secure(connection, session);
    while (serving && !stopping) {
        ber_tag_t tag = LBER_DEFAULT;
        BerPtr message = connection.read_message(&tag);
        if (!message) break;
        if (tag != LDAP_TAG_MESSAGE) {
            notice_of_disconnection(connection, "decoding error");
            break;
        }
        if (!handle(connection, session, message.get())) break;
    }
    connection.close();
    slot->done = true;
}

bool Server::Impl::handle(Connection &connection, Session &session, BerElement *message)
{
    Reader r(message);
    ber_int_t msgid = 0;
    ber_tag_t op_tag;
    berval body;
    if (!r.integer(LBER_INTEGER, msgid) || msgid < 0 || !r.any(op_tag, body)) {
        notice_of_disconnection(connection, "decoding error");
        return false;
    }
    const OpSpec *spec = find_operation(op_tag);
    if (!spec) {
        notice_of_disconnection(connection, "unknown LDAP request");
        return false;
    }
    Request request;
    request.msgid = msgid;
    request.op = spec->name;
    request.tls = session.tls;
    bool well_formed = true;
    if (r.peek() == LDAP_TAG_CONTROLS) {
        berval controls;
        well_formed = r.element(LDAP_TAG_CONTROLS, controls) && decode_controls(controls, request);
    }
    std::unique_ptr<Operation> operation = spec->make();
    well_formed = well_formed && r.at_end() && operation->decode(body, request);
    if (!well_formed) request.detail = "malformed";
    record(request, operation->value());

    Exchange exchange(*this, connection, session, request, spec->response_tag);
    if (!well_formed) {
        if (!spec->response_tag) return false;
        return exchange.result(LDAP_PROTOCOL_ERROR, "", "decoding error");
    }
    if (auto reply = scripted(request)) return play(exchange, *reply);

    for (const auto &control : request.control_details) {
        if (control.critical && !control_supported(control.oid)) {
            exchange.result(LDAP_UNAVAILABLE_CRITICAL_EXTENSION, "", "critical extension is unavailable");
            return !exchange.closing();
        }
    }
    serve_through_hooks(0, exchange, *operation, body);
    return !exchange.closing();
}

bool Server::Impl::play(Exchange &exchange, const Reply &reply)
{
    if (reply.delay_ms > 0 && !pause(reply.delay_ms)) return false;
    if (reply.raw) {
        if (!exchange.connection().write_raw(*reply.raw)) return false;
    } else if (!reply.drop_connection) {
        if (!exchange.respond(reply)) return false;
    }
    return !reply.drop_connection && exchange.request().op != "unbind";
}

// ---- the public face ----

Server::Server(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { stop(); }

bool Server::start()
{
    std::lock_guard lock(impl_->run_mu);
    Impl &s = *impl_;
    if (s.running) return true;
    if (!s.tree_loaded) {
        std::string error;
        bool ok = true;
        if (!s.options.ldif_path.empty()) ok = s.tree.load_file(s.options.ldif_path, error);
        if (ok && !s.options.ldif_text.empty()) ok = s.tree.load_text(s.options.ldif_text, error);
        if (!ok) {
            std::fprintf(stderr, "dirsim: %s\n", error.c_str());
            return false;
        }
        for (const auto &seed : detail::tree_seeds()) s.tree.write(seed);
        s.tree_loaded = true;
    }
    if (!s.tls_ctx && !s.options.tls_cert_file.empty()) {
        std::string error;
        s.tls_ctx = make_server_context(s.options, &error);
        if (!s.tls_ctx) {
            std::fprintf(stderr, "dirsim: %s\n", error.c_str());
            return false;
        }
    }
    if (s.options.ldaps && !s.tls_ctx) {
        std::fprintf(stderr, "dirsim: ldaps needs a certificate and a key\n");
        return false;
    }
    if (!s.listen_on(s.port ? s.port : s.options.port)) return false;
    if (::pipe2(s.wake, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "dirsim: pipe: %s\n", std::strerror(errno));
        ::close(s.listen_fd);
        if (s.ldaps_fd >= 0) ::close(s.ldaps_fd);
        s.listen_fd = s.ldaps_fd = -1;
        return false;
    }
    s.stopping = false;
    s.acceptor = std::thread(&Impl::accept_loop, &s);
    s.running = true;
    return true;
}

void Server::stop()
{
    std::lock_guard lock(impl_->run_mu);
    Impl &s = *impl_;
    if (!s.running) return;
    {
        std::lock_guard pause_lock(s.pause_mu);
        s.stopping = true;
    }
    s.pause_cv.notify_all();
    write_all(s.wake[1], "x", 1);
    s.acceptor.join();
    for (const auto &hook : stop_hooks()) hook(s);
    std::list<std::shared_ptr<Impl::Slot>> slots;
    {
        std::lock_guard slots_lock(s.slots_mu);
        slots.swap(s.slots);
    }
    for (auto &slot : slots) slot->connection->shutdown();
    for (auto &slot : slots) slot->thread.join();
    ::close(s.listen_fd);
    if (s.ldaps_fd >= 0) ::close(s.ldaps_fd);
    ::close(s.wake[0]);
    ::close(s.wake[1]);
    s.listen_fd = s.ldaps_fd = s.wake[0] = s.wake[1] = -1;
    s.running = false;
}

uint16_t Server::port() const { return impl_->port; }

std::string Server::url() const { return "ldap://127.0.0.1:" + std::to_string(impl_->port); }

uint16_t Server::ldaps_port() const { return impl_->ldaps_port; }

std::string Server::ldaps_url() const { return "ldaps://127.0.0.1:" + std::to_string(impl_->ldaps_port); }

std::vector<std::string> Server::client_subjects() const
{
    std::lock_guard lock(impl_->tls_mu);
    return impl_->client_subjects;
}

void Server::script(Rule rule)
{
    std::lock_guard lock(impl_->script_mu);
    int skip = rule.skip, times = rule.times;
    impl_->rules.push_back({std::move(rule), skip, times});
}

void Server::clear_script()
{
    std::lock_guard lock(impl_->script_mu);
    impl_->rules.clear();
}

std::vector<Request> Server::requests() const
{
    std::lock_guard lock(impl_->log_mu);
    std::vector<Request> out;
    out.reserve(impl_->log.size());
    for (Impl::Logged &logged : impl_->log) {
        impl_->write_hex(logged);
        out.push_back(logged.request);
    }
    return out;
}

void Server::clear_requests()
{
    std::lock_guard lock(impl_->log_mu);
    impl_->log.clear();
}

bool Server::wait_for_requests(size_t n, int timeout_ms) const
{
    std::unique_lock lock(impl_->log_mu);
    return impl_->log_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return impl_->log.size() >= n; });
}

std::vector<std::string> Server::values(const std::string &dn, const std::string &attr) const
{
    auto ndn = normalize_dn(dn);
    if (!ndn) return {};
    return impl_->tree.read([&](const EntryMap &entries) -> std::vector<std::string> {
        auto it = entries.find(*ndn);
        if (it == entries.end()) return {};
        const Attribute *a = it->second.find(attr);
        return a ? a->values : std::vector<std::string>();
    });
}

void Server::set_values(const std::string &dn, const std::string &attr, const std::vector<std::string> &values)
{
    auto ndn = normalize_dn(dn);
    if (!ndn || ndn->empty()) return;
    impl_->tree.write([&](EntryMap &entries, uint64_t &next_seq) {
        auto it = entries.find(*ndn);
        if (it == entries.end()) {
            Entry e;
            e.dn = dn;
            e.seq = next_seq++;
            it = entries.emplace(*ndn, std::move(e)).first;
        }
        auto &attrs = it->second.attrs;
        Attribute *a = it->second.find(attr);
        if (values.empty()) {
            if (a) attrs.erase(attrs.begin() + (a - attrs.data()));
        } else if (a) {
            a->values = values;
        } else {
            attrs.push_back({attr, values});
        }
    });
}

bool Server::exists(const std::string &dn) const
{
    auto ndn = normalize_dn(dn);
    return ndn && impl_->tree.read([&](const EntryMap &entries) { return entries.count(*ndn) != 0; });
}

}  // namespace dirsim
