#include "peer.h"

#include <openldap.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace events_test {

namespace {

bool read_exact(int fd, std::string &out, std::size_t n, int timeout_ms)
{
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return false;
        char buf[4096];
        ssize_t got = read(fd, buf, n < sizeof buf ? n : sizeof buf);
        if (got <= 0) return false;
        out.append(buf, static_cast<std::size_t>(got));
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

Peer::Peer()
{
    signal(SIGPIPE, SIG_IGN);  // a write to a hung-up peer must fail, not kill the test
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
    fd_ = fds[1];
    if (ldap_init_fd(fds[0], LDAP_PROTO_TCP, "ldap://127.0.0.1:389", &ld_) != LDAP_SUCCESS)
        throw std::runtime_error("ldap_init_fd");
    int version = LDAP_VERSION3;
    ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
}

Peer::~Peer()
{
    ldap_unbind_ext(ld_, nullptr, nullptr);
    if (fd_ >= 0) close(fd_);
}

std::string Peer::receive(int timeout_ms)
{
    std::string msg;
    if (fd_ < 0 || !read_exact(fd_, msg, 2, timeout_ms)) return "";
    std::size_t length = static_cast<unsigned char>(msg[1]);
    if (length & 0x80) {
        std::size_t octets = length & 0x7f;
        if (!read_exact(fd_, msg, octets, timeout_ms)) return "";
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) length = (length << 8) | static_cast<unsigned char>(msg[2 + i]);
    }
    if (!read_exact(fd_, msg, length, timeout_ms)) return "";
    return msg;
}

void Peer::send(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("write to the session failed");
        done += static_cast<std::size_t>(n);
    }
}

void Peer::hang_up()
{
    close(fd_);
    fd_ = -1;
}

int Peer::open_operation()
{
    int msgid = -1;
    if (ldap_extended_operation(ld_, "1.3.6.1.4.1.32473.1", nullptr, nullptr, nullptr, &msgid) != LDAP_SUCCESS)
        throw std::runtime_error("ldap_extended_operation");
    receive();
    return msgid;
}

Message Peer::next(int msgid)
{
    struct timeval timeout = {5, 0};
    LDAPMessage *m = nullptr;
    if (ldap_result(ld_, msgid, LDAP_MSG_ONE, &timeout, &m) <= 0) return nullptr;
    return Message(m);
}

Message Peer::deliver(int msgid, const std::string &bytes)
{
    send(bytes);
    return next(msgid);
}

int Peer::result_code() const
{
    int code = 12345;
    ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &code);
    return code;
}

void Peer::set_result_code(int code) { ldap_set_option(ld_, LDAP_OPT_RESULT_CODE, &code); }

}  // namespace events_test
