#include "connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace dirsim::detail {

Connection::Connection(int fd) : fd_(fd)
{
    // Answers go out as several small writes (entries, then the result):
    // without this, Nagle's algorithm holds the last one back until the
    // client's delayed acknowledgement, some 40 ms per search.
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sb_ = ber_sockbuf_alloc();
    if (!sb_ || ber_sockbuf_add_io(sb_, &ber_sockbuf_io_tcp, LBER_SBIOD_LEVEL_PROVIDER, &fd_) != 0) {
        if (sb_) ber_sockbuf_free(sb_);
        sb_ = nullptr;
        ::close(fd_);
        fd_ = -1;
        return;
    }
    ber_len_t max = kMaxMessage;
    ber_sockbuf_ctrl(sb_, LBER_SB_OPT_SET_MAX_INCOMING, &max);
}

Connection::~Connection() { close(); }

BerPtr Connection::read_message(ber_tag_t *tag)
{
    if (!sb_) return nullptr;
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber) return nullptr;
    for (;;) {
        ber_len_t len = 0;
        errno = 0;
        ber_tag_t t = ber_get_next(sb_, &len, ber.get());
        if (t != LBER_DEFAULT) {
            *tag = t;
            return ber;
        }
        // A partial read leaves its state in ber; go on reading into it.
        if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EINTR) return nullptr;
    }
}

bool Connection::readable(int timeout_ms)
{
    if (!sb_) return true;
    if (ber_sockbuf_ctrl(sb_, LBER_SB_OPT_DATA_READY, nullptr)) return true;  // already buffered
    pollfd pfd{fd_, POLLIN, 0};
    return ::poll(&pfd, 1, timeout_ms) != 0;  // an error counts too: the reader finds out
}

bool Connection::write(BerElement *ber)
{
    return sb_ && ber_flush2(sb_, ber, LBER_FLUSH_FREE_NEVER) == 0;
}

bool Connection::write_raw(std::string_view bytes)
{
    if (bytes.empty()) return sb_ != nullptr;
    BerPtr ber(ber_alloc_t(LBER_USE_DER));
    return ber && ber_write(ber.get(), bytes.data(), bytes.size(), 0) == ber_slen_t(bytes.size()) &&
           write(ber.get());
}

void Connection::shutdown()
{
    std::lock_guard lock(mu_);
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Connection::close()
{
    std::lock_guard lock(mu_);
    if (sb_) ber_sockbuf_free(sb_);  // closes the socket through the tcp layer
    sb_ = nullptr;
    fd_ = -1;
}

}  // namespace dirsim::detail
