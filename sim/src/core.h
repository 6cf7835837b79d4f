// The simulator's core: the server's shared state (tree, request log, script,
// listener, connections) and the Exchange through which a handler answers one
// request.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ber.h"
#include "connection.h"
#include "dirsim/server.h"
#include "registry.h"
#include "tls.h"
#include "tree.h"

namespace dirsim {
namespace detail {

// Per-connection state that outlives one request.
struct Session {
    std::string bound_dn;  // "" while anonymous
    bool tls = false;      // ldaps://, or StartTLS has succeeded
    std::string tls_client_subject;  // the client certificate's, when it sent one
    // A SASL mechanism's state between the steps of a multi-step bind.
    std::shared_ptr<void> sasl_state;
    std::string sasl_mechanism;
    // State a handler file keeps for the connection, under a name of its own.
    std::map<std::string, std::shared_ptr<void>> handler_state;
};

// Encodes one LDAPResult-shaped response: code, matched DN, diagnostic; for
// extended responses also the response name [10] and value [11]; for bind
// responses the value as serverSaslCreds [7]; then the reply's controls.
BerPtr encode_response(int msgid, ber_tag_t tag, const Reply &reply);
// Appends "[0] Controls" to a message being encoded (nothing for none).
bool put_controls(BerElement *ber, const std::vector<ResponseControl> &controls);

// The answer for an entry that is not in the tree: noSuchObject, with the
// nearest existing ancestor as matched DN.
Reply no_such_object(const EntryMap &entries, const std::string &ndn);

class Exchange {
public:
    Exchange(Server::Impl &server, Connection &connection, Session &session, const Request &request,
             ber_tag_t response_tag)
        : server_(server), connection_(connection), session_(session), request_(request),
          response_tag_(response_tag)
    {
    }

    Server::Impl &server() { return server_; }
    Tree &tree();
    Session &session() { return session_; }
    const Request &request() const { return request_; }
    Connection &connection() { return connection_; }

    // The request's DN normalised; a DN that does not parse is answered here
    // with invalidDNSyntax and gives nothing.
    std::optional<std::string> target();
    // The same with the first RDN's pairs, from one parse of the DN.
    std::optional<ParsedDn> parsed_target();

    // The operation's response message; false when the client is gone.
    // Controls added before are sent with it.
    bool respond(const Reply &reply);
    bool result(int code, std::string_view matched = {}, std::string_view diagnostic = {});
    bool send(BerElement *message);  // any other message (search entries, ...)
    bool answered() const { return answered_; }
    // The last reply given to respond() (also for operations without a
    // response, so that a handler can run another operation and read its result).
    const Reply &reply() const { return reply_; }
    void add_response_control(ResponseControl control) { response_controls_.push_back(std::move(control)); }

    // The connection ends after this request (unbind, a lost client).
    void close_connection() { close_ = true; }
    bool closing() const { return close_; }

private:
    Server::Impl &server_;
    Connection &connection_;
    Session &session_;
    const Request &request_;
    ber_tag_t response_tag_;
    bool answered_ = false;
    bool close_ = false;
    Reply reply_;
    std::vector<ResponseControl> response_controls_;
};

}  // namespace detail

struct Server::Impl {
    explicit Impl(Options o) : options(std::move(o)) {}

    Options options;
    detail::Tree tree;
    bool tree_loaded = false;

    // The request log.  Each request keeps its value as raw bytes; the hex
    // that Request::value_hex shows is written when the log is read (an
    // update of a bulk load carries a whole batch of entries as its value).
    struct Logged {
        Request request;
        std::string value;  // raw, until request.value_hex is written
    };
    mutable std::mutex log_mu;
    mutable std::condition_variable log_cv;
    mutable std::vector<Logged> log;  // reading it writes the hex
    void record(const Request &request, std::string_view value);
    void write_hex(Logged &logged) const;

    // The script.
    struct ActiveRule {
        Rule rule;
        int skip_left;
        int times_left;  // -1: unlimited
    };
    std::mutex script_mu;
    std::vector<ActiveRule> rules;
    std::optional<Reply> scripted(const Request &request);

    // TLS: the context (null without a certificate) and the subjects of the
    // client certificates seen, in order.
    detail::SslCtxPtr tls_ctx;
    mutable std::mutex tls_mu;
    std::vector<std::string> client_subjects;
    // The handshake on a connection; records the client's subject.  False:
    // close the connection.
    bool secure(detail::Connection &connection, detail::Session &session);

    // The network.
    struct Slot {
        std::unique_ptr<detail::Connection> connection;
        std::thread thread;
        std::atomic<bool> done{false};
        bool ldaps = false;  // handshake first
    };
    std::mutex run_mu;  // serialises start() and stop()
    bool running = false;
    int listen_fd = -1;
    int ldaps_fd = -1;  // with options.ldaps
    uint16_t ldaps_port = 0;
    int wake[2] = {-1, -1};  // a pipe that wakes the acceptor
    uint16_t port = 0;
    std::thread acceptor;
    std::mutex slots_mu;
    std::list<std::shared_ptr<Slot>> slots;
    std::atomic<bool> stopping{false};
    std::mutex pause_mu;
    std::condition_variable pause_cv;

    bool listen_on(uint16_t wanted);
    int listen_socket(uint16_t wanted, uint16_t &bound);
    void accept_loop();
    void serve(std::shared_ptr<Slot> slot);
    // One message; false when the connection must end.
    bool handle(detail::Connection &connection, detail::Session &session, BerElement *message);
    bool play(detail::Exchange &exchange, const Reply &reply);
    // Waits, unless the server stops first (then false).
    bool pause(int ms);
};

}  // namespace dirsim
