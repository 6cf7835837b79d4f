#include "connection.h"

#include <dirext/sasl.h>
#include <dirext/tls.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "key_file.h"
#include "ldap_handles.h"

namespace toolkit {
namespace {

// ldap.conf's trusted certificate file and whether it asks for verification,
// read before the library's context replaces libldap's own.
struct ConfiguredTls {
    std::string ca_file;
    bool verify = true;
};

ConfiguredTls configured_tls()
{
    ConfiguredTls c;
    char *file = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, &file) == LDAP_OPT_SUCCESS && file) {
        c.ca_file = file;
        ldap_memfree(file);
    }
    int require = LDAP_OPT_X_TLS_DEMAND;
    if (ldap_get_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &require) == LDAP_OPT_SUCCESS)
        c.verify = require != LDAP_OPT_X_TLS_NEVER && require != LDAP_OPT_X_TLS_ALLOW;
    return c;
}

int trust_file(const std::string &path)
{
    int type = key_file_type(path.c_str());
    if (type == -1) {
        std::fprintf(stderr, "Error finding filetype of: %s\n", path.c_str());
        return 1;
    }
    if (int rc = ldapssl_add_trusted_cert(path.c_str(), type)) {
        std::fprintf(stderr, "ldapssl_add_trusted_cert error: %d\n", rc);
        return 1;
    }
    return 0;
}

// The realm the user named, or the server's first when none was named.
int choose_realm(char **realms, const std::optional<std::string> &wanted)
{
    if (!realms || !realms[0]) return -1;
    if (!wanted) return 0;
    for (int i = 0; realms[i]; ++i)
        if (strcasecmp(realms[i], wanted->c_str()) == 0) return i;
    return -1;
}

std::string realm_list(char **realms)
{
    std::string list;
    for (int i = 0; realms && realms[i]; ++i) list += (i ? ", " : "") + std::string(realms[i]);
    return list.empty() ? "none" : list;
}

}  // namespace

Connection::~Connection()
{
    close();
    if (tls_initialised_) ldapssl_client_deinit();
}

void Connection::close()
{
    if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
    ld_ = nullptr;
}

int Connection::open(const ConnectionOptions &o)
{
    if (o.uri) return open_uri(o);
    if (o.uses_tls()) return open_tls(o);
    ld_ = ldap_init(o.host ? o.host->c_str() : nullptr, o.port);
    if (!ld_) {
        std::perror("ldap_init");
        return 1;
    }
    return 0;
}

// The library's process-wide TLS context secures the session: the key file's
// certificate is trusted and the server's must verify; without one, either
// ldap.conf's trusted certificates are used or (quorindex) nothing is verified.
int Connection::set_up_tls(const ConnectionOptions &o)
{
    if (tls_initialised_) return 0;  // a reconnection keeps the context
    ConfiguredTls configured = configured_tls();
    if (int rc = ldapssl_client_init(nullptr, nullptr)) {
        std::fprintf(stderr, "ldapssl_client_init error %d\n", rc);
        return 1;
    }
    tls_initialised_ = true;
    if (o.key_file) return trust_file(*o.key_file);
    if (o.verify_without_key_file && configured.verify) {
        return configured.ca_file.empty() ? 0 : trust_file(configured.ca_file);
    }
    if (int rc = ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF)) {
        std::fprintf(stderr, "ldapssl_set_verify_mode error %d\n", rc);
        return 1;
    }
    return 0;
}

int Connection::open_tls(const ConnectionOptions &o)
{
    if (int rc = set_up_tls(o)) return rc;
    bool start_tls = o.tls_count > 0;
    LDAPURLDesc desc{};
    desc.lud_scheme = const_cast<char *>(start_tls ? "ldap" : "ldaps");
    desc.lud_host = o.host ? const_cast<char *>(o.host->c_str()) : nullptr;
    desc.lud_port = o.port ? o.port : (start_tls ? 389 : 636);
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

int Connection::open_uri(const ConnectionOptions &o)
{
    bool secured = o.uses_tls() || strncasecmp(o.uri->c_str(), "ldaps:", 6) == 0;
    if (secured)
        if (int rc = set_up_tls(o)) return rc;
    int rc = ldap_initialize(&ld_, o.uri->c_str());
    if (rc != LDAP_SUCCESS || !ld_) {
        std::fprintf(stderr, "%s: %s\n", o.uri->c_str(), ldap_err2string(rc ? rc : LDAP_NO_MEMORY));
        return 1;
    }
    int version = LDAP_VERSION3;
    ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
    return 0;
}

int Connection::apply_time_limit(int seconds)
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

int Connection::start_tls(const ConnectionOptions &o)
{
    if (ldap_start_tls_s(ld_, nullptr, nullptr) == LDAP_SUCCESS) return 0;
    if (o.tls_count == 1) {
        std::fputs("# WARNING: could not start TLS\n", stderr);
        return 0;
    }
    ldap_perror(ld_, "ldap_start_tls_s");
    return 1;
}

int Connection::bind(const ConnectionOptions &o)
{
    if (o.sasl_mech) return bind_digest_md5(o);
    const char *dn = o.bind_dn ? o.bind_dn->c_str() : "";
    const char *password = o.password ? o.password->c_str() : "";
    if (ldap_simple_bind_s(ld_, dn, password) != LDAP_SUCCESS) {
        if (!quiet_) ldap_perror(ld_, "ldap_simple_bind_s");
        return -1;
    }
    return 0;
}

// The library's DIGEST-MD5 bind checks the server's rspauth, so a server that
// cannot prove it knows the password fails the bind.
int Connection::bind_digest_md5(const ConnectionOptions &o)
{
    DigestMD5Context *ctx = nullptr;
    int rc = ldap_bind_digest_md5_start(ld_, &ctx);
    if (rc == 2) {
        std::fputs("DIGEST-MD5 bind: the server completed the bind without a challenge\n", stderr);
        return -1;
    }
    if (rc != 0) {
        std::fprintf(stderr, "DIGEST-MD5 bind: %s (%d)\n",
                     rc > 1000 ? "the server's challenge is not usable" : ldap_err2string(rc), rc);
        return -1;
    }
    char **realms = nullptr;
    ldap_get_digest_md5_realms(ctx, &realms);
    int index = choose_realm(realms, o.sasl_realm);
    if (index < 0) {
        std::fprintf(stderr, "DIGEST-MD5 bind: realm %s not offered (offered: %s)\n",
                     o.sasl_realm ? o.sasl_realm->c_str() : "(any)", realm_list(realms).c_str());
        ldap_bind_digest_md5_finish(&ctx, nullptr, nullptr, 0, 0, DIGEST_MD5_CANCEL);
        return -1;
    }
    const std::string &password = o.password ? *o.password : std::string();
    rc = ldap_bind_digest_md5_finish(&ctx, o.sasl_user->c_str(), password.data(),
                                     static_cast<int>(password.size()), index, DIGEST_MD5_PROCEED);
    if (ctx) ldap_bind_digest_md5_finish(&ctx, nullptr, nullptr, 0, 0, DIGEST_MD5_CANCEL);
    if (rc != 0) {
        std::fprintf(stderr, "DIGEST-MD5 bind: %s (%d)%s\n", ldap_err2string(rc), rc,
                     rc == LDAP_INVALID_CREDENTIALS
                         ? ": wrong user or password, or the server could not prove its identity"
                         : "");
        return -1;
    }
    return 0;
}

int Connection::establish(const ConnectionOptions &o)
{
    if (int rc = open(o)) return rc;
    if (o.time_limit != -1)
        if (int rc = apply_time_limit(o.time_limit)) return rc;
    if (o.tls_count > 0)
        if (int rc = start_tls(o)) return rc;
    return bind(o);
}

}  // namespace toolkit
