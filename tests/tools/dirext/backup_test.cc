// dirext backup and restore as processes: the file written, the round trip
// through the server, and files refused before anything is sent.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "bytes.h"
#include "dirext_fixture.h"
#include "paths.h"

namespace dirext_test {
namespace {

constexpr const char kRestoreOid[] = "2.16.840.1.113719.1.27.100.98";
const std::string kAdminData =
    "dn: cn=admin,o=lab\nobjectClass: person\ncn: admin\nsn: admin\nuserPassword:: c2VjcmV0\n";

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class BackupTest : public DirextTest {
protected:
    std::string dir_ = testsupport::temp_dir("dirext-backup");
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::vector<std::string> files() const
    {
        std::vector<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(dir_)) out.push_back(e.path().filename());
        return out;
    }
    size_t restores() const
    {
        auto ext = requests_of("extended");
        return std::count_if(ext.begin(), ext.end(), [](const auto &r) { return r.oid == kRestoreOid; });
    }
    std::string backup_file()
    {
        auto r = run("backup", {"cn=admin,o=lab", "-o", path("admin.bak")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "cn=admin,o=lab: backed up to " + path("admin.bak") + " (" +
                                     std::to_string(kAdminData.size()) + " bytes)\n");
        return read_file(path("admin.bak"));
    }
};

TEST_F(BackupTest, RoundTripRestoresTheEntryFromTheFile)
{
    std::string file = backup_file();
    const std::string size = std::to_string(kAdminData.size());
    const std::string body = "dirext-backup 1\nstate 2+1\nchunks 1;" + size + ";\nsize " + size + "\n" + kAdminData + "\n";
    EXPECT_EQ(file.substr(0, body.size()), body);
    EXPECT_EQ(file.size(), body.size() + 72);
    EXPECT_EQ(file.substr(body.size(), 7), "sha256 ");
    struct stat st {};
    ASSERT_EQ(stat(path("admin.bak").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(files(), std::vector<std::string>{"admin.bak"});

    server_->set_values("cn=admin,o=lab", "sn", {"changed"});
    auto r = run("restore", {"cn=admin,o=lab", "-i", path("admin.bak")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "cn=admin,o=lab: restored from " + path("admin.bak") + " (" + size + " bytes)\n");
    EXPECT_EQ(server_->values("cn=admin,o=lab", "sn"), std::vector<std::string>{"admin"});
    ASSERT_EQ(restores(), 1u);
    EXPECT_NE(requests_of("extended").back().value_hex.find(wire::hex(kAdminData)), std::string::npos);
}

// Every truncation and every altered byte is refused, with nothing sent.
TEST_F(BackupTest, DamagedFilesAreRefusedBeforeAnythingIsSent)
{
    const std::string good = backup_file();
    const std::string bad = path("bad.bak");
    auto refused = [&](const std::string &bytes) {
        write_file(bad, bytes);
        auto r = run("restore", {"cn=admin,o=lab", "-i", bad});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("dirext: restore: " + bad + ": ", 0), 0u) << r.err;
        return r.err.substr(std::min(r.err.size(), bad.size() + 19));
    };
    std::string altered = good, version = good, magic = good;
    altered[40] ^= 1;
    version[14] = '2';
    magic[0] = 'D';
    EXPECT_EQ(refused(""), "the file is empty\n");
    EXPECT_EQ(refused(good.substr(0, 9)), "the file is truncated\n");
    EXPECT_EQ(refused(good.substr(0, good.size() - 1)),
              "the file is truncated or damaged: it does not end in its checksum line\n");
    EXPECT_EQ(refused(altered), "checksum mismatch: the file is damaged or was altered\n");
    EXPECT_EQ(refused(version), "backup format version 2 is not supported (this dirext reads version 1)\n");
    EXPECT_EQ(refused(magic), "not a dirext backup file\n");

    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int i = 0; i < 25; ++i) {
        std::string flipped = good;
        flipped[random() % good.size()] ^= static_cast<char>(1 + random() % 255);
        refused(flipped);
        refused(good.substr(0, random() % good.size()));
    }
    EXPECT_EQ(restores(), 0u);
}

TEST_F(BackupTest, MissingFilesAndFailedBackupsLeaveNothingBehind)
{
    struct Case {
        const char *command;
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {"backup", {"cn=admin,o=lab"}, 1, "dirext: backup: -o FILE is required\nUsage: dirext backup DN -o FILE\n"},
        {"restore", {"cn=admin,o=lab"}, 1, "dirext: restore: -i FILE is required\nUsage: dirext restore DN -i FILE\n"},
        {"backup", {"cn=nobody,o=lab", "-o", path("x")}, 32, "dirext: backup: cn=nobody,o=lab: No such object (32)\n"},
        {"backup", {"cn=admin,o=lab", "-o", path("no/x")}, 1,
         "dirext: backup: cannot create a file beside " + path("no/x") + ": No such file or directory\n"},
        {"restore", {"cn=admin,o=lab", "-i", path("x")}, 1,
         "dirext: restore: cannot open " + path("x") + ": No such file or directory\n"},
    };
    for (const auto &c : cases) {
        auto r = run(c.command, c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(requests_of("extended").size(), 1u);  // the backup of cn=nobody
}

TEST_F(BackupTest, InterruptedBackupLeavesNoFile)
{
    server_->script({.op = "extended", .reply = {.delay_ms = 2000}});
    testsupport::Child child(argv("backup", {"cn=admin,o=lab", "-o", path("admin.bak")}));
    ASSERT_TRUE(server_->wait_for_requests(2, 10000));  // bind, backup
    kill(child.pid(), SIGINT);
    auto r = child.wait();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "dirext: backup: interrupted; " + path("admin.bak") + " left as it was\n");
    EXPECT_TRUE(files().empty());
}

}  // namespace
}  // namespace dirext_test
