// Runs quorindex as a process against an in-process directory simulator.
#pragma once

#include <gtest/gtest.h>

#include <dirsim/server.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "process.h"

namespace quorindex_test {

inline constexpr const char *kServerDn = "cn=server1,o=lab";
// Names parameterised cases by their `what` member in test output.
template <typename Case>
void print_case(const Case &c, std::ostream *os)
{
    *os << c.what;
}

inline constexpr const char *kLimberOid = "2.16.840.1.113719.1.27.100.49";

std::string quorindex_path();

class QuorindexTest : public ::testing::Test {
protected:
    void SetUp() override;

    // quorindex <command> -h 127.0.0.1 -p <port> -D <admin> -w secret -s <server> <args...>
    testsupport::ProcessResult run(const std::string &command, const std::vector<std::string> &args = {},
                                   const testsupport::RunOptions &options = {});
    std::vector<std::string> common_args() const;
    void wait_for_unbind() const;

    std::vector<std::string> index_values() const { return server_->values(kServerDn, "indexDefinition"); }
    void set_index_values(const std::vector<std::string> &values)
    {
        server_->set_values(kServerDn, "indexDefinition", values);
    }
    // The operations of the logged requests, in order ("bind", "search", ...).
    std::vector<std::string> operations() const;
    std::vector<dirsim::Request> requests_of(const std::string &op) const;

    std::unique_ptr<dirsim::Server> server_;
};

}  // namespace quorindex_test
