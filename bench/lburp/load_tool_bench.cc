// What the dirext tool costs on top of the library: `dirext load` of the
// same 100,000 entries as BM_Load_LburpOneAhead, which keeps one update
// request in flight ahead as the tool does, run as a process against a
// simulator in this one.  The tool's time also covers what the library's
// does not: starting the program, connecting and binding, reading and
// checking the whole LDIF file.
//
// Read it as BM_Load_DirextTool / BM_Load_LburpOneAhead, from the same run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dirsim/server.h"

extern char **environ;

namespace {

constexpr int kEntries = 100000;

const char kTree[] = "dn: o=lab\nobjectClass: organization\no: lab\n\n"
                     "dn: cn=admin,o=lab\nobjectClass: person\ncn: admin\nsn: Admin\nuserPassword: secret\n\n"
                     "dn: ou=bulk,o=lab\nobjectClass: organizationalUnit\nou: bulk\n";

// The entries as an LDIF file, written once and removed at exit.
struct EntriesFile {
    std::string dir, path;
    EntriesFile()
    {
        dir = "/tmp/dirext-load-bench-XXXXXX";
        if (!mkdtemp(dir.data())) return;
        path = dir + "/entries.ldif";
        std::ofstream out(path);
        for (int i = 0; i < kEntries; ++i) {
            const std::string name = "user" + std::to_string(i);
            out << "dn: cn=" << name << ",ou=bulk,o=lab\nobjectClass: inetOrgPerson\ncn: " << name << "\nsn: " << name
                << "\nmail: " << name << "@lab.example\n\n";
        }
        if (!out) path.clear();
    }
    ~EntriesFile()
    {
        std::error_code ignored;
        if (dir.find("XXXXXX") == std::string::npos) std::filesystem::remove_all(dir, ignored);
    }
};

double ms(const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; }

// CPU time of this process (the simulator), in ms.
double process_cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Runs `dirext load FILE` against url, its standard output discarded: its
// exit status (-1 when it did not run or exit), its CPU time into cpu_ms.
int run_tool(const std::string &url, const std::string &file, double &cpu_ms)
{
    std::vector<std::string> args = {DIREXT_TOOL_PATH, "load", "-H", url, "-D", "cn=admin,o=lab", "-w", "secret", file};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_Load_DirextTool(benchmark::State &state)
{
    static const EntriesFile entries;
    if (entries.path.empty()) return state.SkipWithError("cannot write the LDIF file");
    setenv("LDAPNOINIT", "1", 0);  // the administrator's ldap.conf stays out of it
    for (auto _ : state) {
        state.PauseTiming();
        auto server = std::make_unique<dirsim::Server>(dirsim::Options{.ldif_text = kTree});
        const bool started = server->start();
        const double cpu = process_cpu_ms();
        state.ResumeTiming();
        double tool_cpu = 0;
        const int status = started ? run_tool(server->url(), entries.path, tool_cpu) : -1;
        state.PauseTiming();
        state.counters["process_cpu_ms"] = process_cpu_ms() - cpu + tool_cpu;  // simulator and tool
        state.counters["tool_cpu_ms"] = tool_cpu;
        if (status != 0) state.SkipWithError("dirext load failed");
        else if (!server->exists("cn=user" + std::to_string(kEntries - 1) + ",ou=bulk,o=lab"))
            state.SkipWithError("entries missing");
        server.reset();
        state.ResumeTiming();
        if (status != 0) break;
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

BENCHMARK(BM_Load_DirextTool)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
