// Real TLS handshakes with slapd: the library's process-wide context against
// an independent server, over ldaps:// and StartTLS.
#include <dirext/tls.h>
#include <gtest/gtest.h>

#include <string>

#include "certs.h"
#include "paths.h"
#include "process.h"
#include "slapd.h"

namespace {

using testsupport::Pki;
using testsupport::Slapd;

class TlsSlapd : public testsupport::SlapdTest {
protected:
    testsupport::SlapdOptions slapd_options() const override
    {
        testsupport::SlapdOptions o;
        o.tls_cert_file = Pki::instance().server.cert_pem_path;
        o.tls_key_file = Pki::instance().server.key_pem_path;
        o.ldaps = true;
        return o;
    }
    void TearDown() override
    {
        ldapssl_client_deinit();
        SlapdTest::TearDown();
    }

    // A simple bind as the root DN over ldaps, in a new session.
    int bind_over_ldaps()
    {
        LDAP *ld = ldapssl_init("127.0.0.1", slapd().ldaps_port(), 1);
        if (!ld) return LDAP_NO_MEMORY;
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        int rc = ldap_simple_bind_s(ld, Slapd::kRootDn, Slapd::kRootPassword);
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        return rc;
    }
};

TEST_F(TlsSlapd, TrustedCaBindsOverLdaps)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    ASSERT_EQ(ldapssl_add_trusted_cert(Pki::instance().ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    EXPECT_EQ(bind_over_ldaps(), LDAP_SUCCESS);
}

TEST_F(TlsSlapd, UntrustedServerFailsVerifiedAndPassesUnverified)
{
    ASSERT_EQ(ldapssl_client_init(nullptr, nullptr), 0);
    ASSERT_EQ(ldapssl_add_trusted_cert(Pki::instance().other_ca.cert_pem_path.c_str(), LDAPSSL_CERT_FILE_PEM), 0);
    EXPECT_EQ(bind_over_ldaps(), LDAP_SERVER_DOWN);
    ASSERT_EQ(ldapssl_set_verify_mode(LDAPSSL_VERIFY_OFF), 0);
    EXPECT_EQ(bind_over_ldaps(), LDAP_SUCCESS);
}

TEST_F(TlsSlapd, QuorindexListsOverStartTlsWithTheCaTrusted)
{
    auto r = testsupport::run({testsupport::build_path("tools/quorindex/quorindex"), "list", "-ZZ", "-e",
                               Pki::instance().ca.cert_der_path, "-h", "127.0.0.1", "-p",
                               std::to_string(slapd().port()), "-D", Slapd::kRootDn, "-w", Slapd::kRootPassword,
                               "-s", Slapd::kServerDn, "idx1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\tIndex Name: idx1\n"), std::string::npos) << r.out;
}

}  // namespace
