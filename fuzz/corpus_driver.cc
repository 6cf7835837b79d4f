// Runs a fuzz target over its seed corpus as an ordinary program: every file
// of every directory (or file) named on the command line is fed once to
// LLVMFuzzerTestOneInput.  A crash or a sanitizer report fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {
int run_file(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A heap copy with one NUL after the input, as the buffers liblber hands
    // out have (its decoder may look one byte past the last element); any
    // read beyond that is caught.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    copy.push_back(0);
    LLVMFuzzerTestOneInput(copy.data(), copy.size() - 1);
    return 1;
}
}  // namespace

int main(int argc, char **argv)
{
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file()) files += run_file(entry.path());
        } else {
            files += run_file(arg);
        }
    }
    std::printf("%d inputs run\n", files);
    return files > 0 ? 0 : 1;
}
