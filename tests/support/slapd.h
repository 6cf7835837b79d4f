// A private OpenLDAP slapd for interoperability tests: its own configuration,
// database and log in a fresh temporary directory, listening on free loopback
// ports, stopped and removed again when the object goes away.
//
// Base data (tests/data/slapd/base.ldif, schema in index.schema):
//   o=lab
//   ou=servers,o=lab
//   cn=server1,ou=servers,o=lab   (labServer, two indexDefinition values)
//   ou=people,o=lab
//   uid=alice,ou=people,o=lab     (inetOrgPerson, plaintext userPassword)
// Authenticated users may write everything; anonymous users may only bind
// and read the root DSE and the subschema.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct SlapdOptions {
    // Empty strings mean "not set" throughout.

    // TLS: PEM files written to the configuration when given
    // (TLSCertificateFile, TLSCertificateKeyFile, TLSCACertificateFile); they
    // also serve StartTLS on the plain port.
    std::string tls_cert_file;
    std::string tls_key_file;
    std::string tls_ca_file;
    // Also listen on ldaps:// at a free port (needs the certificate and key).
    bool ldaps = false;

    // DIGEST-MD5: sets sasl-realm and maps the SASL identity NAME of that
    // realm to uid=NAME,ou=people,o=lab (whose userPassword is plaintext).
    std::string sasl_realm;

    // Anything else, verbatim: lines for the global section (before the
    // database), lines for the database section, and LDIF records loaded
    // after the base data.
    std::vector<std::string> global_config;
    std::vector<std::string> database_config;
    std::string extra_ldif;

    // slapd's -d argument; its output goes to slapd.log ("stats" or "-1"
    // help when debugging a test).
    std::string debug_level = "0";
};

class Slapd {
public:
    static constexpr const char *kSuffix = "o=lab";
    static constexpr const char *kRootDn = "cn=admin,o=lab";
    static constexpr const char *kRootPassword = "secret";
    static constexpr const char *kServerDn = "cn=server1,ou=servers,o=lab";
    static constexpr const char *kUserDn = "uid=alice,ou=people,o=lab";
    static constexpr const char *kUserName = "alice";
    static constexpr const char *kUserPassword = "alice-secret";

    // Why no instance can run here, or empty if one can.
    static std::string unavailable_reason();

    // Writes the configuration, checks it, loads the data, starts slapd and
    // waits until it accepts connections.  Throws std::runtime_error (with
    // slapd's log) on any failure.
    explicit Slapd(SlapdOptions options = {});
    ~Slapd();
    Slapd(const Slapd &) = delete;
    Slapd &operator=(const Slapd &) = delete;

    int port() const { return port_; }
    int ldaps_port() const { return ldaps_port_; }  // 0 without ldaps
    std::string url() const;                         // ldap://127.0.0.1:PORT/
    std::string ldaps_url() const;                   // ldaps://127.0.0.1:PORT/
    const std::string &dir() const { return dir_; }  // slapd.conf, db/, slapd.log
    pid_t pid() const { return pid_; }
    std::string log() const;  // what slapd wrote to its standard error so far

    // The values of one attribute of one entry, in the order slapd returns
    // them, read over the plain port as the root DN.  An entry without the
    // attribute gives none; a failed bind or search throws.
    std::vector<std::string> values(const std::string &dn, const std::string &attribute) const;
    std::vector<std::string> index_definitions(const std::string &dn = kServerDn) const
    {
        return values(dn, "indexDefinition");
    }

    // Stops slapd (SIGTERM, then SIGKILL if it lingers) and reaps it.
    void stop();

private:
    void write_config() const;
    void run_tool(const std::vector<std::string> &argv) const;
    bool start_once(std::string &why);
    void remove_dir() noexcept;

    SlapdOptions options_;
    std::string dir_;
    int port_ = 0;
    int ldaps_port_ = 0;
    pid_t pid_ = -1;
};

// GoogleTest fixture: a fresh slapd per test, skipped where slapd is not
// installed, its log printed when the test failed.  Override
// slapd_options() for TLS, DIGEST-MD5 or extra data.
class SlapdTest : public ::testing::Test {
protected:
    virtual SlapdOptions slapd_options() const { return {}; }
    void SetUp() override;
    void TearDown() override;

    Slapd &slapd() { return *slapd_; }

private:
    std::unique_ptr<Slapd> slapd_;
};

}  // namespace testsupport
