#include "paths.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport {
namespace {
std::string env_dir(const char *name, const char *fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}
}  // namespace

std::string source_path(const std::string &relative)
{
    return env_dir("DIREXT_SOURCE_DIR", DIREXT_DEFAULT_SOURCE_DIR) + "/" + relative;
}
std::string build_path(const std::string &relative)
{
    return env_dir("DIREXT_BINARY_DIR", DIREXT_DEFAULT_BINARY_DIR) + "/" + relative;
}

std::string temp_dir(const std::string &prefix)
{
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}
}  // namespace testsupport
