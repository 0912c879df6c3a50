// The settings file's writer on Linux: permissions and owners, links, FIFOs, several processes at once and
// writers killed mid-write. The cases that hold on every system are in profile_test.cpp, the Windows
// build's own in profile_win32_test.cpp.

#include "runtime/settings/profile.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vorsa::runtime;
using namespace vorsa::runtime::literals;

namespace {

using vorsa::test_files::read_bytes;
using vorsa::test_files::write_bytes;

mode_t file_mode(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<std::string> directory_entries(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `action` in a child process as the unprivileged user "nobody" and returns its exit code, or -1
// when the child could not drop its privileges.
template <typename Action> int run_as_nobody(Action action)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
        ::_exit(action());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 100 ? WEXITSTATUS(status) : -1;
}

class ProfileFilePosix : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "profile_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        ::chmod(m_dir.c_str(), 0755); // reachable by the unprivileged child of some tests
        m_path = m_dir + "/dy.cfg";
    }
    void TearDown() override
    {
        ::chmod(m_dir.c_str(), 0755);
        std::filesystem::remove_all(m_dir);
    }

    std::string m_dir;
    std::string m_path;
};

TEST_F(ProfileFilePosix, FirstWriteCreatesFileWithDefaultPermissions)
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(profile_write_string(m_path, "print", "pplist", "耐克|"_gbk));
    EXPECT_EQ(read_bytes(m_path), "[print]\r\npplist=耐克|\r\n"_gbk);
    EXPECT_EQ(file_mode(m_path), 0666 & ~mask);
    EXPECT_EQ(directory_entries(m_dir), std::vector<std::string>{"dy.cfg"}) << "no temporary file left";
}

TEST_F(ProfileFilePosix, RewriteKeepsPermissionsAndOwner)
{
    write_bytes(m_path, "[print]\r\nyyy=a\r\n");
    ASSERT_EQ(::chmod(m_path.c_str(), 0640), 0);
    const bool privileged = ::geteuid() == 0;
    if (privileged) {
        ASSERT_EQ(::chown(m_path.c_str(), 65534, 65534), 0);
    }

    ASSERT_TRUE(profile_write_string(m_path, "print", "yyy", "b"));
    ASSERT_TRUE(profile_write_string(m_path, "print", "xsd", "c"));
    EXPECT_EQ(read_bytes(m_path), "[print]\r\nyyy=b\r\nxsd=c\r\n");
    EXPECT_EQ(file_mode(m_path), 0640);
    if (privileged) {
        struct stat info = {};
        ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    EXPECT_EQ(directory_entries(m_dir), std::vector<std::string>{"dy.cfg"});
}

TEST_F(ProfileFilePosix, WriteOfTheStoredValueLeavesTheFileAlone)
{
    write_bytes(m_path, "[print]\r\nyyy=a\r\n");
    // A second name for the file: a file renamed into place would not be the one it names.
    const std::string held = m_dir + "/held";
    ASSERT_EQ(::link(m_path.c_str(), held.c_str()), 0);
    const auto same_file = [&] {
        struct stat file = {}, link = {};
        return ::stat(m_path.c_str(), &file) == 0 && ::stat(held.c_str(), &link) == 0 &&
               file.st_ino == link.st_ino;
    };
    // The same value, and one cut back to it at its line break.
    ASSERT_TRUE(profile_write_string(m_path, "print", "yyy", "a"));
    EXPECT_TRUE(same_file());
    ASSERT_TRUE(profile_write_string(m_path, "print", "yyy", "a\r\nb=c"));
    EXPECT_TRUE(same_file());
    EXPECT_EQ(read_bytes(m_path), "[print]\r\nyyy=a\r\n");
    // A new value, and an empty one for a missing key, are written.
    ASSERT_TRUE(profile_write_string(m_path, "print", "yyy", "b"));
    ASSERT_TRUE(profile_write_string(m_path, "print", "xsd", ""));
    EXPECT_EQ(read_bytes(m_path), "[print]\r\nyyy=b\r\nxsd=\r\n");
    // A read-only file still refuses, even when it holds the value.
    ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
    EXPECT_FALSE(profile_write_string(m_path, "print", "yyy", "b"));
}

TEST_F(ProfileFilePosix, WriteThroughSymbolicLinkKeepsTheLink)
{
    const std::string target = m_dir + "/real.cfg";
    write_bytes(target, "[a]\r\nk=1\r\n");
    ASSERT_EQ(::symlink("real.cfg", m_path.c_str()), 0);
    ASSERT_TRUE(profile_write_string(m_path, "a", "k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(m_path));
    EXPECT_EQ(read_bytes(target), "[a]\r\nk=2\r\n");
}

TEST_F(ProfileFilePosix, FailedWritesOnSpecialFilesLeaveEverythingAlone)
{
    const std::string original = "[print]\r\nyyy=old\r\n";
    struct Case
    {
        const char* what;
        std::string path;
    };
    write_bytes(m_path, original);
    const std::string read_only = m_dir + "/ro.cfg";
    write_bytes(read_only, original);
    ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
    const std::string fifo = m_dir + "/fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    const Case cases[] = {
        {"FIFO", fifo},
        {"read-only file", read_only},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(profile_write_string(c.path, "print", "yyy", "new")) << c.what;
    EXPECT_EQ(read_bytes(read_only), original);
    EXPECT_EQ(file_mode(read_only), 0444);
    EXPECT_EQ(read_bytes(m_path), original);
    EXPECT_EQ(directory_entries(m_dir), (std::vector<std::string>{"dy.cfg", "fifo.cfg", "ro.cfg"}));
}

// ---- what the writer must never lose or change ----

// Writes where the platform's profile functions write, as an ordinary user: in a folder where the user may
// not create files, and over another user's writable file, the file is rewritten in place; the owner and
// mode of an existing file never change, and where nothing stands in the way the file is still replaced
// whole by a rename.
TEST_F(ProfileFilePosix, WritesInPlaceWhereNoReplaceIsAllowed)
{
    const bool privileged = ::geteuid() == 0;
    const uid_t writer = privileged ? 65534 : ::geteuid();
    const gid_t writer_group = privileged ? 65534 : ::getegid();
    struct Case
    {
        const char* what;
        mode_t folder_mode;
        bool folder_of_writer;
        bool file_of_writer;
        mode_t file_mode;
        bool replaced; // by a rename: a new file under the name
    };
    const Case cases[] = {
        {"own folder and file", 0755, true, true, 0640, true},
        {"folder without write permission", 0555, true, true, 0644, false},
        {"sticky shared folder, another user's file", 01777, false, false, 0666, false},
        {"writable folder, another user's file", 0777, false, false, 0646, false},
    };
    for (const Case& c : cases) {
        if (!privileged && !(c.folder_of_writer && c.file_of_writer)) {
            std::printf("skipped \"%s\": needs a second user, so root\n", c.what);
            continue;
        }
        const std::string folder = m_dir + "/shared";
        std::filesystem::create_directory(folder);
        const std::string path = folder + "/dy.cfg";
        write_bytes(path, "[print]\r\nyyy=old\r\n");
        const uid_t owner = c.file_of_writer ? writer : 0;
        const gid_t group = c.file_of_writer ? writer_group : 0;
        ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.file_mode), 0);
        ASSERT_EQ(
            ::chown(folder.c_str(), c.folder_of_writer ? writer : 0, c.folder_of_writer ? writer_group : 0),
            0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);
        struct stat before = {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);

        const auto write = [&] { return profile_write_string(path, "print", "xsd", "new") ? 1 : 0; };
        const int written = privileged ? run_as_nobody(write) : write();
        ASSERT_GE(written, 0) << "cannot run as an unprivileged user";
        EXPECT_EQ(written, 1) << c.what;
        EXPECT_EQ(read_bytes(path), "[print]\r\nyyy=old\r\nxsd=new\r\n") << c.what;
        struct stat after = {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino != before.st_ino, c.replaced) << c.what;
        EXPECT_EQ(after.st_uid, owner) << c.what;
        EXPECT_EQ(after.st_gid, group) << c.what;
        EXPECT_EQ(after.st_mode & 07777, c.file_mode) << c.what;
        EXPECT_EQ(directory_entries(folder), std::vector<std::string>{"dy.cfg"}) << c.what;
        ::chmod(folder.c_str(), 0755);
        std::filesystem::remove_all(folder);
    }
}

// Two processes writing different keys 500 times each: every write survives the other's, so each key
// ends with its writer's last value.
TEST_F(ProfileFilePosix, ConcurrentWritersLoseNothing)
{
    // In memory where the system has such a folder: the disk's syncs would make a thousand writes take
    // seconds, and the lock works the same on either.
    std::string memory_dir = "/dev/shm/profile_test.XXXXXX";
    if (std::filesystem::is_directory("/dev/shm") && ::mkdtemp(memory_dir.data())) {
        m_path = memory_dir + "/dy.cfg";
    } else {
        memory_dir.clear();
    }
    write_bytes(m_path, "[print]\r\n");
    constexpr int writes = 500;
    const auto writer = [&](const char* key) {
        const pid_t child = ::fork();
        if (child == 0) {
            int undone = 0;
            for (int i = 0; i < writes; ++i) {
                const std::string value = std::to_string(i);
                if (!profile_write_string(m_path, "print", key, value)) ::_exit(2);
                undone += profile_read(m_path, "print", key) != value;
            }
            ::_exit(undone == 0 ? 0 : 1);
        }
        return child;
    };
    const pid_t children[] = {writer("xsd"), writer("yyy")};
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a value was undone or refused";
    }
    EXPECT_EQ(profile_read(m_path, "print", "xsd"), std::to_string(writes - 1));
    EXPECT_EQ(profile_read(m_path, "print", "yyy"), std::to_string(writes - 1));
    if (!memory_dir.empty()) std::filesystem::remove_all(memory_dir);
}

TEST_F(ProfileFilePosix, WriteCutShortByFileSizeLimitFails)
{
    const std::string original = "[print]\r\nyyy=old\r\n";
    write_bytes(m_path, original);
    // In a child whose files may not grow beyond 1000 bytes, a 5000-byte value cannot be written.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        ::_exit(profile_write_string(m_path, "print", "yyy", std::string(5000, 'x')) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
    EXPECT_EQ(read_bytes(m_path), original);
    EXPECT_EQ(directory_entries(m_dir), std::vector<std::string>{"dy.cfg"}) << "temporary file left";
}

TEST_F(ProfileFilePosix, KilledWriterLeavesOldOrNewContent)
{
    // An unrelated section of half a megabyte makes every write long enough to be cut short.
    std::string base = "[print]\r\nyyy=start\r\n[filler]\r\n";
    for (int i = 0; base.size() < 512 * 1024; ++i)
        base += "line" + std::to_string(i) + "=" + std::string(60, 'x') + "\r\n";
    const std::string short_value = "a";
    const std::string long_value(3000, 'b');
    const Text with_short = profile_assign(base, "print", "yyy", short_value);
    const Text with_long = profile_assign(base, "print", "yyy", long_value);
    write_bytes(m_path, with_short);

    std::mt19937 random(7);
    std::uniform_int_distribution<int> delay_us(0, 30000);
    int changes = 0;
    Text last = with_short;
    for (int round = 0; round < 40; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i)
                profile_write_string(m_path, "print", "yyy", i % 2 ? short_value : long_value);
        }
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const Text now = read_bytes(m_path);
        ASSERT_TRUE(now == with_short || now == with_long)
            << "round " << round << ": " << now.size() << " bytes";
        const auto value = profile_lookup(now, "print", "yyy");
        ASSERT_TRUE(value == short_value || value == long_value);
        changes += now != last;
        last = now;
    }
    EXPECT_GT(changes, 0) << "the writer never finished a write";
}

TEST_F(ProfileFilePosix, GetStringFallsBackForAFifoWithoutOpeningIt)
{
    const std::string fifo = m_dir + "/fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    char buffer[16];
    EXPECT_EQ(profile_get_string(fifo, "a", "k", "fb", buffer, sizeof buffer), 2);
    EXPECT_STREQ(buffer, "fb");
}

} // namespace
