// The I/O of one client connection.  Everything goes through a liblber
// Sockbuf, so whole LDAP messages are read with ber_get_next and written with
// ber_flush2.  The socket is the Sockbuf's provider layer; TLS (ldaps:// or
// after StartTLS) is meant to be one more Sockbuf_IO at the transport level
// over an OpenSSL SSL *, pushed by tls.cc, so that nothing above this class
// changes.
#pragma once

#include <lber.h>

#include <mutex>
#include <string_view>

#include "ber.h"

namespace dirsim::detail {

class Connection {
public:
    explicit Connection(int fd);  // takes the socket over
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool ok() const { return sb_ != nullptr; }

    // The next whole message, read past its outer SEQUENCE header (as libldap
    // and slapd read them), or null when the peer closed, the stream broke or
    // the message is larger than kMaxMessage.  The tag is in *tag.
    BerPtr read_message(ber_tag_t *tag);
    // True when a message (or the end of the stream) waits to be read,
    // within timeout_ms.
    bool readable(int timeout_ms);
    bool write(BerElement *ber);  // one encoded message
    bool write_raw(std::string_view bytes);

    // From any thread: wakes a read or write blocked on this connection.
    void shutdown();
    // From the owning thread, once it is done with the connection.
    void close();

    // For the TLS handshake, which pushes its own layer on the Sockbuf
    // (owning thread only).
    Sockbuf *sockbuf() { return sb_; }
    int fd() const { return fd_; }

    static constexpr ber_len_t kMaxMessage = 8 * 1024 * 1024;

private:
    std::mutex mu_;  // guards fd_/sb_ against shutdown() racing close()
    int fd_;
    Sockbuf *sb_ = nullptr;
};

}  // namespace dirsim::detail
