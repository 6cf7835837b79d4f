// StartTLS (RFC 4511 4.14): the success response goes out in the clear, then
// the handshake runs on the same connection and every later message travels
// over TLS.
#include <ldap.h>

#include "../core.h"

namespace dirsim::detail {
namespace {

constexpr const char kStartTls[] = "1.3.6.1.4.1.1466.20037";

void start_tls(Exchange &ex, const std::optional<std::string> &value)
{
    Server::Impl &server = ex.server();
    Reply reply;
    reply.response_name = kStartTls;
    if (value) {
        reply.result_code = LDAP_PROTOCOL_ERROR;
        reply.diagnostic = "StartTLS takes no request value";
    } else if (ex.session().tls) {
        reply.result_code = LDAP_OPERATIONS_ERROR;
        reply.diagnostic = "TLS is already in place";
    } else if (!server.tls_ctx || server.options.refuse_starttls) {
        reply.result_code = LDAP_UNAVAILABLE;
        reply.diagnostic = "StartTLS is not available";
    }
    if (!ex.respond(reply) || reply.result_code != LDAP_SUCCESS) return;
    if (!server.secure(ex.connection(), ex.session())) ex.close_connection();
}

const Registrar registrar([] { register_extended(kStartTls, start_tls); });

}  // namespace
}  // namespace dirsim::detail
