// The process-wide context: initialisation, verify settings, sessions, and
// the lock functions (black box, through the shared library).
#include <dirext.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "certs.h"

#ifdef CRYPTO_w_lock
#error "CRYPTO_w_lock must be the library's function, not a macro"
#endif

namespace {

using testsupport::Pki;

int libldap_require_cert()
{
    int value = -1;
    ldap_get_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &value);
    return value;
}

// Beside the test certificates, so that it goes when they go.
std::string write_temp(const std::string &name, const std::string &bytes)
{
    std::string path = testsupport::Pki::instance().dir + "/" + name;
    testsupport::write_file(path, bytes);
    return path;
}

TEST(TlsContext, DeinitWithoutInitFails)
{
    EXPECT_EQ(ldapssl_client_deinit(), -1);
}

TEST(TlsContext, SecondDeinitFailsAndOneDeinitUndoesSeveralInits)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
    EXPECT_EQ(ldapssl_client_deinit(), -1);
    EXPECT_EQ(g_CryptCtx, nullptr);
    EXPECT_EQ(g_SSLReg, 0);
}

TEST(TlsContext, InitInstallsTheContextInLibldapWithPeerVerification)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    EXPECT_EQ(g_SSLReg, 1);
    ASSERT_NE(g_CryptCtx, nullptr);
    void *installed = nullptr;
    ASSERT_EQ(ldap_get_option(nullptr, LDAP_OPT_X_TLS_CTX, &installed), LDAP_OPT_SUCCESS);
    EXPECT_EQ(installed, g_CryptCtx);
    SSL_CTX_free(static_cast<SSL_CTX *>(installed));  // the getter took a reference
    int mode = -1;
    EXPECT_EQ(ldapssl_get_verify_mode(&mode), 0);
    EXPECT_EQ(mode, LDAPSSL_VERIFY_PEER);
    EXPECT_EQ(libldap_require_cert(), LDAP_OPT_X_TLS_DEMAND);
    EXPECT_EQ(randbuf, nullptr);
    EXPECT_EQ(g_pSockets, nullptr);
    EXPECT_EQ(g_MaxSockets, 0);
    EXPECT_EQ(g_pCertAlertCB, nullptr);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

TEST(TlsContext, ReinitReplacesTheContextAndItsSettings)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    SSL_CTX *first = g_CryptCtx;
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF), 0);
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    EXPECT_NE(g_CryptCtx, first);
    int mode = -1;
    EXPECT_EQ(ldapssl_get_verify_mode(&mode), 0);
    EXPECT_EQ(mode, LDAPSSL_VERIFY_PEER);
    EXPECT_EQ(libldap_require_cert(), LDAP_OPT_X_TLS_DEMAND);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

TEST(TlsContext, InitWithAMissingCertFileSucceeds)
{
    EXPECT_EQ(ldapssl_client_init("/nonexistent/dirext/ca.pem", nullptr), 0);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

TEST(TlsContext, InitWithANonCertificateFileFailsAndKeepsThePreviousContext)
{
    std::string junk = write_temp("junk.txt", "not a certificate\n");
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    SSL_CTX *before = g_CryptCtx;
    EXPECT_EQ(ldapssl_client_init(junk.c_str(), nullptr), -1);
    EXPECT_EQ(g_CryptCtx, before);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

struct CertFileCase {
    const char *name;
    std::string (*path)(const Pki &);
    int expected_certs;
};

void PrintTo(const CertFileCase &c, std::ostream *os) { *os << c.name; }

class InitCertFile : public testing::TestWithParam<CertFileCase> {};

TEST_P(InitCertFile, LoadsEveryCertificateOfTheFile)
{
    const Pki &pki = Pki::instance();
    ASSERT_EQ(ldapssl_client_init(GetParam().path(pki).c_str(), nullptr), 0);
    EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(g_CryptCtx))),
              GetParam().expected_certs);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    TlsForms, InitCertFile,
    testing::Values(CertFileCase{"der", [](const Pki &p) { return p.ca.cert_der_path; }, 1},
                    CertFileCase{"pem", [](const Pki &p) { return p.ca.cert_pem_path; }, 1},
                    CertFileCase{"two_pem", [](const Pki &p) { return p.both_cas_pem_path; }, 2}),
    [](const testing::TestParamInfo<CertFileCase> &info) { return std::string(info.param.name); });

TEST(TlsContext, VerifyModeOutsideZeroAndOneIsRefusedEvenWhenInitialised)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    for (int mode : {2, -1, 3, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT})
        EXPECT_EQ(ldapssl_set_verify_mode(mode), -1) << mode;
    int mode = -1;
    EXPECT_EQ(ldapssl_get_verify_mode(&mode), 0);
    EXPECT_EQ(mode, LDAPSSL_VERIFY_PEER);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

TEST(TlsContext, VerifyModeDrivesLibldapsHostNameCheck)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF), 0);
    int mode = -1;
    EXPECT_EQ(ldapssl_get_verify_mode(&mode), 0);
    EXPECT_EQ(mode, LDAPSSL_VERIFY_OFF);
    EXPECT_EQ(libldap_require_cert(), LDAP_OPT_X_TLS_NEVER);
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_PEER), 0);
    EXPECT_EQ(libldap_require_cert(), LDAP_OPT_X_TLS_DEMAND);
    // The callback verifies too: it turns the check back on after mode 0.
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF), 0);
    ASSERT_EQ(ldapssl_set_verify_callback([](void *) { return 1; }), 0);
    EXPECT_EQ(libldap_require_cert(), LDAP_OPT_X_TLS_DEMAND);
    EXPECT_EQ(SSL_CTX_get_verify_callback(g_CryptCtx), &verify_callback);
    // A plain mode change removes the hook but keeps the stored callback.
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_PEER), 0);
    EXPECT_EQ(SSL_CTX_get_verify_callback(g_CryptCtx), nullptr);
    EXPECT_NE(g_pCertCallback, nullptr);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
    EXPECT_EQ(g_pCertCallback, nullptr);
}

TEST(TlsContext, SettersAndGettersFailWhenNotInitialised)
{
    int mode = 7;
    EXPECT_EQ(ldapssl_set_verify_mode(0), -1);
    EXPECT_EQ(ldapssl_get_verify_mode(&mode), -1);
    EXPECT_EQ(mode, 7);
    EXPECT_EQ(ldapssl_set_verify_callback(nullptr), -1);
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    EXPECT_EQ(ldapssl_get_verify_mode(nullptr), -1);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
    EXPECT_EQ(ldapssl_set_verify_mode(1), -1);
}

TEST(TlsContext, VerifyCallbackAsksTheApplicationOnlyAboutFailures)
{
    static int asked;
    static int answer;
    asked = 0;
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    ASSERT_EQ(ldapssl_set_verify_callback([](void *) { ++asked; return answer; }), 0);
    X509_STORE_CTX *store_ctx = X509_STORE_CTX_new();
    answer = 0;
    EXPECT_EQ(verify_callback(0, store_ctx), 1);
    answer = 20;
    EXPECT_EQ(verify_callback(0, store_ctx), 0);
    EXPECT_EQ(verify_callback(1, store_ctx), 1);  // passed checks are not asked about
    EXPECT_EQ(verify_callback(0, nullptr), 0);
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(ldapssl_set_verify_callback(nullptr), 0);
    answer = 0;
    EXPECT_EQ(verify_callback(0, store_ctx), 0);
    EXPECT_EQ(asked, 2);
    X509_STORE_CTX_free(store_ctx);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
}

TEST(TlsContext, LdapsslInitMakesAnUnconnectedSessionForTheUrl)
{
    struct Case {
        const char *host;
        int port;
        int secure;
        const char *uri;
    };
    for (const Case &c : {Case{"127.0.0.1", 636, 1, "ldaps://127.0.0.1:636"},
                          Case{"127.0.0.1", 389, 0, "ldap://127.0.0.1:389"},
                          Case{"dir.example", 1636, 7, "ldaps://dir.example:1636"}}) {
        LDAP *ld = ldapssl_init(c.host, c.port, c.secure);
        ASSERT_NE(ld, nullptr) << c.uri;
        char *uri = nullptr;
        ASSERT_EQ(ldap_get_option(ld, LDAP_OPT_URI, &uri), LDAP_OPT_SUCCESS);
        EXPECT_STREQ(uri, c.uri);
        ldap_memfree(uri);
        int fd = -1;
        EXPECT_FALSE(ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0) << "connected";
        ldap_unbind_ext(ld, nullptr, nullptr);
    }
    EXPECT_EQ(ldapssl_init("127.0.0.1", 70000, 1), nullptr);
    EXPECT_EQ(ldapssl_init("127.0.0.1", -1, 1), nullptr);
}

// A program that includes the header and links the library gets the
// library's lock and helper functions, not same-named ones elsewhere.
TEST(TlsLocks, NamesResolveToTheLibrary)
{
    const std::pair<const char *, void *> names[] = {
        {"CRYPTO_w_lock", reinterpret_cast<void *>(&CRYPTO_w_lock)},
        {"CRYPTO_w_unlock", reinterpret_cast<void *>(&CRYPTO_w_unlock)},
        {"verify_callback", reinterpret_cast<void *>(&verify_callback)},
        {"add_cert", reinterpret_cast<void *>(&add_cert)},
        {"hex_prin", reinterpret_cast<void *>(&hex_prin)},
        {"print_attribs", reinterpret_cast<void *>(&print_attribs)}};
    for (const auto &[name, address] : names) {
        Dl_info info{};
        ASSERT_NE(dladdr(address, &info), 0) << name;
        EXPECT_NE(std::strstr(info.dli_fname, "libdirext.so"), nullptr) << name << " in " << info.dli_fname;
        EXPECT_STREQ(info.dli_sname, name);
    }
}

TEST(TlsLocks, LibraryLockExcludesOtherThreads)
{
    std::atomic<bool> entered{false};
    CRYPTO_w_lock(0);
    std::thread other([&] {
        CRYPTO_w_lock(0);
        entered = true;
        CRYPTO_w_unlock(0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(entered.load());
    CRYPTO_w_unlock(0);
    other.join();
    EXPECT_TRUE(entered.load());
    // Destroyed and usable again afterwards.
    CRYPTO_thread_setup();
    CRYPTO_thread_cleanup();
    CRYPTO_w_lock(0);
    CRYPTO_w_unlock(0);
}

TEST(TlsLocks, LockCallbackLocksTheNumberedMutex)
{
    LockInit();
    for (int n : {0, 17, LDAPSSL_NUM_LOCKS - 1}) {
        LockCallback(CRYPTO_LOCK | CRYPTO_WRITE, n, __FILE__, __LINE__);
        int busy = -1;
        std::thread([&] { busy = pthread_mutex_trylock(&g_Locks[n]); }).join();
        EXPECT_EQ(busy, EBUSY) << n;
        LockCallback(CRYPTO_UNLOCK | CRYPTO_WRITE, n, nullptr, 0);
        int free_again = -1;
        std::thread([&] {
            free_again = pthread_mutex_trylock(&g_Locks[n]);
            if (free_again == 0) pthread_mutex_unlock(&g_Locks[n]);
        }).join();
        EXPECT_EQ(free_again, 0) << n;
    }
    // Numbers outside the table are ignored.
    for (int n : {-1, LDAPSSL_NUM_LOCKS, 1000, -2147483647 - 1}) {
        LockCallback(CRYPTO_LOCK, n, nullptr, 0);
        LockCallback(CRYPTO_UNLOCK, n, nullptr, 0);
    }
    LockCleanUp();
}

TEST(TlsLocks, CleanUpLeavesAHeldMutexAlone)
{
    LockInit();
    LockCallback(CRYPTO_LOCK, 5, nullptr, 0);
    LockCleanUp();
    LockCallback(CRYPTO_UNLOCK, 5, nullptr, 0);
    EXPECT_EQ(pthread_mutex_trylock(&g_Locks[5]), 0);
    pthread_mutex_unlock(&g_Locks[5]);
    pthread_mutex_destroy(&g_Locks[5]);
}

}  // namespace
