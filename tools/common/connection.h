// Opening, securing and binding an LDAP session for the command-line tools:
// the connection options they share and the steps that use them.
#pragma once

#include <ldap.h>

#include <optional>
#include <string>

namespace toolkit {

struct ConnectionOptions {
    std::optional<std::string> uri;        // -H; otherwise host and port, or ldap.conf's URI
    std::optional<std::string> host;       // -h
    int port = 0;                          // -p; 0: the default for the scheme
    std::optional<std::string> bind_dn;    // -D
    std::optional<std::string> password;   // -w, -W or -y
    std::optional<std::string> key_file;   // -e: trusted certificate, TLS from the start
    int tls_count = 0;                     // -Z; 2 or more: StartTLS must succeed
    int time_limit = -1;                   // -l seconds; -1: none
    std::optional<std::string> sasl_mech;  // -Y (DIGEST-MD5 only)
    std::optional<std::string> sasl_user;  // -U
    std::optional<std::string> sasl_realm; // -R
    // Without -e, a secured session trusts ldap.conf's TLS_CACERT and verifies
    // the server's certificate (dirext).  quorindex keeps its documented
    // behaviour instead: -Z alone does not verify.
    bool verify_without_key_file = true;

    bool uses_tls() const { return key_file.has_value() || tls_count > 0; }
};

// One session; each step returns 0 or the run's exit status, its message
// already written.  The destructor unbinds and releases the TLS set-up.
class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int open(const ConnectionOptions &o);
    int apply_time_limit(int seconds);
    int start_tls(const ConnectionOptions &o);
    int bind(const ConnectionOptions &o);  // simple, or DIGEST-MD5 with -Y
    // open, time limit, StartTLS and bind, in that order.
    int establish(const ConnectionOptions &o);
    // Unbinds the session; the TLS set-up stays for the next open.
    void close();

    LDAP *handle() const { return ld_; }
    // Quiet: a failed bind writes no message (a caller that retries says
    // itself what happened).
    void set_quiet(bool quiet) { quiet_ = quiet; }

private:
    int open_tls(const ConnectionOptions &o);
    int open_uri(const ConnectionOptions &o);
    int set_up_tls(const ConnectionOptions &o);
    int bind_digest_md5(const ConnectionOptions &o);

    LDAP *ld_ = nullptr;
    bool tls_initialised_ = false;
    bool quiet_ = false;
};

}  // namespace toolkit
