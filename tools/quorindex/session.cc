#include "session.h"

#include <cstdio>
#include <ctime>

namespace quorindex {

Session::~Session()
{
    if (ld_) ldap_unbind_s(ld_);
}

int Session::open(const Settings &s)
{
    if (s.uses_tls()) {
        std::fputs("quorindex: TLS (-e, -Z) is not available in this build\n", stderr);
        return 1;
    }
    ld_ = ldap_init(s.host ? s.host->c_str() : nullptr, s.port);
    if (!ld_) {
        std::perror("ldap_init");
        return 1;
    }
    return 0;
}

int Session::apply_time_limit(int seconds)
{
    struct timeval limit = {seconds, 0};
    ldap_set_option(ld_, LDAP_OPT_NETWORK_TIMEOUT, &limit);
    // The limit also bounds how long the tool waits for any answer, so that a
    // server that accepts the connection but never replies cannot hang it.
    ldap_set_option(ld_, LDAP_OPT_TIMEOUT, &limit);
    if (ldap_set_option(ld_, LDAP_OPT_TIMELIMIT, &seconds) != LDAP_OPT_SUCCESS) {
        std::fprintf(stderr, "Could not set LDAP_OPT_TIMELIMIT %d\n", seconds);
        return 1;
    }
    return 0;
}

int Session::start_tls(const Settings &)
{
    return 0;
}

int Session::bind(const Settings &s)
{
    if (ldap_simple_bind_s(ld_, s.bind_dn->c_str(), s.password->c_str()) != LDAP_SUCCESS) {
        ldap_perror(ld_, "ldap_simple_bind_s");
        return -1;
    }
    return 0;
}

}  // namespace quorindex
