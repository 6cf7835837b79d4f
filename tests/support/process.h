// Runs a program as a child process and collects what it wrote, for tests
// that check a tool's exact standard output, standard error and exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int status = -1;   // exit status, or 128 + signal number
    std::string out;   // standard output (with a terminal: everything shown on it)
    std::string err;   // standard error (empty with a terminal)
};

struct RunOptions {
    std::string input;                  // written to standard input, then closed
    bool terminal = false;              // run on a pseudo-terminal (stdin/stdout/stderr)
    std::vector<std::string> env;       // extra NAME=VALUE entries
    int timeout_ms = 30000;             // then the child is killed (status 128+9)
};

// A child that runs while the test looks at it.
class Child {
public:
    Child(const std::vector<std::string> &argv, const RunOptions &options = {});
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return pid_; }
    ProcessResult wait();  // feeds input, collects output until exit

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;  // with a terminal, out_ is the master side
    RunOptions options_;
};

inline ProcessResult run(const std::vector<std::string> &argv, const RunOptions &options = {})
{
    return Child(argv, options).wait();
}

}  // namespace testsupport
