// The other end of a libldap session, in memory: the session runs over one
// end of a socket pair, the test reads what the library sent from the other
// end and writes the exact response bytes that libldap then delivers as
// LDAPMessages.  No server, no network.
#pragma once

#include <dirext.h>

#include <memory>
#include <string>

namespace events_test {

struct MessageFree {
    void operator()(LDAPMessage *m) const { ldap_msgfree(m); }
};
using Message = std::unique_ptr<LDAPMessage, MessageFree>;

class Peer {
public:
    Peer();
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    LDAP *ld() const { return ld_; }

    // One whole LDAP message the session sent ("" when none came in time).
    std::string receive(int timeout_ms = 2000);
    void send(const std::string &bytes);
    // Closes the peer's end: the session's next write or read fails.
    void hang_up();

    // Starts an operation for the test to answer and returns its message id.
    int open_operation();
    // The next message of `msgid` as libldap delivers it (null on time-out).
    Message next(int msgid);
    // Sends `bytes` and returns the message libldap makes of them.
    Message deliver(int msgid, const std::string &bytes);

    int result_code() const;
    void set_result_code(int code);

private:
    LDAP *ld_ = nullptr;
    int fd_ = -1;  // the test's end
};

}  // namespace events_test
