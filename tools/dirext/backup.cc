// dirext backup DN -o FILE and dirext restore DN -i FILE: one object's backup
// data, kept in a file of the format backup_file.h describes.
//
// The backup file is written whole or not at all: into a new file beside
// FILE (mode 0600: it may hold passwords), which replaces FILE only once
// it is complete, and which goes again on any failure or SIGINT/SIGTERM.
// The restore reads and checks the whole file before it sends anything.
#include <dirext/extops.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "backup_file.h"
#include "commands.h"
#include "stop_signal.h"

namespace dirext_cli {
namespace {

struct LibraryFree {
    void operator()(char *p) const { ldapx_memfree(p); }
};
using LibraryString = std::unique_ptr<char, LibraryFree>;

// A file descriptor, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    void reset(int fd)
    {
        close();
        fd_ = fd;
    }
    int close()
    {
        int rc = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

int fail(const char *command, const std::string &message)
{
    std::fprintf(stderr, "dirext: %s: %s\n", command, message.c_str());
    return 1;
}

std::string system_error(const std::string &what) { return what + ": " + std::strerror(errno); }

// A new file beside the target that replaces it on commit(), or is removed.
class ReplacementFile {
public:
    explicit ReplacementFile(const std::string &target) : target_(target), path_(target + ".XXXXXX")
    {
        int fd = mkstemp(path_.data());
        if (fd < 0) error_ = system_error("cannot create a file beside " + target);
        fd_.reset(fd);
        created_ = fd >= 0;
    }
    ~ReplacementFile()
    {
        if (created_ && !committed_) ::unlink(path_.c_str());
    }
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    const std::string &error() const { return error_; }
    bool commit(std::string_view bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return failed("cannot write " + path_);
            done += static_cast<size_t>(n);
        }
        if (fsync(fd_.get()) != 0 || fd_.close() != 0) return failed("cannot write " + path_);
        if (std::rename(path_.c_str(), target_.c_str()) != 0) return failed("cannot replace " + target_);
        committed_ = true;
        return true;
    }

private:
    bool failed(const std::string &what)
    {
        error_ = system_error(what);
        return false;
    }
    std::string target_, path_, error_;
    Descriptor fd_;
    bool created_ = false, committed_ = false;
};

// A backup file can hold at most 2 GiB of data and a header.
constexpr size_t kMaxFileSize = (size_t{1} << 31) + (size_t{1} << 24);

// The file's bytes, refusing early what does not begin as a backup file
// (so that reading /dev/zero, say, ends at once).
std::optional<std::string> read_backup_file(const std::string &path, std::string &bytes)
{
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return system_error("cannot open " + path);
    char block[65536];
    bool start_checked = false;
    for (;;) {
        ssize_t n = ::read(fd.get(), block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return system_error("cannot read " + path);
        if (n == 0) return std::nullopt;
        bytes.append(block, static_cast<size_t>(n));
        if (!start_checked && bytes.size() >= 64) {
            if (auto error = check_backup_start(bytes.substr(0, 64))) return path + ": " + *error;
            start_checked = true;
        }
        if (bytes.size() > kMaxFileSize) return path + ": too large for a backup file";
    }
}

// The required file option of a command, or a usage message.
const std::string *required(const std::optional<std::string> &option, const char *command, const char *synopsis)
{
    if (option) return &*option;
    std::fprintf(stderr, "dirext: %s: %s is required\nUsage: dirext %s %s\n", command,
                 std::strchr(synopsis, '-'), command, synopsis);
    return nullptr;
}

}  // namespace

int run_backup(Session &s, const Invocation &inv)
{
    const std::string *path = required(inv.output, "backup", "DN -o FILE");
    if (!path) return 1;
    const std::string &dn = inv.operands[0];
    // An interrupted backup must still remove its new file: SIGINT and
    // SIGTERM are noted, and acted on once the request is answered.
    catch_stop_signals();
    // Made first, so that a file that cannot be written costs no request.
    ReplacementFile file(*path);
    if (!file.error().empty()) return fail("backup", file.error());
    if (int rc = s.connect()) return rc;

    char *state = nullptr, *data = nullptr, *chunk_list = nullptr;
    int size = 0;
    int rc = ldap_backup_object(s.ld(), dn.c_str(), nullptr, &state, &data, &chunk_list, &size);
    LibraryString owned_state(state), owned_data(data), owned_chunks(chunk_list);
    if (stop_requested()) return fail("backup", "interrupted; " + *path + " left as it was");
    if (rc != LDAP_SUCCESS) return report_failure(s.ld(), ("backup: " + dn).c_str(), rc);
    if (!state || !data || !chunk_list || size < 1) return fail("backup", dn + ": the server's answer holds no data");
    Backup backup{state, chunk_list, std::string(data, static_cast<size_t>(size))};
    if (!file.commit(encode_backup(backup))) return fail("backup", file.error());
    std::printf("%s: backed up to %s (%d bytes)\n", dn.c_str(), path->c_str(), size);
    return 0;
}

int run_restore(Session &s, const Invocation &inv)
{
    const std::string *path = required(inv.input, "restore", "DN -i FILE");
    if (!path) return 1;
    std::string bytes;
    if (auto error = read_backup_file(*path, bytes)) return fail("restore", *error);
    Backup backup;
    if (auto error = decode_backup(bytes, backup)) return fail("restore", *path + ": " + *error);
    if (int rc = s.connect()) return rc;
    int rc = ldap_restore_object(s.ld(), inv.operands[0].c_str(), nullptr, backup.data.data(),
                                 backup.chunk_list.c_str(), static_cast<int>(backup.data.size()));
    if (rc != LDAP_SUCCESS) return report_failure(s.ld(), ("restore: " + inv.operands[0]).c_str(), rc);
    std::printf("%s: restored from %s (%zu bytes)\n", inv.operands[0].c_str(), path->c_str(), backup.data.size());
    return 0;
}

}  // namespace dirext_cli
