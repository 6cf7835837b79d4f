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
// Without scripted rules it answers as a real server would (realistic mode).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dirsim {

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
    std::string detail;
};

// A canned answer for a request that a rule matches.
struct Reply {
    int result_code = 0;
    std::string matched_dn;
    std::string diagnostic;
    std::optional<std::string> response_name;   // extended responses only
    std::optional<std::string> response_value;  // raw bytes; extended responses only
    int delay_ms = 0;                 // wait this long before answering
    bool drop_connection = false;     // close the connection instead of answering
    std::optional<std::string> raw;   // send these bytes instead of a response
};

// Scripted behaviour.  The first rule whose op (and oid, when set) matches a
// request answers it instead of the realistic handler; `skip` lets that many
// matching requests through first, `times` limits how often the rule fires
// (-1: always).  A scripted reply does not change the tree.
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
};

class Server {
public:
    explicit Server(Options options);
    ~Server();  // stops the server
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Loads the tree, listens on 127.0.0.1 and serves on a thread of its own.
    // False (with a message on stderr) if the LDIF or the socket fails.
    bool start();
    void stop();

    uint16_t port() const;
    std::string url() const;  // "ldap://127.0.0.1:<port>"

    void script(Rule rule);
    void clear_script();

    std::vector<Request> requests() const;
    void clear_requests();

    // Values of one attribute of one entry as the tree holds them now
    // (empty when the entry or the attribute does not exist).
    std::vector<std::string> values(const std::string &dn, const std::string &attr) const;
    void set_values(const std::string &dn, const std::string &attr,
                    const std::vector<std::string> &values);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace dirsim
