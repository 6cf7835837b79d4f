#include "dirext_fixture.h"

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

void DirextTest::wait_for_unbind() const { testsupport::wait_for_unbind(*server_); }

std::vector<dirsim::Request> DirextTest::requests_of(const std::string &op) const
{
    return testsupport::requests_of(*server_, op);
}

}  // namespace dirext_test
