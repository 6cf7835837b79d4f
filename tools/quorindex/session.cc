#include "session.h"

#include <dirext/tls.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "key_file.h"
#include "ldap_handles.h"

namespace quorindex {

Session::~Session()
{
    if (ld_) ldap_unbind_s(ld_);
    if (tls_initialised_) ldapssl_client_deinit();
}

int Session::open(const Settings &s)
{
    if (s.uses_tls()) return open_tls(s);
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

// The library's process-wide TLS context secures the session: either the
// key file's certificate is trusted (and the server's must verify), or, with
// -Z alone, the server's certificate is not verified.
int Session::open_tls(const Settings &s)
{
    if (int rc = ldapssl_client_init(nullptr, nullptr)) {
        std::fprintf(stderr, "ldapssl_client_init error %d\n", rc);
        return 1;
    }
    tls_initialised_ = true;
    if (s.key_file) {
        int type = key_file_type(s.key_file->c_str());
        if (type == -1) {
            std::fprintf(stderr, "Error finding filetype of: %s\n", s.key_file->c_str());
            return 1;
        }
        if (int rc = ldapssl_add_trusted_cert(s.key_file->c_str(), type)) {
            std::fprintf(stderr, "ldapssl_add_trusted_cert error: %d\n", rc);
            return 1;
        }
    } else if (int rc = ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF)) {
        std::fprintf(stderr, "ldapssl_set_verify_mode error %d\n", rc);
        return 1;
    }

    bool start_tls = s.tls_count > 0;
    LDAPURLDesc desc{};
    desc.lud_scheme = const_cast<char *>(start_tls ? "ldap" : "ldaps");
    desc.lud_host = s.host ? const_cast<char *>(s.host->c_str()) : nullptr;
    desc.lud_port = s.port ? s.port : (start_tls ? 389 : 636);
    desc.lud_scope = -1;
    LdapString url(ldap_url_desc2str(&desc));
    int rc = url ? ldap_initialize(&ld_, url.get()) : LDAP_NO_MEMORY;
    if (rc != LDAP_SUCCESS) {
        std::printf("\n ldap_initialize  error: %d\n", rc);
        return 1;
    }
    if (!ld_) {
        std::puts("ldap_initialize error");
        return 1;
    }
    return 0;
}

int Session::start_tls(const Settings &s)
{
    if (ldap_start_tls_s(ld_, nullptr, nullptr) == LDAP_SUCCESS) return 0;
    if (s.tls_count == 1) {
        std::fputs("# WARNING: could not start TLS\n", stderr);
        return 0;
    }
    ldap_perror(ld_, "ldap_start_tls_s");
    return 1;
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
