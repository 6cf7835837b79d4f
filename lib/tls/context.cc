// The process-wide TLS client context: initialisation, verify settings, the
// verify hook, and sessions from host and port.
#include "core/alloc.h"
#include "core/handles.h"
#include "tls/internal.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// libldap's TLS layer initialises itself on a session's first TLS start,
// without a lock: two threads doing their first handshakes at once race on
// its internal mutex.  Its (exported, undeclared) initialiser is called here
// once, on the thread that initialises the library, so that never happens.
extern "C" int ldap_pvt_tls_init(int do_threads);

extern "C" {
pthread_mutex_t g_Sync = PTHREAD_MUTEX_INITIALIZER;
int g_SSLReg = 0;
SSL_CTX *g_CryptCtx = nullptr;
LDAPSSL_CERT_CALLBACK g_pCertCallback = nullptr;
unsigned char *randbuf = nullptr;
void *g_pSockets = nullptr;
int g_MaxSockets = 0;
void *g_pCertAlertCB = nullptr;
}

namespace dirext::tls {
namespace {

constexpr std::size_t kSeedBytes = 20;

// Handing an SSL_CTX to a libldap built on another TLS package corrupts
// memory, so the context is only installed where libldap says "OpenSSL".
bool libldap_uses_openssl()
{
    char *package = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_X_TLS_PACKAGE, &package) != LDAP_OPT_SUCCESS || !package)
        return false;
    LdapStringPtr hold(package);
    return std::strcmp(package, "OpenSSL") == 0;
}

// Adds a few bytes of the random device to OpenSSL's own seeding.  Called
// under g_Sync, which also covers the use of randbuf.
void seed_from_device()
{
    std::FILE *device = std::fopen("/dev/urandom", "rbe");
    if (!device) device = std::fopen("/dev/random", "rbe");
    if (!device) return;
    std::setvbuf(device, nullptr, _IONBF, 0);
    randbuf = static_cast<unsigned char *>(alloc(kSeedBytes));
    if (randbuf) {
        std::size_t got = std::fread(randbuf, 1, kSeedBytes, device);
        if (got > 0) RAND_seed(randbuf, static_cast<int>(got));
        OPENSSL_cleanse(randbuf, kSeedBytes);
        std::free(randbuf);
        randbuf = nullptr;
    }
    std::fclose(device);
}

bool readable(const char *path)
{
    std::FILE *f = std::fopen(path, "rbe");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// The file's certificates, DER first, then PEM (any number).
bool load_trusted_file(SSL_CTX *ctx, const char *path)
{
    X509_LOOKUP *lookup = X509_STORE_add_lookup(SSL_CTX_get_cert_store(ctx), X509_LOOKUP_file());
    if (!lookup) return false;
    bool loaded = X509_LOOKUP_load_file(lookup, path, X509_FILETYPE_ASN1) == 1;
    if (!loaded) {
        ERR_clear_error();  // the DER attempt's complaint says nothing about PEM
        loaded = X509_LOOKUP_load_file(lookup, path, X509_FILETYPE_PEM) == 1;
    }
    if (!loaded) return false;
    STACK_OF(X509_OBJECT) *objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(ctx));
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i)
        if (X509 *cert = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i))) cache_extensions(cert);
    return true;
}

// libldap's own host-name check runs after the handshake, outside the
// context's verification; it follows the verify mode.  Caller holds g_Sync.
bool set_host_check(bool on)
{
    int value = on ? LDAP_OPT_X_TLS_DEMAND : LDAP_OPT_X_TLS_NEVER;
    return ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &value) == LDAP_OPT_SUCCESS;
}

}  // namespace
}  // namespace dirext::tls

using namespace dirext;
using namespace dirext::tls;

extern "C" int ldapssl_client_init(const char *cert_file, void * /*reserved*/)
{
    return guard(-1, [&] {
        if (!libldap_uses_openssl()) return -1;
        {
            // One holding for the check and the set-up, so that two threads
            // initialising at once do not both run it.
            SyncGuard hold;
            if (!g_SSLReg) {
                if (SSL_library_init() != 1 || ldap_pvt_tls_init(1) != 0) return -1;
                g_SSLReg = 1;
                seed_from_device();
            }
        }
        SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
        if (!ctx) return -1;
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
        if (cert_file && readable(cert_file) && !load_trusted_file(ctx.get(), cert_file)) return -1;
        ERR_clear_error();

        SyncGuard hold;
        // libldap takes its own reference; ours is g_CryptCtx.
        if (ldap_set_option(nullptr, LDAP_OPT_X_TLS_CTX, ctx.get()) != LDAP_OPT_SUCCESS) return -1;
        set_host_check(true);
        SSL_CTX_free(g_CryptCtx);
        g_CryptCtx = ctx.release();
        return 0;
    });
}

extern "C" int ldapssl_client_deinit(void)
{
    SyncGuard hold;
    if (!g_SSLReg) return -1;
    SSL_CTX_free(g_CryptCtx);
    g_CryptCtx = nullptr;
    g_SSLReg = 0;
    g_pCertCallback = nullptr;
    return 0;
}

extern "C" LDAP *ldapssl_init(const char *host, int port, int secure)
{
    return guard(static_cast<LDAP *>(nullptr), [&]() -> LDAP * {
        if (port < 0 || port > 65535) return nullptr;
        LDAPURLDesc desc{};
        desc.lud_scheme = const_cast<char *>(secure ? "ldaps" : "ldap");
        desc.lud_host = const_cast<char *>(host);
        desc.lud_port = port;
        desc.lud_scope = -1;  // not written
        LdapStringPtr url(ldap_url_desc2str(&desc));
        if (!url) return nullptr;
        LDAP *ld = nullptr;
        if (ldap_initialize(&ld, url.get()) != LDAP_SUCCESS) {
            if (ld) ldap_unbind_ext(ld, nullptr, nullptr);
            return nullptr;
        }
        return ld;
    });
}

extern "C" int ldapssl_set_verify_mode(int mode)
{
    if (static_cast<unsigned>(mode) > LDAPSSL_VERIFY_PEER) return -1;
    SyncGuard hold;
    SSL_CTX *ctx = current_context();
    if (!ctx || !set_host_check(mode == LDAPSSL_VERIFY_PEER)) return -1;
    SSL_CTX_set_verify(ctx, mode, nullptr);
    return 0;
}

extern "C" int ldapssl_get_verify_mode(int *mode)
{
    if (!mode) return -1;
    SyncGuard hold;
    SSL_CTX *ctx = current_context();
    if (!ctx) return -1;
    *mode = SSL_CTX_get_verify_mode(ctx);
    return 0;
}

extern "C" int verify_callback(int ok, X509_STORE_CTX *store_ctx)
{
    LDAPSSL_CERT_CALLBACK callback;
    {
        SyncGuard hold;
        callback = g_pCertCallback;
    }
    // Called without the lock, so that the callback may use the getters.
    if (ok == 0 && store_ctx && callback)
        return guard(0, [&] { return callback(store_ctx) == 0 ? 1 : 0; });
    return ok;
}

namespace dirext::tls {

// verify_callback itself under a hidden name: the context gets the exported
// function's own address (callers compare with it), taken without going
// through the dynamic symbol table, where another definition could stand in.
int verify_hook(int ok, X509_STORE_CTX *store_ctx) __attribute__((alias("verify_callback")));

}  // namespace dirext::tls

extern "C" int ldapssl_set_verify_callback(LDAPSSL_CERT_CALLBACK callback)
{
    SyncGuard hold;
    SSL_CTX *ctx = current_context();
    if (!ctx || !set_host_check(true)) return -1;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, callback ? verify_hook : nullptr);
    g_pCertCallback = callback;
    return 0;
}
