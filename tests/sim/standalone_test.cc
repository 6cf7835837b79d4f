// The dirsim program: prints its port when ready, serves, logs, stops on SIGTERM.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "paths.h"
#include "process.h"
#include "sim_client.h"

extern char **environ;

namespace simtest {
namespace {

// Starts the program with its standard output on a pipe.
struct Program {
    pid_t pid = -1;
    int out = -1;

    explicit Program(const std::vector<std::string> &args)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<char *> argv;
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out = fds[0];
    }
    ~Program()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) ::close(out);
    }

    // Everything written to standard output until it is closed.
    std::string read_all()
    {
        std::string text;
        char buf[256];
        ssize_t n;
        while ((n = ::read(out, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
        return text;
    }
    std::string read_line()
    {
        std::string line;
        char c;
        while (::read(out, &c, 1) == 1) {
            line += c;
            if (c == '\n') break;
        }
        return line;
    }
    int stop(int sig)
    {
        int status = -1;
        kill(pid, sig);
        waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
};

TEST(Dirsim, PrintsItsPortServesAndLogs)
{
    std::string dir = testsupport::temp_dir("dirsim-standalone");
    std::string log = dir + "/requests.log";
    Program p({testsupport::build_path("sim/dirsim"), "--ldif", testsupport::source_path("sim/data/sample.ldif"),
               "--log", log});
    ASSERT_GT(p.pid, 0);
    std::string line = p.read_line();
    ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;
    ASSERT_EQ(line.back(), '\n');
    int port = std::stoi(line.substr(5));
    ASSERT_GT(port, 0);
    EXPECT_EQ(line, "PORT " + std::to_string(port) + "\n");

    {
        Ldap ld = open_session("ldap://127.0.0.1:" + std::to_string(port));
        ASSERT_TRUE(ld);
        ASSERT_EQ(simple_bind(ld.get(), "cn=admin,o=lab", "secret"), LDAP_SUCCESS);
        const char *attrs[] = {"indexDefinition", nullptr};
        LDAPMessage *res = nullptr;
        ASSERT_EQ(ldap_search_ext_s(ld.get(), "cn=server1,ou=servers,o=lab", LDAP_SCOPE_BASE, "(objectclass=*)",
                                    const_cast<char **>(attrs), 0, nullptr, nullptr, nullptr, 0, &res),
                  LDAP_SUCCESS);
        LDAPMessage *e = ldap_first_entry(ld.get(), res);
        ASSERT_NE(e, nullptr);
        berval **vals = ldap_get_values_len(ld.get(), e, "indexDefinition");
        EXPECT_GE(ldap_count_values_len(vals), 3);
        ldap_value_free_len(vals);
        ldap_msgfree(res);
        EXPECT_EQ(simple_bind(ld.get(), "cn=admin,o=lab", "wrong"), LDAP_INVALID_CREDENTIALS);
    }
    // The unbind is logged once the server has read it; SIGTERM after that.
    std::string text;
    for (int i = 0; i < 100 && text.find("op=unbind") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(log);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    int status = p.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(p.read_all(), "");  // nothing after the PORT line
    EXPECT_EQ(text,
              "msgid=1 op=bind dn=\"cn=admin,o=lab\" value=736563726574 detail=\"simple\"\n"
              "msgid=2 op=search dn=\"cn=server1,ou=servers,o=lab\" detail=\"scope=base filter=(objectclass=*) "
              "attrs=indexDefinition\"\n"
              "msgid=3 op=bind dn=\"cn=admin,o=lab\" value=77726f6e67 detail=\"simple\"\n"
              "msgid=4 op=unbind dn=\"\" detail=\"\"\n");
    std::remove(log.c_str());
    ::rmdir(dir.c_str());
}

TEST(Dirsim, StopsOnSigint)
{
    Program p({testsupport::build_path("sim/dirsim"), "--ldif", testsupport::source_path("sim/data/sample.ldif")});
    ASSERT_GT(p.pid, 0);
    ASSERT_EQ(p.read_line().rfind("PORT ", 0), 0u);
    int status = p.stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
    int status;
};

void PrintTo(const UsageCase &c, std::ostream *os) { *os << c.name; }

class DirsimUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(DirsimUsage, RefusesWithoutServing)
{
    std::vector<std::string> argv{testsupport::build_path("sim/dirsim")};
    for (const auto &a : GetParam().args) argv.push_back(a == "SAMPLE" ? testsupport::source_path("sim/data/sample.ldif") : a);
    auto r = testsupport::run(argv);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, DirsimUsage,
    ::testing::Values(UsageCase{"NoArguments", {}, 2}, UsageCase{"NoLdif", {"--port", "0"}, 2},
                      UsageCase{"MissingValue", {"--ldif"}, 2}, UsageCase{"UnknownOption", {"--x", "1"}, 2},
                      UsageCase{"BadPort", {"--ldif", "SAMPLE", "--port", "70000"}, 2},
                      UsageCase{"PortNotANumber", {"--ldif", "SAMPLE", "--port", "12x"}, 2},
                      UsageCase{"MissingLdif", {"--ldif", "/nonexistent.ldif"}, 1},
                      UsageCase{"UnwritableLog", {"--ldif", "SAMPLE", "--log", "/nonexistent/dir/log"}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace simtest
