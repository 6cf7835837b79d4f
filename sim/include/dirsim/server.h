// The directory simulator: a small LDAP v3 server that stands in for the
// directory server in tests and in the demo.  It never uses libdirext's code,
// so that a mistake shared by the two cannot pass unseen.
//
// A test starts one in process:
//
//   dirsim::Server server({.ldif_path = "tests/data/server.ldif"});
//   ASSERT_TRUE(server.start());
//   ... point a client at server.url() ...
//   server.script({.op = "extended", .oid = kLimber, .reply = {.result_code = 53}});
//   auto log = server.requests();        // what the client sent, in order
//
// Without scripted rules it answers as a real server would (realistic mode):
// - Bind: simple binds compare the password with the entry's userPassword
//   values byte for byte; wrong password or unknown DN 49, DN without password
//   53, empty DN and password anonymous (0), a DN that does not parse 34.  SASL
//   mechanisms nobody registered: 7.  No access control: anyone may change.
// - DNs compare after ldap_dn_normalize, without regard to case; attribute
//   names without regard to case; values are kept and returned as given.
// - Search: base/one/sub, entries in the order they were created.  Every
//   attribute matches alike: equality and approx ignore ASCII case, substrings
//   too; >= and <= compare integers by number and other text by case-ignoring
//   byte order; objectClass is always present; extensible match is Undefined.
//   Unknown base: 32 with the nearest existing ancestor as matched DN.  Base ""
//   with scope base is the root DSE (supportedLDAPVersion, namingContexts,
//   supportedExtension, supportedControl, supportedSASLMechanisms).
// - Modify is atomic: an existing value added 20, an absent value or absent
//   attribute deleted 16, unknown entry 32, the RDN's value removed 67.
// - Add: 68 existing, 32 missing parent, 64 without the RDN's value; delete:
//   32 missing, 66 with children.  Compare: 6/5, 16 without the attribute.
// - An extended request nobody registered: 2, "unsupported extended
//   operation", no response name.  An unknown critical control: 12.
// - A request whose operation cannot be decoded: 2 "decoding error" in that
//   operation's response (unbind and abandon: the connection closes).  A
//   message that cannot be framed or an unknown operation: a notice of
//   disconnection (2, "decoding error" or "unknown LDAP request"), then close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dirsim {

// One request control in full.
struct RequestControl {
    std::string oid;
    bool critical = false;
    bool has_value = false;
    std::string value_hex;  // lower-case hex without separators
};

// One request as the server received it.
struct Request {
    int msgid = 0;
    std::string op;         // "bind", "search", "modify", "add", "delete", "modrdn",
                            // "compare", "extended", "abandon", "unbind"
    std::string dn;         // bind name, search base or target entry
    std::string oid;        // extended request name ("" for other operations)
    bool has_value = false; // extended request carried a requestValue
    std::string value_hex;  // that value, lower-case hex without separators
    std::vector<std::string> controls;  // OIDs of the request controls, in order
    // A readable summary of the rest of the operation:
    //   bind:    "simple" or "sasl <mechanism>"
    //   search:  "scope=<base|one|sub> filter=<RFC 4515 text> attrs=<a,b,...>"
    //   modify:  "<add|delete|replace> <attr>: <v1> | <v2>; <add|...> <attr>: ..."
    //   add:     "<attr>: <v1> | <v2>; <attr>: ..."
    //   modrdn:  "newrdn=<rdn> deleteoldrdn=<0|1>" and " newsuperior=<dn>" when sent
    //   compare: "<attr>=<value>"
    //   abandon: "msgid=<n>"
    //   others:  ""; a request whose body cannot be decoded: "malformed"
    // Values appear as sent.  An attribute without values reads "<op> <attr>:".
    // Filter values escape '*', '(', ')', the backslash and bytes outside
    // 0x20..0x7e as \hh (lower-case hex); attrs is empty when none were requested.
    // has_value/value_hex also carry the simple bind password, the SASL
    // credentials (when sent) and the compare assertion value.
    std::string detail;
    std::vector<RequestControl> control_details;  // the same controls in full
    bool tls = false;  // arrived over TLS (ldaps://, or after StartTLS)
};

// One line for logs: msgid=<n> op=<op> dn="<dn>"[ oid=<oid>][ value=<hex>]
// [ controls=<oid,oid>] detail="<detail>"
std::string format_request(const Request &request);

// A control sent with a response.
struct ResponseControl {
    std::string oid;
    bool critical = false;
    std::optional<std::string> value;  // raw bytes
};

// A canned answer for a request that a rule matches.
struct Reply {
    int result_code = 0;
    std::string matched_dn;
    std::string diagnostic;
    std::optional<std::string> response_name;   // extended responses only
    std::optional<std::string> response_value;  // raw bytes; extended responses only
                                                // (a bind response sends it as serverSaslCreds)
    int delay_ms = 0;                 // wait this long before answering
    bool drop_connection = false;     // close the connection instead of answering
    std::optional<std::string> raw;   // send these bytes instead of a response
    std::vector<ResponseControl> controls;  // sent with the response
    // Order: delay, then raw bytes or the response, then the close.  With both
    // raw and drop_connection the raw bytes go out before the close.  Unbind and
    // abandon get no response, only the delay, raw bytes and close.
};

// Scripted behaviour.  The first rule whose op (and oid, when set) matches a
// request answers it instead of the realistic handler; `skip` lets that many
// matching requests through first, `times` limits how often the rule fires
// (-1: always).  A scripted reply does not change the tree.  A request that a
// rule skips is offered to the later rules, then to the realistic handler.
// Requests whose body cannot be decoded are never scripted.
struct Rule {
    std::string op;
    std::string oid;
    int skip = 0;
    int times = -1;
    Reply reply;
};

struct Options {
    std::string ldif_path;  // initial tree; users are the entries with userPassword
    std::string ldif_text;  // alternatively, the LDIF itself
    uint16_t port = 0;      // 0: a free port chosen at start
    // Called for every request once it is logged, on the connection's thread,
    // one call at a time, under the log's lock: it must not call the server.
    std::function<void(const Request &)> on_request;
    size_t max_connections = 32;  // further connections are closed at once
    int search_delay_ms = 0;      // realistic searches wait this long before answering
    int lburp_max_operations = 1000;  // the LBURP start response's limit per update request

    // TLS.  With a certificate and key (PEM; the certificate file may carry
    // the chain after it) StartTLS ("1.3.6.1.4.1.1466.20037") succeeds;
    // without them, or with refuse_starttls, it is refused with unavailable
    // (52).  A handshake that fails closes that connection only.
    std::string tls_cert_file;
    std::string tls_key_file;
    bool ldaps = false;             // a second listener, TLS from the start (needs the above)
    bool refuse_starttls = false;
    // Ask each TLS client for a certificate and note its subject
    // (client_subjects()).  A client may send none.  With tls_ca_file the
    // certificate must verify against it, else the handshake fails; without
    // one any certificate is accepted.
    bool request_client_cert = false;
    std::string tls_ca_file;
};

class Server {
public:
    explicit Server(Options options);
    ~Server();  // stops the server
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Loads the tree, listens on 127.0.0.1 and serves on a thread of its own.
    // False (with a message on stderr) if the LDIF or the socket fails.
    // The tree is loaded by the first start only; a restart after stop() keeps
    // the tree, the script and the log, and listens on the same port again.
    bool start();
    // Closes the listener and every connection and joins their threads.
    void stop();

    uint16_t port() const;
    std::string url() const;  // "ldap://127.0.0.1:<port>"
    uint16_t ldaps_port() const;     // with Options::ldaps
    std::string ldaps_url() const;   // "ldaps://127.0.0.1:<port>"
    // Subjects of the client certificates received, in OpenSSL's one-line
    // form ("/CN=..."), one per handshake that carried one.
    std::vector<std::string> client_subjects() const;

    void script(Rule rule);
    void clear_script();

    // The log, in the order the requests arrived.  A request is logged before
    // it is answered; unbind and abandon get no answer, so wait for them.
    std::vector<Request> requests() const;
    void clear_requests();
    // True as soon as the log holds at least n requests; false after timeout_ms.
    bool wait_for_requests(size_t n, int timeout_ms) const;

    // Values of one attribute of one entry as the tree holds them now
    // (empty when the entry or the attribute does not exist).
    std::vector<std::string> values(const std::string &dn, const std::string &attr) const;
    // Replaces the attribute's values (none: removes it); creates the entry
    // when it does not exist.  An invalid DN is ignored.
    void set_values(const std::string &dn, const std::string &attr,
                    const std::vector<std::string> &values);
    bool exists(const std::string &dn) const;

    // True as soon as at least n persistent searches are in place, that is,
    // any change made from now on is reported to them; false after timeout_ms.
    bool wait_for_persistent_searches(size_t n, int timeout_ms) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace dirsim
