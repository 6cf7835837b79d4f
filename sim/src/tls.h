// TLS for the simulator: the server context made from the Options' files,
// and the handshake that turns a connection into a TLS one (at once for
// ldaps://, after the StartTLS response otherwise).  The SSL session becomes
// one more Sockbuf_IO layer over the socket, so the connection's reader and
// writer stay as they are.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "dirsim/server.h"

namespace dirsim::detail {

class Connection;
struct Session;

struct SslCtxFree {
    void operator()(SSL_CTX *ctx) const { SSL_CTX_free(ctx); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;

// The server context: certificate chain and key (PEM), and with
// request_client_cert a request for the client's certificate, verified
// against tls_ca_file when one is given (any certificate is accepted
// otherwise).  Null, with the reason in *error, when a file does not load.
SslCtxPtr make_server_context(const Options &options, std::string *error);

// Runs the server side of the handshake on the connection and, when it
// succeeds, pushes the TLS layer and marks the session secure; the client's
// certificate subject (if it sent one) goes into session.tls_client_subject.
// False when the handshake fails: the caller closes the connection.
bool accept_tls(SSL_CTX *ctx, Connection &connection, Session &session);

}  // namespace dirsim::detail
