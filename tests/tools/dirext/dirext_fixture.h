// Runs dirext as a process against an in-process directory simulator.
#pragma once

#include <gtest/gtest.h>

#include <dirsim/server.h>

#include <memory>
#include <string>
#include <vector>

#include "process.h"

namespace dirext_test {

std::string dirext_path();

class DirextTest : public ::testing::Test {
protected:
    void SetUp() override { start({}); }
    // Starts the simulator on the lab tree plus extra_ldif (with options).
    void start(dirsim::Options options, const std::string &extra_ldif = "");

    // -H <url> -D cn=admin,o=lab -w secret
    std::vector<std::string> connection_args() const;
    // dirext <command> <connection args> <args...>, waiting for its unbind.
    testsupport::ProcessResult run(const std::string &command, const std::vector<std::string> &args = {},
                                   const testsupport::RunOptions &options = {});
    // The same argument vector, for a testsupport::Child.
    std::vector<std::string> argv(const std::string &command, const std::vector<std::string> &args = {}) const;
    void wait_for_unbind() const;
    std::vector<dirsim::Request> requests_of(const std::string &op) const;

    std::unique_ptr<dirsim::Server> server_;
};

}  // namespace dirext_test
