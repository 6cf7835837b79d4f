// ldaps:// and StartTLS on the simulator, through plain libldap with
// per-session TLS settings (real handshakes on loopback).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "certs.h"
#include "paths.h"
#include "process.h"
#include "sim_client.h"

namespace simtest {
namespace {

using testsupport::Pki;

constexpr const char kStartTls[] = "1.3.6.1.4.1.1466.20037";

struct ClientTls {
    std::string ca_file;
    int require = LDAP_OPT_X_TLS_DEMAND;
    std::string cert_file, key_file;
};

// A session whose own TLS context trusts ca_file (and presents a client
// certificate when one is named).
Ldap tls_session(const std::string &url, const ClientTls &tls)
{
    Ldap ld = open_session(url);
    if (!ld) return ld;
    LDAP *l = ld.get();
    int zero = 0;
    if (ldap_set_option(l, LDAP_OPT_X_TLS_CACERTFILE, tls.ca_file.c_str()) != LDAP_OPT_SUCCESS ||
        ldap_set_option(l, LDAP_OPT_X_TLS_REQUIRE_CERT, &tls.require) != LDAP_OPT_SUCCESS)
        return nullptr;
    if (!tls.cert_file.empty() &&
        (ldap_set_option(l, LDAP_OPT_X_TLS_CERTFILE, tls.cert_file.c_str()) != LDAP_OPT_SUCCESS ||
         ldap_set_option(l, LDAP_OPT_X_TLS_KEYFILE, tls.key_file.c_str()) != LDAP_OPT_SUCCESS))
        return nullptr;
    if (ldap_set_option(l, LDAP_OPT_X_TLS_NEWCTX, &zero) != LDAP_OPT_SUCCESS) return nullptr;
    return ld;
}

class DirsimTls : public ::testing::Test {
protected:
    // A client that writes after the server dropped a failed handshake must
    // see EPIPE, not die of SIGPIPE.
    static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }

    const Pki &pki_ = Pki::instance();

    void start(dirsim::Options options)
    {
        options.ldif_text = kTree;
        server_ = std::make_unique<dirsim::Server>(options);
        ASSERT_TRUE(server_->start());
    }
    dirsim::Options with_certificate() const
    {
        dirsim::Options o;
        o.tls_cert_file = pki_.server.chain_pem_path;
        o.tls_key_file = pki_.server.key_pem_path;
        return o;
    }
    ClientTls trusting_ca() const { return {.ca_file = pki_.ca.cert_pem_path}; }

    // Binds as the administrator and reads one entry: the session works.
    void expect_usable(LDAP *ld)
    {
        ASSERT_EQ(simple_bind(ld, kAdminDn, "secret"), LDAP_SUCCESS);
        LDAPMessage *res = nullptr;
        ASSERT_EQ(ldap_search_ext_s(ld, "cn=Alice Smith,ou=people,o=lab", LDAP_SCOPE_BASE, nullptr, nullptr, 0,
                                    nullptr, nullptr, nullptr, 0, &res),
                  LDAP_SUCCESS);
        EXPECT_EQ(ldap_count_entries(ld, res), 1);
        ldap_msgfree(res);
    }

    // The operations logged, each with "+tls" when it came over TLS.
    std::vector<std::string> logged()
    {
        std::vector<std::string> out;
        for (const auto &r : server_->requests()) out.push_back(r.op + (r.tls ? "+tls" : ""));
        return out;
    }

    std::unique_ptr<dirsim::Server> server_;
};

TEST_F(DirsimTls, LdapsServesEveryOperationOverTls)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    start(o);
    EXPECT_NE(server_->ldaps_port(), 0);
    EXPECT_NE(server_->ldaps_port(), server_->port());
    EXPECT_EQ(server_->ldaps_url(), "ldaps://127.0.0.1:" + std::to_string(server_->ldaps_port()));
    {
        Ldap ld = tls_session(server_->ldaps_url(), trusting_ca());
        ASSERT_TRUE(ld);
        expect_usable(ld.get());
    }
    ASSERT_TRUE(server_->wait_for_requests(3, 5000));
    EXPECT_EQ(logged(), (std::vector<std::string>{"bind+tls", "search+tls", "unbind+tls"}));
    EXPECT_TRUE(server_->client_subjects().empty());  // not asked for one
}

TEST_F(DirsimTls, PlainListenerStaysPlainBesideLdaps)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    start(o);
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    expect_usable(ld.get());
    EXPECT_EQ(logged(), (std::vector<std::string>{"bind", "search"}));
}

TEST_F(DirsimTls, StartTlsAnswersWithItsNameThenTheSessionIsEncrypted)
{
    start(with_certificate());
    Ldap ld = tls_session(server_->url(), trusting_ca());
    ASSERT_TRUE(ld);
    ASSERT_EQ(ldap_start_tls_s(ld.get(), nullptr, nullptr), LDAP_SUCCESS);
    EXPECT_EQ(ldap_tls_inplace(ld.get()), 1);
    expect_usable(ld.get());
    EXPECT_EQ(logged(), (std::vector<std::string>{"extended", "bind+tls", "search+tls"}));
    EXPECT_EQ(server_->requests().front().oid, kStartTls);

    // A second StartTLS on the secured connection (libldap would refuse to
    // send it through ldap_start_tls_s).
    ExtResult again = extended(ld.get(), kStartTls);
    EXPECT_EQ(again.rc, LDAP_OPERATIONS_ERROR);
    EXPECT_EQ(again.oid, kStartTls);
    expect_usable(ld.get());
}

struct RefusalCase {
    const char *what;
    bool certificate;
    bool refuse;
};

void PrintTo(const RefusalCase &c, std::ostream *os) { *os << c.what; }

class DirsimStartTlsRefused : public DirsimTls, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(DirsimStartTlsRefused, IsUnavailableAndTheSessionGoesOnInTheClear)
{
    dirsim::Options o = GetParam().certificate ? with_certificate() : dirsim::Options{};
    o.refuse_starttls = GetParam().refuse;
    start(o);
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    ExtResult r = extended(ld.get(), kStartTls);
    EXPECT_EQ(r.rc, LDAP_UNAVAILABLE);
    EXPECT_EQ(r.oid, kStartTls);
    EXPECT_FALSE(r.value);
    EXPECT_EQ(diagnostic(ld.get()), "StartTLS is not available");
    expect_usable(ld.get());
    EXPECT_EQ(logged(), (std::vector<std::string>{"extended", "bind", "search"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, DirsimStartTlsRefused,
                         ::testing::Values(RefusalCase{"NoCertificate", false, false},
                                           RefusalCase{"Refusing", true, true}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(DirsimTls, StartTlsWithARequestValueIsAProtocolError)
{
    start(with_certificate());
    Ldap ld = open_session(server_->url());
    ASSERT_TRUE(ld);
    ExtResult r = extended(ld.get(), kStartTls, std::string("x"));
    EXPECT_EQ(r.rc, LDAP_PROTOCOL_ERROR);
    expect_usable(ld.get());  // still in the clear
}

struct FailedHandshake {
    const char *what;
    bool ldaps;
    bool other_ca;  // else: the client's CA file is the server's, the server's certificate has expired
};

void PrintTo(const FailedHandshake &c, std::ostream *os) { *os << c.what; }

class DirsimHandshakeFails : public DirsimTls, public ::testing::WithParamInterface<FailedHandshake> {};

TEST_P(DirsimHandshakeFails, ClosesThatConnectionOnly)
{
    dirsim::Options o = with_certificate();
    if (!GetParam().other_ca) {
        o.tls_cert_file = pki_.expired_server.cert_pem_path;
        o.tls_key_file = pki_.expired_server.key_pem_path;
    }
    o.ldaps = true;
    start(o);
    ClientTls tls{.ca_file = GetParam().other_ca ? pki_.other_ca.cert_pem_path : pki_.ca.cert_pem_path};
    if (GetParam().ldaps) {
        Ldap ld = tls_session(server_->ldaps_url(), tls);
        ASSERT_TRUE(ld);
        EXPECT_EQ(simple_bind(ld.get(), kAdminDn, "secret"), LDAP_SERVER_DOWN);
    } else {
        Ldap ld = tls_session(server_->url(), tls);
        ASSERT_TRUE(ld);
        EXPECT_EQ(ldap_start_tls_s(ld.get(), nullptr, nullptr), LDAP_CONNECT_ERROR);
    }
    // Both listeners still serve.
    tls.require = LDAP_OPT_X_TLS_NEVER;
    Ldap plain = open_session(server_->url());
    ASSERT_TRUE(plain);
    expect_usable(plain.get());
    Ldap secure = tls_session(server_->ldaps_url(), tls);
    ASSERT_TRUE(secure);
    expect_usable(secure.get());
}

INSTANTIATE_TEST_SUITE_P(Untrusted, DirsimHandshakeFails,
                         ::testing::Values(FailedHandshake{"LdapsOtherCa", true, true},
                                           FailedHandshake{"StartTlsOtherCa", false, true},
                                           FailedHandshake{"LdapsExpired", true, false},
                                           FailedHandshake{"StartTlsExpired", false, false}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(DirsimTls, PlainLdapOnTheLdapsPortIsDroppedAndTheServerGoesOn)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    start(o);
    {
        Ldap ld = open_session("ldap://127.0.0.1:" + std::to_string(server_->ldaps_port()));
        ASSERT_TRUE(ld);
        EXPECT_EQ(simple_bind(ld.get(), kAdminDn, "secret"), LDAP_SERVER_DOWN);
    }
    Ldap ld = tls_session(server_->ldaps_url(), trusting_ca());
    ASSERT_TRUE(ld);
    expect_usable(ld.get());
    EXPECT_EQ(logged(), (std::vector<std::string>{"bind+tls", "search+tls"}));
}

TEST_F(DirsimTls, ClientThatVanishesMidHandshakeCostsNothing)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    start(o);
    for (int i = 0; i < 3; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(server_->ldaps_port());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        if (i == 1) (void)!::write(fd, "\x16\x03\x01\x00\x05hello", 10);  // a broken ClientHello
        ::close(fd);
    }
    Ldap ld = tls_session(server_->ldaps_url(), trusting_ca());
    ASSERT_TRUE(ld);
    expect_usable(ld.get());
}

struct ClientCertCase {
    const char *what;
    bool server_ca;       // the server verifies against the CA
    bool client_sends;
};

void PrintTo(const ClientCertCase &c, std::ostream *os) { *os << c.what; }

class DirsimClientCert : public DirsimTls, public ::testing::WithParamInterface<ClientCertCase> {};

TEST_P(DirsimClientCert, SubjectIsNotedForEachHandshakeThatCarriesOne)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    o.request_client_cert = true;
    if (GetParam().server_ca) o.tls_ca_file = pki_.ca.cert_pem_path;
    start(o);
    ClientTls tls = trusting_ca();
    if (GetParam().client_sends) {
        tls.cert_file = pki_.client.cert_pem_path;
        tls.key_file = pki_.client.key_pem_path;
    }
    {
        Ldap ld = tls_session(server_->ldaps_url(), tls);
        ASSERT_TRUE(ld);
        expect_usable(ld.get());
    }
    {
        Ldap ld = tls_session(server_->url(), tls);
        ASSERT_TRUE(ld);
        ASSERT_EQ(ldap_start_tls_s(ld.get(), nullptr, nullptr), LDAP_SUCCESS);
        expect_usable(ld.get());
    }
    std::vector<std::string> expected;
    if (GetParam().client_sends) expected.assign(2, pki_.client.subject);
    EXPECT_EQ(server_->client_subjects(), expected);
    EXPECT_EQ(pki_.client.subject, "/CN=dirext test client");
}

INSTANTIATE_TEST_SUITE_P(Modes, DirsimClientCert,
                         ::testing::Values(ClientCertCase{"VerifiedCertificate", true, true},
                                           ClientCertCase{"AnyCertificate", false, true},
                                           ClientCertCase{"NoCertificate", true, false}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(DirsimTls, ClientCertificateFromAnotherCaFailsTheHandshake)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    o.request_client_cert = true;
    o.tls_ca_file = pki_.other_ca.cert_pem_path;
    start(o);
    ClientTls tls = trusting_ca();
    tls.cert_file = pki_.client.cert_pem_path;
    tls.key_file = pki_.client.key_pem_path;
    Ldap ld = tls_session(server_->ldaps_url(), tls);
    ASSERT_TRUE(ld);
    // TLS 1.3: the client learns of the refusal when it first reads.
    EXPECT_EQ(simple_bind(ld.get(), kAdminDn, "secret"), LDAP_SERVER_DOWN);
    EXPECT_TRUE(server_->client_subjects().empty());
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(DirsimTls, StartFailsOnUnusableFiles)
{
    dirsim::Options o;
    o.ldif_text = kTree;
    o.tls_cert_file = pki_.server.key_pem_path;  // a key is no certificate
    o.tls_key_file = pki_.server.key_pem_path;
    EXPECT_FALSE(dirsim::Server(o).start());
    o.tls_cert_file = pki_.server.cert_pem_path;
    o.tls_key_file = pki_.client.key_pem_path;  // not the certificate's key
    EXPECT_FALSE(dirsim::Server(o).start());
    o.tls_cert_file.clear();
    o.tls_key_file.clear();
    o.ldaps = true;  // ldaps without a certificate
    EXPECT_FALSE(dirsim::Server(o).start());
}

TEST_F(DirsimTls, RestartKeepsBothPorts)
{
    dirsim::Options o = with_certificate();
    o.ldaps = true;
    start(o);
    uint16_t port = server_->port(), ldaps = server_->ldaps_port();
    server_->stop();
    ASSERT_TRUE(server_->start());
    EXPECT_EQ(server_->port(), port);
    EXPECT_EQ(server_->ldaps_port(), ldaps);
    Ldap ld = tls_session(server_->ldaps_url(), trusting_ca());
    ASSERT_TRUE(ld);
    expect_usable(ld.get());
}

struct ProgramCase {
    const char *what;
    std::vector<std::string> tls_args;  // CERT and KEY stand for the server's files
    int status;
    const char *err;
};

void PrintTo(const ProgramCase &c, std::ostream *os) { *os << c.what; }

class DirsimProgramTls : public DirsimTls, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(DirsimProgramTls, RefusesIncompleteTlsSettings)
{
    std::vector<std::string> argv{testsupport::build_path("sim/dirsim"), "--ldif",
                                  testsupport::source_path("sim/data/sample.ldif")};
    for (const auto &a : GetParam().tls_args)
        argv.push_back(a == "CERT" ? pki_.server.chain_pem_path : a == "KEY" ? pki_.server.key_pem_path : a);
    auto r = testsupport::run(argv);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, std::string(GetParam().err).size()), GetParam().err) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Flags, DirsimProgramTls,
    ::testing::Values(ProgramCase{"CertificateWithoutKey", {"--tls-cert", "CERT"}, 2, "usage: dirsim"},
                      ProgramCase{"KeyWithoutCertificate", {"--tls-key", "KEY"}, 2, "usage: dirsim"},
                      ProgramCase{"LdapsWithoutCertificate", {"--ldaps"}, 1,
                                  "dirsim: ldaps needs a certificate and a key\n"},
                      ProgramCase{"KeyIsNoCertificate", {"--tls-cert", "KEY", "--tls-key", "KEY"}, 1,
                                  "dirsim: cannot load the certificate "}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(DirsimTls, ProgramPrintsBothPortsWhenReady)
{
    testsupport::Child program({testsupport::build_path("sim/dirsim"), "--ldif",
                                testsupport::source_path("sim/data/sample.ldif"), "--tls-cert",
                                pki_.server.chain_pem_path, "--tls-key", pki_.server.key_pem_path, "--ldaps",
                                "--request-client-cert"},
                               {.timeout_ms = 1500});
    // It serves until the time-out kills it.
    auto r = program.wait();
    EXPECT_EQ(r.status, 128 + 9);
    unsigned port = 0, ldaps = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "PORT %u\nLDAPS %u\n", &port, &ldaps), 2) << r.out;
    EXPECT_NE(port, ldaps);
    EXPECT_EQ(r.out, "PORT " + std::to_string(port) + "\nLDAPS " + std::to_string(ldaps) + "\n");
}

}  // namespace
}  // namespace simtest
