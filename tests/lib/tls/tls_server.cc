#include "tls_server.h"

#include <arpa/inet.h>
#include <ldap.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace tlstest {
namespace {

// The client certificate is only recorded, never judged.
int accept_any(int, X509_STORE_CTX *) { return 1; }

bool read_exact(SSL *ssl, unsigned char *buf, std::size_t n)
{
    while (n > 0) {
        int got = SSL_read(ssl, buf, static_cast<int>(n));
        if (got <= 0) return false;
        buf += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// One LDAPMessage: its message-id bytes and its protocol-op tag.
bool read_message(SSL *ssl, std::string &msgid, unsigned char &op)
{
    unsigned char head[2];
    if (!read_exact(ssl, head, 2) || head[0] != 0x30) return false;
    std::size_t len = head[1];
    if (len & 0x80) {
        int count = len & 0x7f;
        if (count < 1 || count > 3) return false;
        unsigned char bytes[3];
        if (!read_exact(ssl, bytes, static_cast<std::size_t>(count))) return false;
        len = 0;
        for (int i = 0; i < count; ++i) len = (len << 8) | bytes[i];
    }
    std::string body(len, '\0');
    if (len < 5 || !read_exact(ssl, reinterpret_cast<unsigned char *>(body.data()), len)) return false;
    auto id_len = static_cast<unsigned char>(body[1]);
    if (body[0] != 0x02 || id_len < 1 || id_len > 4 || 2u + id_len >= len) return false;
    msgid = body.substr(2, id_len);
    op = static_cast<unsigned char>(body[2 + id_len]);
    return true;
}

// BindResponse, success: 30 LL 02 NN <id> 61 07 0a 01 00 04 00 04 00.
std::string bind_response(const std::string &msgid)
{
    std::string op("\x61\x07\x0a\x01\x00\x04\x00\x04\x00", 9);
    std::string id = std::string("\x02", 1) + static_cast<char>(msgid.size()) + msgid;
    return std::string("\x30", 1) + static_cast<char>(id.size() + op.size()) + id + op;
}

}  // namespace

TlsBindServer::TlsBindServer(const Options &options) : request_client_cert_(options.request_client_cert)
{
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_, options.chain_pem_path.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, options.key_pem_path.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(ctx_);
        throw std::runtime_error("test server: cannot load its certificate or key");
    }
    if (request_client_cert_) SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, accept_any);
    // A client that gives up on the handshake closes first; writing to it
    // must not end the test process.
    signal(SIGPIPE, SIG_IGN);

    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t addr_len = sizeof addr;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 64) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &addr_len) != 0) {
        if (listen_fd_ >= 0) close(listen_fd_);
        SSL_CTX_free(ctx_);
        throw std::runtime_error("test server: cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

TlsBindServer::~TlsBindServer()
{
    stop_ = true;
    acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        workers.swap(workers_);
    }
    for (std::thread &t : workers) t.join();
    close(listen_fd_);
    SSL_CTX_free(ctx_);
}

std::vector<std::string> TlsBindServer::client_subjects() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return client_subjects_;
}

void TlsBindServer::accept_loop()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        timeval timeout{10, 0};  // a silent client cannot hold a worker forever
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::lock_guard<std::mutex> hold(mutex_);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void TlsBindServer::serve(int fd)
{
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx_), SSL_free);
    if (ssl && SSL_set_fd(ssl.get(), fd) == 1 && SSL_accept(ssl.get()) == 1) {
        if (request_client_cert_) {
            std::unique_ptr<X509, decltype(&X509_free)> peer(SSL_get1_peer_certificate(ssl.get()), X509_free);
            char name[512] = "";
            if (peer) X509_NAME_oneline(X509_get_subject_name(peer.get()), name, sizeof name);
            std::lock_guard<std::mutex> hold(mutex_);
            client_subjects_.emplace_back(name);
        }
        std::string msgid;
        unsigned char op = 0;
        while (read_message(ssl.get(), msgid, op)) {
            if (op == 0x42) break;  // unbind
            if (op != 0x60) continue;
            std::string reply = bind_response(msgid);
            ++binds_;  // before the client can see the answer
            if (SSL_write(ssl.get(), reply.data(), static_cast<int>(reply.size())) <= 0) break;
        }
        SSL_shutdown(ssl.get());
    }
    ERR_clear_error();
    close(fd);
}

int simple_bind(const std::string &url)
{
    LDAP *ld = nullptr;
    int rc = ldap_initialize(&ld, url.c_str());
    if (rc != LDAP_SUCCESS) return rc;
    int version = LDAP_VERSION3;
    timeval timeout{10, 0};
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout);
    berval password{6, const_cast<char *>("secret")};
    rc = ldap_sasl_bind_s(ld, "cn=admin,o=test", LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return rc;
}

}  // namespace tlstest
