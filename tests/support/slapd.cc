#include "slapd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldap.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "paths.h"
#include "process.h"

namespace testsupport {
namespace {

constexpr const char kSlapdBinary[] = "/usr/sbin/slapd";
constexpr const char kSlaptest[] = "/usr/sbin/slaptest";
constexpr const char kSlapadd[] = "/usr/sbin/slapadd";
constexpr const char kSchemaDir[] = "/etc/ldap/schema";
constexpr auto kReadyTimeout = std::chrono::seconds(20);
constexpr auto kStopTimeout = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(10);
// A port picked as free may be taken by someone else before slapd binds it.
constexpr int kStartAttempts = 4;

using Clock = std::chrono::steady_clock;

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Ports the kernel hands out for loopback; all sockets stay open until every
// port is chosen, so the ports differ from each other.
std::vector<int> free_ports(size_t count)
{
    std::vector<std::unique_ptr<Fd>> held;
    std::vector<int> ports;
    for (size_t i = 0; i < count; ++i) {
        auto s = std::make_unique<Fd>(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (s->fd < 0 || bind(s->fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            getsockname(s->fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            throw std::runtime_error(std::string("cannot pick a free port: ") + std::strerror(errno));
        ports.push_back(ntohs(a.sin_port));
        held.push_back(std::move(s));
    }
    return ports;
}

// Whether someone else listens on the port (slapd itself binds with
// SO_REUSEADDR, so connections in TIME_WAIT do not count).
bool port_taken(int port)
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int on = 1;
    sockaddr_in a = loopback(port);
    if (s.fd < 0 || setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return false;
    return bind(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno == EADDRINUSE;
}

bool accepting(int port)
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(port);
    return s.fd >= 0 && connect(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

std::string describe_status(int status)
{
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "stopped";
}

// ---- libldap handles ----

struct LdapUnbind {
    void operator()(LDAP *ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct MessageFree {
    void operator()(LDAPMessage *m) const { ldap_msgfree(m); }
};
struct BervalsFree {
    void operator()(berval **v) const { ldap_value_free_len(v); }
};
using Ldap = std::unique_ptr<LDAP, LdapUnbind>;
using Message = std::unique_ptr<LDAPMessage, MessageFree>;
using Bervals = std::unique_ptr<berval *, BervalsFree>;

void check(int rc, const std::string &what)
{
    if (rc != LDAP_SUCCESS) throw std::runtime_error(what + ": " + ldap_err2string(rc));
}

}  // namespace

std::string Slapd::unavailable_reason()
{
    if (access(kSlapdBinary, X_OK) != 0)
        return std::string(kSlapdBinary) + " is not installed (Debian packages slapd and ldap-utils)";
    return {};
}

Slapd::Slapd(SlapdOptions options) : options_(std::move(options))
{
    if (options_.ldaps && (options_.tls_cert_file.empty() || options_.tls_key_file.empty()))
        throw std::invalid_argument("slapd: ldaps needs tls_cert_file and tls_key_file");
    dir_ = temp_dir("slapd");
    try {
        std::filesystem::create_directory(dir_ + "/db");
        write_config();
        run_tool({kSlaptest, "-u", "-f", dir_ + "/slapd.conf"});
        run_tool({kSlapadd, "-f", dir_ + "/slapd.conf", "-l", source_path("tests/data/slapd/base.ldif")});
        if (!options_.extra_ldif.empty()) {
            write_file(dir_ + "/extra.ldif", options_.extra_ldif);
            run_tool({kSlapadd, "-f", dir_ + "/slapd.conf", "-l", dir_ + "/extra.ldif"});
        }
        std::string why;
        for (int attempt = 1; !start_once(why); ++attempt) {
            // At debug level 0 slapd logs nothing when it cannot bind: look
            // at the ports instead.
            bool lost_port = port_taken(port_) || (ldaps_port_ && port_taken(ldaps_port_));
            if (!lost_port || attempt == kStartAttempts)
                throw std::runtime_error("slapd did not start: " + why + "\n---- " + dir_ + "/slapd.log ----\n" +
                                         log());
        }
    } catch (...) {
        stop();
        remove_dir();
        throw;
    }
}

Slapd::~Slapd()
{
    stop();
    remove_dir();
}

std::string Slapd::url() const { return "ldap://127.0.0.1:" + std::to_string(port_) + "/"; }
std::string Slapd::ldaps_url() const { return "ldaps://127.0.0.1:" + std::to_string(ldaps_port_) + "/"; }
std::string Slapd::log() const { return read_file(dir_ + "/slapd.log"); }

void Slapd::write_config() const
{
    std::ostringstream c;
    c << "# Private test instance; every path lives in this directory.\n";
    for (const char *schema : {"core", "cosine", "inetorgperson"})
        c << "include " << quoted(std::string(kSchemaDir) + "/" + schema + ".schema") << "\n";
    c << "include " << quoted(source_path("tests/data/slapd/index.schema")) << "\n"
      << "pidfile " << quoted(dir_ + "/slapd.pid") << "\n"
      << "argsfile " << quoted(dir_ + "/slapd.args") << "\n"
      << "modulepath /usr/lib/ldap\n"
      << "moduleload back_mdb\n";
    if (!options_.tls_ca_file.empty()) c << "TLSCACertificateFile " << quoted(options_.tls_ca_file) << "\n";
    if (!options_.tls_cert_file.empty()) c << "TLSCertificateFile " << quoted(options_.tls_cert_file) << "\n";
    if (!options_.tls_key_file.empty()) c << "TLSCertificateKeyFile " << quoted(options_.tls_key_file) << "\n";
    if (!options_.sasl_realm.empty()) {
        // authz-regexp sees the normalised (lower-case) authentication DN.
        std::string realm = options_.sasl_realm;
        for (char &ch : realm) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        c << "sasl-realm " << quoted(options_.sasl_realm) << "\n"
          << "authz-regexp " << quoted("^uid=([^,]+),cn=" + realm + ",cn=digest-md5,cn=auth$") << " "
          << quoted("uid=$1,ou=people," + std::string(kSuffix)) << "\n";
    }
    // Outside every database: the root DSE and the subschema are public.
    c << "access to dn.base=\"\" by * read\n"
      << "access to dn.base=\"cn=Subschema\" by * read\n";
    for (const auto &line : options_.global_config) c << line << "\n";
    c << "database mdb\n"
      << "suffix " << quoted(kSuffix) << "\n"
      << "rootdn " << quoted(kRootDn) << "\n"
      << "rootpw " << kRootPassword << "\n"
      << "directory " << quoted(dir_ + "/db") << "\n"
      << "maxsize 16777216\n"
      // Anonymous "auth" on entries and passwords lets simple and SASL binds
      // (which read userPassword) work; reading needs a bound user.
      << "access to attrs=userPassword by self write by anonymous auth by * none\n"
      << "access to * by users write by anonymous auth by * none\n";
    for (const auto &line : options_.database_config) c << line << "\n";
    write_file(dir_ + "/slapd.conf", c.str());
}

void Slapd::run_tool(const std::vector<std::string> &argv) const
{
    ProcessResult r = run(argv);
    if (r.status != 0) {
        std::string command;
        for (const auto &a : argv) command += (command.empty() ? "" : " ") + a;
        throw std::runtime_error(command + " failed (" + std::to_string(r.status) + "):\n" + r.out + r.err +
                                 "---- slapd.conf ----\n" + read_file(dir_ + "/slapd.conf"));
    }
}

// One start on fresh ports: true once every listener accepts connections.
bool Slapd::start_once(std::string &why)
{
    std::vector<int> ports = free_ports(options_.ldaps ? 2 : 1);
    port_ = ports[0];
    ldaps_port_ = options_.ldaps ? ports[1] : 0;
    std::string urls = url();
    if (options_.ldaps) urls += " " + ldaps_url();

    std::string log_path = dir_ + "/slapd.log";
    std::string conf = dir_ + "/slapd.conf";
    std::string pid_file = dir_ + "/slapd.pid";
    {
        std::ofstream header(log_path, std::ios::app);
        header << "---- slapd -d " << options_.debug_level << " -f " << conf << " -h \"" << urls << "\"\n";
    }
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> args = {kSlapdBinary, "-d", options_.debug_level, "-f", conf, "-h", urls};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t parent = getpid();

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
    if (pid_ == 0) {
        // slapd must not outlive a test process that is killed (e.g. by a
        // ctest time-out) before its destructor runs.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        int null_fd = open("/dev/null", O_RDONLY);
        int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (null_fd < 0 || log_fd < 0) _exit(127);
        dup2(null_fd, 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        close_range(3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }

    auto deadline = Clock::now() + kReadyTimeout;
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "slapd " + describe_status(status) + " before accepting connections";
            return false;
        }
        // slapd writes its pid file only after it bound every listener, so
        // the pid tells that the ports accepting connections are its own.
        if (std::atoi(read_file(pid_file).c_str()) == pid_ && accepting(port_) &&
            (!ldaps_port_ || accepting(ldaps_port_)))
            return true;
        if (Clock::now() > deadline) {
            stop();
            why = "slapd did not accept connections within " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kReadyTimeout).count()) + " s";
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

void Slapd::stop()
{
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    auto deadline = Clock::now() + kStopTimeout;
    for (;;) {
        pid_t r = waitpid(pid_, nullptr, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) break;
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    pid_ = -1;
}

void Slapd::remove_dir() noexcept
{
    if (dir_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> Slapd::values(const std::string &dn, const std::string &attribute) const
{
    LDAP *raw_ld = nullptr;
    check(ldap_initialize(&raw_ld, url().c_str()), "ldap_initialize " + url());
    Ldap ld(raw_ld);
    int version = LDAP_VERSION3;
    timeval timeout = {10, 0};
    check(ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version), "LDAP_OPT_PROTOCOL_VERSION");
    check(ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &timeout), "LDAP_OPT_NETWORK_TIMEOUT");
    check(ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &timeout), "LDAP_OPT_TIMEOUT");

    berval password = {std::strlen(kRootPassword), const_cast<char *>(kRootPassword)};
    check(ldap_sasl_bind_s(ld.get(), kRootDn, LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr),
          std::string("bind as ") + kRootDn);

    char *attrs[] = {const_cast<char *>(attribute.c_str()), nullptr};
    LDAPMessage *raw_result = nullptr;
    int rc = ldap_search_ext_s(ld.get(), dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr, nullptr,
                               &timeout, LDAP_NO_LIMIT, &raw_result);
    Message result(raw_result);
    check(rc, "search " + dn);
    LDAPMessage *entry = ldap_first_entry(ld.get(), result.get());
    if (!entry) throw std::runtime_error("search " + dn + ": no entry returned");

    std::vector<std::string> out;
    Bervals found(ldap_get_values_len(ld.get(), entry, attribute.c_str()));
    for (berval **v = found.get(); v && *v; ++v) out.emplace_back((*v)->bv_val, (*v)->bv_len);
    return out;
}

void SlapdTest::SetUp()
{
    std::string why = Slapd::unavailable_reason();
    if (!why.empty()) GTEST_SKIP() << why;
    try {
        slapd_ = std::make_unique<Slapd>(slapd_options());
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
}

void SlapdTest::TearDown()
{
    if (slapd_ && HasFailure())
        std::cerr << "---- " << slapd_->dir() << "/slapd.log ----\n" << slapd_->log() << "----\n";
    slapd_.reset();
}

}  // namespace testsupport
