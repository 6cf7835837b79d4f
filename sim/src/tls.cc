#include "tls.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cerrno>

#include "connection.h"
#include "core.h"

namespace dirsim::detail {
namespace {

struct SslFree {
    void operator()(SSL *ssl) const { SSL_free(ssl); }
};
using SslPtr = std::unique_ptr<SSL, SslFree>;

std::string openssl_error()
{
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e) return "unknown error";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

// ---- the Sockbuf_IO layer over an SSL * ----
// The SSL reads and writes the socket itself (SSL_set_fd), so this layer sits
// at the transport level directly above the tcp provider and only translates
// SSL's results into what liblber expects: a byte count, 0 at the end of the
// stream, or -1 with errno set.

int sb_setup(Sockbuf_IO_Desc *sbiod, void *arg)
{
    sbiod->sbiod_pvt = arg;  // takes the SSL * over
    return 0;
}

int sb_remove(Sockbuf_IO_Desc *sbiod)
{
    SSL_free(static_cast<SSL *>(sbiod->sbiod_pvt));
    sbiod->sbiod_pvt = nullptr;
    return 0;
}

int sb_ctrl(Sockbuf_IO_Desc *sbiod, int opt, void *arg)
{
    // Decrypted bytes held inside the SSL are invisible to poll().
    if (opt == LBER_SB_OPT_DATA_READY && SSL_pending(static_cast<SSL *>(sbiod->sbiod_pvt)) > 0) return 1;
    return LBER_SBIOD_CTRL_NEXT(sbiod, opt, arg);
}

ber_slen_t sb_result(SSL *ssl, int n)
{
    if (n > 0) return n;
    switch (SSL_get_error(ssl, n)) {
    case SSL_ERROR_ZERO_RETURN:  // close_notify: a clean end of stream
        return 0;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        errno = EWOULDBLOCK;
        return -1;
    case SSL_ERROR_SYSCALL:
        ERR_clear_error();
        if (errno == 0) return 0;  // the peer closed without close_notify
        return -1;
    default:
        ERR_clear_error();
        errno = EIO;
        return -1;
    }
}

ber_slen_t sb_read(Sockbuf_IO_Desc *sbiod, void *buf, ber_len_t len)
{
    SSL *ssl = static_cast<SSL *>(sbiod->sbiod_pvt);
    errno = 0;
    return sb_result(ssl, SSL_read(ssl, buf, len > INT32_MAX ? INT32_MAX : int(len)));
}

ber_slen_t sb_write(Sockbuf_IO_Desc *sbiod, void *buf, ber_len_t len)
{
    SSL *ssl = static_cast<SSL *>(sbiod->sbiod_pvt);
    errno = 0;
    return sb_result(ssl, SSL_write(ssl, buf, len > INT32_MAX ? INT32_MAX : int(len)));
}

int sb_close(Sockbuf_IO_Desc *sbiod)
{
    // One close_notify, without waiting for the peer's; the tcp layer below
    // closes the socket afterwards.  A peer that is gone makes it fail, which
    // does not matter here.
    SSL *ssl = static_cast<SSL *>(sbiod->sbiod_pvt);
    if (SSL_is_init_finished(ssl)) SSL_shutdown(ssl);
    ERR_clear_error();
    return 0;
}

Sockbuf_IO sb_io_ssl = {sb_setup, sb_remove, sb_ctrl, sb_read, sb_write, sb_close};

// With request_client_cert and no CA file any certificate is welcome: the
// point is to see which one the client sent.
int accept_any(int, X509_STORE_CTX *) { return 1; }

std::string subject_of(X509 *cert)
{
    char *line = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0);
    if (!line) return {};
    std::string subject = line;
    OPENSSL_free(line);
    return subject;
}

}  // namespace

SslCtxPtr make_server_context(const Options &options, std::string *error)
{
    SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        *error = "cannot create a TLS context: " + openssl_error();
        return nullptr;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx.get(), options.tls_cert_file.c_str()) != 1) {
        *error = "cannot load the certificate " + options.tls_cert_file + ": " + openssl_error();
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx.get(), options.tls_key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1) {
        *error = "cannot load the key " + options.tls_key_file + ": " + openssl_error();
        return nullptr;
    }
    if (options.request_client_cert) {
        if (options.tls_ca_file.empty()) {
            SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, accept_any);
        } else {
            STACK_OF(X509_NAME) *names = SSL_load_client_CA_file(options.tls_ca_file.c_str());
            if (!names || SSL_CTX_load_verify_locations(ctx.get(), options.tls_ca_file.c_str(), nullptr) != 1) {
                if (names) sk_X509_NAME_pop_free(names, X509_NAME_free);
                *error = "cannot load the CA file " + options.tls_ca_file + ": " + openssl_error();
                return nullptr;
            }
            SSL_CTX_set_client_CA_list(ctx.get(), names);  // takes names over
            SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
        }
    }
    // One session per connection; no tickets to keep the handshakes plain.
    SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx.get(), 0);
    return ctx;
}

bool accept_tls(SSL_CTX *ctx, Connection &connection, Session &session)
{
    if (!ctx || !connection.sockbuf()) return false;
    SslPtr ssl(SSL_new(ctx));
    if (!ssl || SSL_set_fd(ssl.get(), connection.fd()) != 1) {
        ERR_clear_error();
        return false;
    }
    if (SSL_accept(ssl.get()) != 1) {
        ERR_clear_error();
        return false;
    }
    std::string subject;
    if (X509 *peer = SSL_get1_peer_certificate(ssl.get())) {
        subject = subject_of(peer);
        X509_free(peer);
    }
    if (ber_sockbuf_add_io(connection.sockbuf(), &sb_io_ssl, LBER_SBIOD_LEVEL_TRANSPORT, ssl.get()) != 0) {
        SSL_shutdown(ssl.get());
        ERR_clear_error();
        return false;
    }
    ssl.release();  // the layer owns it now
    session.tls = true;
    session.tls_client_subject = subject;
    return true;
}

}  // namespace dirsim::detail
