// A minimal ldaps:// peer for handshake tests: an OpenSSL server on a
// loopback port that completes the handshake and answers every simple bind
// with success.  Each connection runs on its own thread, so concurrent
// clients are served at once.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tlstest {

class TlsBindServer {
public:
    struct Options {
        std::string chain_pem_path;  // the server certificate (then its CA's)
        std::string key_pem_path;
        bool request_client_cert = false;  // ask for one and record its subject
    };

    explicit TlsBindServer(const Options &options);
    ~TlsBindServer();
    TlsBindServer(const TlsBindServer &) = delete;
    TlsBindServer &operator=(const TlsBindServer &) = delete;

    int port() const { return port_; }
    std::string url() const { return "ldaps://127.0.0.1:" + std::to_string(port_); }

    int binds_answered() const { return binds_.load(); }
    std::vector<std::string> client_subjects() const;  // one-line form, "" when none was sent

private:
    void accept_loop();
    void serve(int fd);

    SSL_CTX *ctx_ = nullptr;
    int listen_fd_ = -1;
    int port_ = 0;
    bool request_client_cert_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> binds_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<std::string> client_subjects_;
};

// One simple bind over a new session for url; returns libldap's result
// (0 when the handshake and the bind succeeded).
int simple_bind(const std::string &url);

}  // namespace tlstest
