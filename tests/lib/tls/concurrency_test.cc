// Many threads on the one context: handshakes while trusted certificates are
// added and settings read (run under ThreadSanitizer too).
#include <dirext.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "certs.h"
#include "tls_server.h"

namespace {

using testsupport::Pki;

TEST(TlsConcurrency, EightThreadsBindWhileCertificatesAreAdded)
{
    const Pki &pki = Pki::instance();
    LockInit();
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    ASSERT_EQ(ldapssl_add_trusted_cert(pki.ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    tlstest::TlsBindServer server({pki.server.chain_pem_path, pki.server.key_pem_path, false});

    constexpr int kBinders = 8, kBindsEach = 4;
    std::atomic<int> failures{0};
    std::atomic<bool> binding{true};
    std::vector<std::thread> threads;
    for (int i = 0; i < kBinders; ++i)
        threads.emplace_back([&] {
            for (int n = 0; n < kBindsEach; ++n)
                if (tlstest::simple_bind(server.url()) != LDAP_SUCCESS) ++failures;
        });
    std::vector<std::thread> adders;
    std::atomic<int> add_failures{0};
    for (int i = 0; i < 3; ++i)
        adders.emplace_back([&, i] {
            berval der{pki.other_ca.cert_der.size(), const_cast<char *>(pki.other_ca.cert_der.data())};
            do {
                int rc = i == 0   ? ldapssl_add_trusted_cert(pki.both_cas_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM)
                         : i == 1 ? ldapssl_add_trusted_cert(&der, LDAPSSL_CERT_BUFFER_DER)
                                  : ldapssl_add_trusted_cert(pki.ca.cert_der_path.c_str(), LDAPSSL_CERT_FILE_DER);
                if (rc != 0) ++add_failures;
                int mode = -1;
                if (ldapssl_get_verify_mode(&mode) != 0 || mode != LDAPSSL_VERIFY_PEER) ++add_failures;
            } while (binding);
        });
    for (std::thread &t : threads) t.join();
    binding = false;
    for (std::thread &t : adders) t.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(add_failures.load(), 0);
    EXPECT_EQ(server.binds_answered(), kBinders * kBindsEach);
    EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(g_CryptCtx))), 2);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
    LockCleanUp();
}

TEST(TlsConcurrency, CallbacksRunOnEveryHandshakingThread)
{
    const Pki &pki = Pki::instance();
    LockInit();
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    static std::atomic<int> asked;
    asked = 0;
    ASSERT_EQ(ldapssl_set_verify_callback([](void *handle) {
                  int len = 0;
                  ldapssl_get_cert_attribute(handle, LDAPSSL_CERT_SUBJECT, nullptr, &len);
                  ++asked;
                  return len > 0 ? 0 : 1;
              }),
              0);
    tlstest::TlsBindServer server({pki.server.chain_pem_path, pki.server.key_pem_path, false});
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            if (tlstest::simple_bind(server.url()) != LDAP_SUCCESS) ++failures;
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(asked.load(), 8);
    EXPECT_EQ(ldapssl_client_deinit(), 0);
    LockCleanUp();
}

}  // namespace
