// quorindex over TLS: -e trusts a CA certificate file (ldaps://), -Z asks for
// StartTLS with verification off, -ZZ makes that request's failure fatal.
// Real handshakes against the simulator on loopback.
#include "certs.h"
#include "quorindex_fixture.h"
#include "sim_fixture.h"

namespace quorindex_test {
namespace {

using testsupport::Credential;
using testsupport::Pki;

constexpr const char kListing[] =
    "\n"
    "\tIndex Version: 0\n\tIndex Name: cn\n\tIndex State: Online\n\tIndex Rule: Value\n"
    "\tIndex Type: Added on attribute creation\n\tIndex State Value: Added from server\n"
    "\tQuor Attribute: cn\n\n";

class QuorindexTls : public QuorindexTest {
protected:
    const Pki &pki_ = Pki::instance();

    // Replaces the fixture's plain server with one that speaks TLS.
    void restart(bool refuse_starttls)
    {
        std::vector<std::string> values = index_values();
        server_->stop();
        dirsim::Options options;
        options.ldif_text = testsupport::kLabTree;
        options.tls_cert_file = pki_.server.chain_pem_path;
        options.tls_key_file = pki_.server.key_pem_path;
        options.ldaps = true;
        options.refuse_starttls = refuse_starttls;
        server_ = testsupport::start_sim(options);
        ASSERT_TRUE(server_);
        set_index_values(values);
    }

    // quorindex list cn with the TLS options, against the ldaps port for -e
    // and the plain port for -Z.
    testsupport::ProcessResult list(const std::vector<std::string> &tls_args, bool ldaps)
    {
        std::vector<std::string> argv = {quorindex_path(), "list", "-h", "127.0.0.1", "-p",
                                         std::to_string(ldaps ? server_->ldaps_port() : server_->port()),
                                         "-D", "cn=admin,o=lab", "-w", "secret", "-s", kServerDn};
        argv.insert(argv.end(), tls_args.begin(), tls_args.end());
        argv.push_back("cn");
        auto result = testsupport::run(argv);
        wait_for_unbind();
        return result;
    }

    // "op" or "op+tls" for each logged request.
    std::vector<std::string> logged() const
    {
        std::vector<std::string> out;
        for (const auto &r : server_->requests()) out.push_back(r.op + (r.tls ? "+tls" : ""));
        return out;
    }
};

struct TrustedCase {
    const char *what;
    std::string Credential::*path;
};

void PrintTo(const TrustedCase &c, std::ostream *os) { *os << c.what; }

class QuorindexTrustedCa : public QuorindexTls, public ::testing::WithParamInterface<TrustedCase> {};

TEST_P(QuorindexTrustedCa, ListsOverLdapsWithTheServerVerified)
{
    restart(false);
    auto r = list({"-e", pki_.ca.*GetParam().path}, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kListing);
    EXPECT_EQ(logged(), (std::vector<std::string>{"bind+tls", "search+tls", "unbind+tls"}));
}

INSTANTIATE_TEST_SUITE_P(KeyFiles, QuorindexTrustedCa,
                         ::testing::Values(TrustedCase{"Pem", &testsupport::Credential::cert_pem_path},
                                           TrustedCase{"Der", &testsupport::Credential::cert_der_path}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(QuorindexTls, KeyFileThatHoldsNoCertificateIsRefusedBeforeConnecting)
{
    restart(false);
    for (const std::string &path : {pki_.server.key_pem_path, pki_.dir + "/absent.pem"}) {
        auto r = list({"-e", path}, true);
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.err, "Error finding filetype of: " + path + "\n");
        EXPECT_EQ(r.out, "\n");  // the listing's opening line comes first
    }
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(QuorindexTls, ServerFromAnotherCaFailsTheBind)
{
    restart(false);
    auto r = list({"-e", pki_.other_ca.cert_pem_path}, true);
    EXPECT_EQ(r.status, 255);
    // The server sends its chain with the root, so OpenSSL names that root.
    EXPECT_EQ(r.err,
              "ldap_simple_bind_s: Can't contact LDAP server (-1)\n"
              "\tadditional info: error:0A000086:SSL routines::certificate verify failed "
              "(self-signed certificate in certificate chain)\n");
    EXPECT_EQ(r.out, "\n");
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(QuorindexTls, StartTlsRefusedWarnsAndCarriesOnInTheClear)
{
    restart(true);
    auto r = list({"-Z"}, false);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "# WARNING: could not start TLS\n");
    EXPECT_EQ(r.out, kListing);
    EXPECT_EQ(logged(), (std::vector<std::string>{"extended", "bind", "search", "unbind"}));
    EXPECT_EQ(server_->requests().front().oid, "1.3.6.1.4.1.1466.20037");
}

TEST_F(QuorindexTls, StartTlsRefusedIsFatalWithZZ)
{
    restart(true);
    auto r = list({"-ZZ"}, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "ldap_start_tls_s: Server is unavailable (52)\n"
              "\tadditional info: StartTLS is not available\n");
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(logged(), (std::vector<std::string>{"extended", "unbind"}));
}

TEST_F(QuorindexTls, StartTlsWithoutVerificationAcceptsAnUntrustedServer)
{
    restart(false);  // the tool trusts no CA at all here
    for (const char *flag : {"-Z", "-ZZ"}) {
        server_->clear_requests();
        auto r = list({flag}, false);
        EXPECT_EQ(r.status, 0) << flag << ": " << r.err;
        EXPECT_EQ(r.err, "") << flag;
        EXPECT_EQ(r.out, kListing) << flag;
        EXPECT_EQ(logged(), (std::vector<std::string>{"extended", "bind+tls", "search+tls", "unbind+tls"}))
            << flag;
    }
}

}  // namespace
}  // namespace quorindex_test
