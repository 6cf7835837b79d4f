// Where tests find the source tree, the build tree and the programs built.
#pragma once
#include <string>

namespace testsupport {
std::string source_path(const std::string &relative);  // under the source tree
std::string build_path(const std::string &relative);   // under the build tree
std::string temp_dir(const std::string &prefix);        // a new private directory
}  // namespace testsupport
