#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

std::vector<char *> c_argv(const std::vector<std::string> &v)
{
    std::vector<char *> out;
    for (const auto &s : v) out.push_back(const_cast<char *>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

[[noreturn]] void exec_child(const std::vector<std::string> &argv, const RunOptions &options)
{
    for (const auto &e : options.env) putenv(const_cast<char *>(e.c_str()));
    auto args = c_argv(argv);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

Child::Child(const std::vector<std::string> &argv, const RunOptions &options) : options_(options)
{
    if (argv.empty()) throw std::invalid_argument("empty argv");
    if (options.terminal) {
        int master = -1;
        struct winsize ws = {24, 80, 0, 0};
        pid_ = forkpty(&master, nullptr, nullptr, &ws);
        if (pid_ < 0) throw std::runtime_error("forkpty failed");
        if (pid_ == 0) exec_child(argv, options);
        out_ = master;
        in_ = dup(master);
        return;
    }
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        exec_child(argv, options);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
}

Child::~Child()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0) close(fd);
}

ProcessResult Child::wait()
{
    ProcessResult result;
    signal(SIGPIPE, SIG_IGN);
    if (!options_.terminal) {
        size_t off = 0;
        while (off < options_.input.size()) {
            ssize_t n = write(in_, options_.input.data() + off, options_.input.size() - off);
            if (n <= 0) break;
            off += size_t(n);
        }
        close(in_);
        in_ = -1;
    }
    bool input_sent = !options_.terminal || options_.input.empty();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeout_ms);
    while (out_ >= 0 || err_ >= 0) {
        pollfd fds[2];
        int n = 0;
        if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
        if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid_, SIGKILL);
            break;
        }
        int r = poll(fds, nfds_t(n), int(std::min<long>(left.count(), 100)));
        if (r < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            int &fd = fds[i].fd == out_ ? out_ : err_;
            std::string &sink = fds[i].fd == out_ ? result.out : result.err;
            if (got > 0) {
                sink.append(buf, size_t(got));
            } else {
                close(fd);
                fd = -1;
            }
        }
        // On a terminal, answer a prompt once it has been shown.
        if (!input_sent && !result.out.empty()) {
            if (write(in_, options_.input.data(), options_.input.size()) < 0) {}
            input_sent = true;
        }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace testsupport
