#include "dirext_fixture.h"

#include <chrono>
#include <thread>

#include "paths.h"
#include "sim_fixture.h"

namespace dirext_test {

std::string dirext_path() { return testsupport::build_path("tools/dirext/dirext"); }

void DirextTest::start(dirsim::Options options, const std::string &extra_ldif)
{
    server_.reset();
    options.ldif_text = testsupport::kLabTree + "\n" + extra_ldif;
    server_ = testsupport::start_sim(options);
    ASSERT_TRUE(server_);
}

std::vector<std::string> DirextTest::connection_args() const
{
    return {"-H", server_->url(), "-D", "cn=admin,o=lab", "-w", "secret"};
}

std::vector<std::string> DirextTest::argv(const std::string &command, const std::vector<std::string> &args) const
{
    std::vector<std::string> v = {dirext_path(), command};
    for (const auto &a : connection_args()) v.push_back(a);
    for (const auto &a : args) v.push_back(a);
    return v;
}

testsupport::ProcessResult DirextTest::run(const std::string &command, const std::vector<std::string> &args,
                                           const testsupport::RunOptions &options)
{
    auto result = testsupport::run(argv(command, args), options);
    wait_for_unbind();
    return result;
}

void DirextTest::wait_for_unbind() const
{
    // The last request may still be on its way when the process has exited;
    // every run that connected ends with an unbind.
    for (int i = 0; i < 500; ++i) {
        auto log = server_->requests();
        if (log.empty() || log.back().op == "unbind") return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<dirsim::Request> DirextTest::requests_of(const std::string &op) const
{
    std::vector<dirsim::Request> out;
    for (const auto &r : server_->requests())
        if (r.op == op) out.push_back(r);
    return out;
}

}  // namespace dirext_test
