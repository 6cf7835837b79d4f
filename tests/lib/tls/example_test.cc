// The example program, run as a process against the test server.
#include <gtest/gtest.h>

#include "certs.h"
#include "paths.h"
#include "process.h"
#include "tls_server.h"

namespace {

using testsupport::Pki;

TEST(TlsBindExample, BindsWithTheTrustedCa)
{
    const Pki &pki = Pki::instance();
    tlstest::TlsBindServer server({pki.server.chain_pem_path, pki.server.key_pem_path, false});
    for (const std::string *ca : {&pki.ca.cert_pem_path, &pki.ca.cert_der_path}) {
        testsupport::ProcessResult r = testsupport::run({testsupport::build_path("examples/example_tls_bind"),
                                                         "127.0.0.1", std::to_string(server.port()), *ca,
                                                         "cn=admin,o=test", "secret"});
        EXPECT_EQ(r.out, "bind: Success\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(TlsBindExample, ShowsAndRefusesAnUntrustedServer)
{
    const Pki &pki = Pki::instance();
    // Without the CA certificate in the chain, verification fails on the
    // server's own certificate.
    tlstest::TlsBindServer server({pki.server.cert_pem_path, pki.server.key_pem_path, false});
    testsupport::ProcessResult r = testsupport::run({testsupport::build_path("examples/example_tls_bind"), "127.0.0.1",
                                                     std::to_string(server.port()), pki.other_ca.cert_pem_path,
                                                     "cn=admin,o=test", "secret"});
    EXPECT_EQ(r.out, "certificate refused: unable to get local issuer certificate\n"
                     "  subject: /CN=dirext test server\n"
                     "  issuer:  /CN=dirext test CA\n"
                     "bind: Can't contact LDAP server\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(server.binds_answered(), 0);
}

}  // namespace
