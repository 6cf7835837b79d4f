// dirext's command line and connection options as a process: usage errors,
// the bind's outcomes and exit statuses, the password sources, TLS and
// ldap.conf.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "certs.h"
#include "dirext_fixture.h"
#include "paths.h"

namespace dirext_test {
namespace {

using testsupport::ProcessResult;

ProcessResult dirext(std::vector<std::string> args, const testsupport::RunOptions &options = {})
{
    args.insert(args.begin(), dirext_path());
    return testsupport::run(args, options);
}

struct UsageCase {
    std::vector<std::string> args;
    std::string message;
};

// Each refused before anything is connected; the command's own synopsis
// (the first two lines of its --help) follows the message.
const UsageCase kUsageCases[] = {
    {{"whoami", "-H", "ldap://h", "-h", "h"}, "-H and -h/-p exclude each other"},
    {{"whoami", "-D", "cn=a", "-w", "x", "-W"}, "give the password one way: -w, -W or -y"},
    {{"whoami", "-Y", "PLAIN", "-U", "u", "-w", "x"}, "-Y PLAIN: only DIGEST-MD5 is supported"},
    {{"whoami", "-Y", "DIGEST-MD5", "-w", "x"}, "-Y DIGEST-MD5 needs -U user"},
    {{"whoami", "-Y", "DIGEST-MD5", "-U", "u"}, "-Y DIGEST-MD5 needs a password: -w, -W or -y"},
    {{"whoami", "-Y", "DIGEST-MD5", "-U", "u", "-w", "x", "-D", "cn=a"},
     "-D is for a simple bind; -Y DIGEST-MD5 binds as -U user"},
    {{"whoami", "-U", "u", "-D", "cn=a", "-w", "x"}, "-U and -R go with -Y DIGEST-MD5"},
    {{"whoami", "-R", "lab"}, "-U and -R go with -Y DIGEST-MD5"},
    {{"whoami", "-D", "cn=a"}, "-D needs a password: -w, -W or -y"},
    {{"whoami", "-w", "x"}, "a password needs -D binddn"},
    {{"whoami", "-H", "ldap://h", "-e", "ca.pem"}, "-e with an ldap:// URI needs -Z (or give an ldaps:// URI)"},
    {{"whoami", "-p", "0"}, "-p needs a port number from 1 to 65535, not '0'"},
    {{"whoami", "-l", "soon"}, "-l needs a number of seconds, not 'soon'"},
    {{"events", "--count", "0"}, "--count needs a positive number, not '0'"},
    {{"load", "--skip", "-1", "f"}, "--skip needs a number of records, not '-1'"},
    {{"refresh", "--json"}, "--json is not an option of refresh"},
    {{"whoami", "-o", "f"}, "-o is not an option of whoami"},
    {{"replicas"}, "too few operands for replicas"},
    {{"whoami", "me"}, "too many operands for whoami"},
    {{"whoami", "-x"}, "unknown option '-x'"},
    {{"whoami", "-D"}, "option -D needs a value"},
    {{"events", "--count"}, "option --count needs a value"},
    {{"whoami", "--json=yes"}, "option --json takes no value"},
    {{"frobnicate"}, "unknown command 'frobnicate'"},
};

TEST(DirextCommandLine, BadOptionsAreUsageErrors)
{
    const std::string p = "dirext";  // messages name the program without its folder
    for (const UsageCase &c : kUsageCases) {
        std::string synopsis;
        if (c.args[0] != "frobnicate") {
            std::string help = dirext({c.args[0], "--help"}).out;
            synopsis = help.substr(0, help.find('\n', help.find('\n') + 1) + 1);
        }
        auto r = dirext(c.args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  p + ": " + c.message + "\n" + synopsis + "Run '" + p + " --help' for every command and option.\n");
    }
}

TEST(DirextCommandLine, AloneItPrintsTheUsageAndFailsWithHelpItSucceeds)
{
    auto alone = dirext({}), help = dirext({"--help"});
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(alone.out, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(alone.err, help.out);
    EXPECT_EQ(help.out.rfind("Usage: dirext COMMAND [options] [operands]\n", 0), 0u) << help.out;
}

struct BindCase {
    std::vector<std::string> args;  // after -H <the simulator>; PWFILE: a file holding "secret"
    int status;
    std::string out, err;
};

const BindCase kBindCases[] = {
    {{"-D", "cn=admin,o=lab", "-w", "wrong"}, 255, "", "ldap_simple_bind_s: Invalid credentials (49)\n"},
    {{"-D", "cn=admin,o=lab", "-w", "secret", "-H", "ldap://127.0.0.1:1"}, 1, "",
     "ldap_simple_bind_s: Can't contact LDAP server (-1)\n"},
    {{"-D", "cn=admin,o=lab", "-y", "PWFILE"}, 0, "cn=admin,o=lab\n", ""},
    {{"-D", "cn=admin,o=lab", "-y", "/nonexistent/pw"}, 1, "", "dirext: -y /nonexistent/pw: No such file or directory\n"},
    {{"-Y", "DIGEST-MD5", "-U", "admin", "-w", "secret"}, 0, "cn=admin,o=lab\n", ""},
    {{"-Y", "digest-md5", "-U", "admin", "-R", "LAB", "-y", "PWFILE"}, 0, "cn=admin,o=lab\n", ""},
    {{"-Y", "DIGEST-MD5", "-U", "admin", "-w", "wrong"}, 255, "",
     "DIGEST-MD5 bind: Invalid credentials (49): wrong user or password, or the server could not prove its "
     "identity\n"},
    {{"-Y", "DIGEST-MD5", "-U", "admin", "-R", "other", "-w", "secret"}, 255, "",
     "DIGEST-MD5 bind: realm other not offered (offered: lab)\n"},
};

TEST_F(DirextTest, BindOutcomesGiveTheirExitStatus)
{
    std::string password_file = testsupport::temp_dir("dirext-pw") + "/pw";
    testsupport::write_file(password_file, "secret");
    for (BindCase c : kBindCases) {
        for (auto &a : c.args)
            if (a == "PWFILE") a = password_file;
        c.args.insert(c.args.begin(), {"whoami", "-H", server_->url()});
        auto r = dirext(c.args);
        wait_for_unbind();
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    std::filesystem::remove_all(std::filesystem::path(password_file).parent_path());
}

TEST_F(DirextTest, PromptedPasswordIsReadFromTheTerminalWithoutEcho)
{
    auto r = dirext({"whoami", "-H", server_->url(), "-D", "cn=admin,o=lab", "-W"},
                    {.input = "secret\n", .terminal = true});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Enter LDAP Password: ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("secret"), std::string::npos) << "the password was echoed";
    EXPECT_NE(r.out.find("cn=admin,o=lab\r\n"), std::string::npos) << r.out;
}

TEST_F(DirextTest, PasswordIsMaskedInTheProcessList)
{
    // The answer to whoami is held back so the tool is still running.
    server_->script({.op = "extended", .reply = {.delay_ms = 1500}});
    testsupport::Child child(argv("whoami"));
    ASSERT_TRUE(server_->wait_for_requests(2, 10000));
    std::ifstream in("/proc/" + std::to_string(child.pid()) + "/cmdline", std::ios::binary);
    std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    child.wait();
    EXPECT_NE(cmdline.find(std::string("-w\0******\0", 10)), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find("secret"), std::string::npos);
}

TEST_F(DirextTest, LdapConfSuppliesTheServerWhenNoneIsGiven)
{
    std::string home = testsupport::temp_dir("dirext-home");
    testsupport::write_file(home + "/ldap.conf", "URI " + server_->url() + "\n");
    auto r = testsupport::run({"/usr/bin/env", "-u", "LDAPNOINIT", "LDAPCONF=" + home + "/ldap.conf",
                               "LDAPRC=/nonexistent", "HOME=" + home, dirext_path(), "whoami", "-D",
                               "cn=admin,o=lab", "-w", "secret"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "cn=admin,o=lab\n");
    std::filesystem::remove_all(home);
}

struct TlsCase {
    bool refuse_starttls;
    bool ldaps;  // the ldaps:// port, else the plain one
    std::vector<std::string> args;
    int status;
    std::string err;
};

TEST_F(DirextTest, TlsVerifiesTheServerAndStartTlsCanBeRequired)
{
    const auto &pki = testsupport::Pki::instance();
    const TlsCase cases[] = {
        {false, true, {"-e", pki.ca.cert_pem_path}, 0, ""},
        {false, false, {"-ZZ", "-e", pki.ca.cert_der_path}, 0, ""},
        {false, true, {"-e", pki.other_ca.cert_pem_path}, 1,
         "ldap_simple_bind_s: Can't contact LDAP server (-1)\n\tadditional info: error:0A000086:SSL "
         "routines::certificate verify failed (self-signed certificate in certificate chain)\n"},
        {true, false, {"-ZZ", "-e", pki.ca.cert_pem_path}, 1,
         "ldap_start_tls_s: Server is unavailable (52)\n\tadditional info: StartTLS is not available\n"},
    };
    for (const TlsCase &c : cases) {
        start({.tls_cert_file = pki.server.chain_pem_path, .tls_key_file = pki.server.key_pem_path,
               .ldaps = true, .refuse_starttls = c.refuse_starttls});
        std::vector<std::string> args = {"whoami", "-H", c.ldaps ? server_->ldaps_url() : server_->url(), "-D",
                                         "cn=admin,o=lab", "-w", "secret"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto r = dirext(args);
        wait_for_unbind();
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, c.status ? "" : "cn=admin,o=lab\n");
        EXPECT_TRUE(c.status || requests_of("extended").back().tls);
    }
}

}  // namespace
}  // namespace dirext_test
