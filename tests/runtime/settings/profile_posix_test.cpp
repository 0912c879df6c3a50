// The writer's cases that only make sense on Linux: permissions and owners, links planted in shared
// folders, locks held by other processes, forked and killed writers, FIFOs.

#include "runtime/settings/profile.h"
#include "runtime/settings/trusted_links.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/runtime/settings/other_user.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vorsa::runtime;
using namespace vorsa::runtime::literals;
using namespace std::string_literals;

namespace {

using vorsa::test_files::nobody_uid;
using vorsa::test_files::read_bytes;
using vorsa::test_files::run_as;
using vorsa::test_files::stranger_uid;
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

template <typename Action> int run_as_nobody(Action action)
{
    return run_as(nobody_uid, action);
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

// The path a write goes to: every link resolved where it points, as opening the path would resolve it
// (so ".." after a linked folder climbs from the folder it leads to), the last part possibly missing.
// A link another user planted in a sticky shared folder is refused wherever it stands on the path.
TEST_F(ProfileFilePosix, LinksResolveAsOpeningResolvesThem)
{
    const bool privileged = ::geteuid() == 0;
    namespace fs = std::filesystem;
    const fs::path dir = m_dir;
    fs::create_directories(dir / "real" / "sub");
    write_bytes(m_dir + "/real/dy.cfg", "[a]\r\n");
    fs::create_symlink("real", dir / "to_real");
    fs::create_symlink("real/dy.cfg", dir / "to_file");
    fs::create_symlink("to_file", dir / "chain");
    fs::create_symlink(dir / "real" / "dy.cfg", dir / "absolute");
    fs::create_symlink("real/sub", dir / "deep");
    fs::create_symlink("real/missing.cfg", dir / "dangling");
    fs::create_symlink("loop_b", dir / "loop_a");
    fs::create_symlink("loop_a", dir / "loop_b");
    fs::create_directory(dir / "shared");
    fs::create_symlink(dir / "real", dir / "shared" / "folder");
    ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
    if (privileged) {
        ASSERT_EQ(::lchown((dir / "shared" / "folder").c_str(), stranger_uid, stranger_uid), 0);
    }
    const std::string real_file = m_dir + "/real/dy.cfg";
    const std::string name = dir.filename().string();
    struct Case
    {
        const char* what;
        std::string path;
        std::optional<std::string> resolved;
        int error = 0;
    };
    const Case cases[] = {
        {"a plain path", real_file, real_file},
        {"a link to a file", m_dir + "/to_file", real_file},
        {"a chain of links", m_dir + "/chain", real_file},
        {"an absolute target", m_dir + "/absolute", real_file},
        {"a linked folder", m_dir + "/to_real/dy.cfg", real_file},
        {"'..' after a linked folder", m_dir + "/deep/../dy.cfg", real_file},
        {"a missing last part", m_dir + "/real/new.cfg", m_dir + "/real/new.cfg"},
        {"a link to a missing file", m_dir + "/dangling", m_dir + "/real/missing.cfg"},
        {"a relative path", "real/../chain", "./real/dy.cfg"},
        {"a relative path out of its folder", "../" + name + "/deep/../dy.cfg",
         "../" + name + "/real/dy.cfg"},
        {"the root's parent is the root", "/../" + m_dir.substr(1) + "/to_file", real_file},
        {"a missing folder", m_dir + "/none/dy.cfg", std::nullopt, ENOENT},
        {"a file for a folder", real_file + "/dy.cfg", std::nullopt, ENOTDIR},
        {"a loop", m_dir + "/loop_a", std::nullopt, ELOOP},
        {"a stranger's link to a folder in a sticky folder", m_dir + "/shared/folder/dy.cfg",
         privileged ? std::nullopt : std::optional<std::string>(real_file), privileged ? EACCES : 0},
    };
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    for (const Case& c : cases) {
        errno = 0;
        const std::optional<std::string> resolved = resolve_trusted_path(c.path);
        EXPECT_EQ(resolved, c.resolved) << c.what;
        if (!c.resolved) {
            EXPECT_EQ(errno, c.error) << c.what;
        }
    }
    fs::current_path(before);
}

// Links in a sticky shared folder, written and read as root and as an ordinary user. A link that another
// user planted there leads nowhere: nothing is written to the file it names (a missing one is not
// created), and the settings read as missing. The user's own link, and a link of the folder's owner,
// lead where they point, as the kernel's rule for such folders lets them.
TEST_F(ProfileFilePosix, LinksPlantedInASharedFolderLeadNowhere)
{
    const bool privileged = ::geteuid() == 0;
    enum class Who
    {
        victim,
        stranger,
        root
    };
    struct Case
    {
        const char* what;
        bool victim_is_root;
        Who link_owner;
        Who folder_owner;
        bool target_exists;
        bool followed;
    };
    const Case cases[] = {
        {"root, a stranger's link", true, Who::stranger, Who::root, true, false},
        {"user, a stranger's link", false, Who::stranger, Who::root, true, false},
        {"root, a stranger's link to a missing file", true, Who::stranger, Who::root, false, false},
        {"user, a stranger's link to a missing file", false, Who::stranger, Who::root, false, false},
        {"root, own link in a stranger's folder", true, Who::victim, Who::stranger, true, true},
        {"user, own link", false, Who::victim, Who::root, true, true},
        {"user, own link to a missing file", false, Who::victim, Who::root, false, true},
        {"user, own link in own folder", false, Who::victim, Who::victim, true, true},
        {"user, a link of the folder's owner", false, Who::stranger, Who::stranger, true, true},
    };
    enum Outcome
    {
        wrote = 1,
        read_something = 2,
        read_the_value = 4
    };
    const std::string original = "[print]\r\nyyy=mine\r\n";
    int ran = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!privileged &&
            (c.victim_is_root || c.link_owner != Who::victim || c.folder_owner != Who::victim)) {
            std::printf("skipped \"%s\": needs a second user, so root\n", c.what);
            continue;
        }
        ++ran;
        const uid_t victim = c.victim_is_root ? 0 : privileged ? nobody_uid : ::geteuid();
        const auto uid_of = [&](Who who) {
            return who == Who::victim ? victim : who == Who::stranger ? stranger_uid : 0;
        };
        const std::string shared = m_dir + "/shared";
        const std::string home = m_dir + "/home";
        const std::string target = home + "/victim-file";
        const std::string link = shared + "/dy.cfg";
        std::filesystem::create_directory(shared);
        std::filesystem::create_directory(home);
        if (c.target_exists) {
            write_bytes(target, original);
            ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
        }
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        if (privileged) {
            ASSERT_EQ(::chown(home.c_str(), victim, victim), 0);
            if (c.target_exists) {
                ASSERT_EQ(::chown(target.c_str(), victim, victim), 0);
            }
            ASSERT_EQ(::lchown(link.c_str(), uid_of(c.link_owner), uid_of(c.link_owner)), 0);
            ASSERT_EQ(::chown(shared.c_str(), uid_of(c.folder_owner), uid_of(c.folder_owner)), 0);
        }
        ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);

        const auto act = [&] {
            const bool written = profile_write_string(link, "print", "xsd", "new");
            const std::optional<Text> read = profile_read(link, "print", "xsd");
            return (written ? wrote : 0) | (read ? read_something : 0) | (read == "new" ? read_the_value : 0);
        };
        const int outcome = c.victim_is_root || !privileged ? act() : run_as(victim, act);
        ASSERT_GE(outcome, 0) << "cannot run as an unprivileged user";
        EXPECT_EQ(outcome, c.followed ? wrote | read_something | read_the_value : 0);

        if (c.followed) {
            EXPECT_EQ(read_bytes(target), (c.target_exists ? original : "[print]\r\n"s) + "xsd=new\r\n");
        } else if (c.target_exists) {
            EXPECT_EQ(read_bytes(target), original);
        }
        EXPECT_EQ(directory_entries(home), c.target_exists || c.followed
                                               ? std::vector<std::string>{"victim-file"}
                                               : std::vector<std::string>{});
        struct stat info = {};
        if (c.target_exists) {
            ASSERT_EQ(::stat(target.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0644u);
            EXPECT_EQ(info.st_uid, victim);
        }
        ASSERT_EQ(::lstat(link.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        EXPECT_EQ(directory_entries(shared), std::vector<std::string>{"dy.cfg"});
        std::filesystem::remove_all(shared);
        std::filesystem::remove_all(home);
    }
    EXPECT_GT(ran, 0);
}

TEST_F(ProfileFilePosix, FailedWritesLeaveEverythingAlone)
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
    std::filesystem::create_directory(m_dir + "/dir.cfg");

    const Case cases[] = {
        {"missing directory", m_dir + "/missing/dy.cfg"},
        {"path through a file", m_path + "/dy.cfg"},
        {"directory", m_dir + "/dir.cfg"},
        {"FIFO", fifo},
        {"read-only file", read_only},
        {"empty path", ""},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(profile_write_string(c.path, "print", "yyy", "new")) << c.what;
    EXPECT_EQ(read_bytes(read_only), original);
    EXPECT_EQ(file_mode(read_only), 0444);
    EXPECT_EQ(read_bytes(m_path), original);
    EXPECT_EQ(directory_entries(m_dir),
              (std::vector<std::string>{"dir.cfg", "dy.cfg", "fifo.cfg", "ro.cfg"}));
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

// UTF-16LE as u"" text with its byte-order mark, the way Notepad saves "Unicode".
std::string utf16le_file(std::u16string_view text)
{
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// Files with a byte-order mark read as the platform's profile functions read them and keep their
// encoding and mark when written; values come out and go in as GBK, other lines keep every character,
// also one GBK cannot hold. Blanks, tabs, vertical tabs, form feeds and Ctrl-Z around names and values
// are no part of them.
TEST_F(ProfileFilePosix, FilesKeepTheirEncoding)
{
    struct Case
    {
        const char* what;
        std::string before;
        std::string key;
        Text value;        // read, GBK
        std::string after; // after writing xsd=建国路
    };
    const Case cases[] = {
        {"UTF-16LE", utf16le_file(u"[print]\r\nyyy=王小明\r\n[x]\r\nnote=Grüße 😀\r\n"), "yyy", "王小明"_gbk,
         utf16le_file(u"[print]\r\nyyy=王小明\r\nxsd=建国路\r\n[x]\r\nnote=Grüße 😀\r\n")},
        {"UTF-16LE, a character GBK cannot hold", utf16le_file(u"[print]\r\nyyy=Grüße\r\n"), "yyy",
         "Grü?e"_gbk, utf16le_file(u"[print]\r\nyyy=Grüße\r\nxsd=建国路\r\n")},
        {"UTF-8 with mark", "\xEF\xBB\xBF[print]\r\nyyy=王小明\r\n[x]\r\nnote=😀\r\n", "yyy", "王小明"_gbk,
         "\xEF\xBB\xBF[print]\r\nyyy=王小明\r\nxsd=建国路\r\n[x]\r\nnote=😀\r\n"},
        {"GBK with Ctrl-Z, vertical tab and form feed", "[print]\r\n\vyyy\f=\x1A王小明\v\r\n\x1A"_gbk, "yyy",
         "王小明"_gbk, "[print]\r\n\vyyy\f=\x1A王小明\v\r\nxsd=建国路\r\n\x1A"_gbk},
    };
    for (const Case& c : cases) {
        write_bytes(m_path, c.before);
        EXPECT_EQ(profile_read(m_path, "print", c.key), c.value) << c.what;
        ASSERT_TRUE(profile_write_string(m_path, "print", "xsd", "建国路"_gbk)) << c.what;
        EXPECT_EQ(read_bytes(m_path), c.after) << c.what;
        EXPECT_EQ(profile_read(m_path, "PRINT", "XSD"), "建国路"_gbk) << c.what;
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

// A lock that another process keeps on the file is waited for a bounded time, and then each value is
// written without it rather than lost. The holder here is another user in a shared folder (anyone who
// may read a file may lock it), or, without a second user, the same user in a folder where the writer
// may not create files: either way the file is rewritten in place and stays the one locked. Once the
// holder has outlasted the wait, further accesses wait only briefly: twenty accesses take a few
// seconds, where the full wait at each would take twenty.
TEST_F(ProfileFilePosix, LockKeptByAnotherProcessDelaysLittleAndLosesNothing)
{
    const bool privileged = ::geteuid() == 0;
    const std::string folder = m_dir + "/shared";
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/dy.cfg";
    write_bytes(path, "[print]\r\n");
    if (privileged) {
        ASSERT_EQ(::chown(path.c_str(), stranger_uid, stranger_uid), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 01777), 0);
    } else {
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    }

    int ready[2] = {-1, -1};
    int release[2] = {-1, -1};
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        if (privileged &&
            (::setgroups(0, nullptr) != 0 || ::setgid(stranger_uid) != 0 || ::setuid(stranger_uid) != 0))
            ::_exit(1);
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
        char byte = 1;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        (void)!::read(release[0], &byte, 1); // returns when the test closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the holder could not lock the file";
    ::close(ready[0]);

    constexpr int rounds = 10;
    const auto act = [&] {
        int lost = 0;
        for (int i = 0; i < rounds; ++i) {
            const std::string value = std::to_string(i);
            lost += !profile_write_string(path, "print", "k" + value, value);
            lost += profile_read(path, "print", "k" + value) != value;
        }
        return lost;
    };
    const auto started = std::chrono::steady_clock::now();
    const int lost = privileged ? run_as_nobody(act) : act();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // The holder kept the lock all along.
    const int probe = ::open(path.c_str(), O_RDONLY);
    EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0);
    ::close(probe);
    ::close(release[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::chmod(folder.c_str(), 0755);

    EXPECT_EQ(lost, 0) << "values lost or not read back";
    std::string expected = "[print]\r\n";
    for (int i = 0; i < rounds; ++i)
        expected += "k" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    EXPECT_EQ(read_bytes(path), expected);
    // Generous: about three seconds are expected.
    EXPECT_LT(seconds, 10.0) << "the held lock cost each access the full wait";
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
    // Both sides of the race must be seen, a writer killed after it finished a write (the file changed)
    // and one killed inside a write (its temporary file left); the rounds go on until both were seen,
    // however slow the machine.
    constexpr int least_rounds = 40;
    constexpr int most_rounds = 2000;
    int changes = 0;
    int inside = 0;
    Text last = with_short;
    int round = 0;
    for (; round < least_rounds || ((changes == 0 || inside == 0) && round < most_rounds); ++round) {
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
        inside += directory_entries(m_dir).size() > 1;
    }
    EXPECT_GT(changes, 0) << "the writer never finished a write in " << round << " rounds";
    EXPECT_GT(inside, 0) << "no kill landed inside a write in " << round << " rounds";
}

struct GetStringCase
{
    const char* what;
    int size;
    int expected_count;
    std::string expected;
};

TEST_F(ProfileFilePosix, GetStringCopiesLikeTheWindowsCall)
{
    write_bytes(m_path, "[a]\r\nk= abcdef \r\n");
    const GetStringCase cases[] = {
        {"room for all", 100, 6, "abcdef"}, {"exact room", 7, 6, "abcdef"},
        {"one byte short", 6, 5, "abcde"},  {"tiny", 2, 1, "a"},
        {"terminator only", 1, 0, ""},
    };
    for (const GetStringCase& c : cases) {
        std::string buffer(static_cast<std::size_t>(c.size) + 1, '#');
        const int count = profile_get_string(m_path, "A", "K", "fallback", buffer.data(), c.size);
        EXPECT_EQ(count, c.expected_count) << c.what;
        EXPECT_EQ(std::string(buffer.data()), c.expected) << c.what;
        EXPECT_EQ(buffer[static_cast<std::size_t>(c.size)], '#') << c.what << ": wrote past the buffer";
    }

    char untouched[4] = "xyz";
    EXPECT_EQ(profile_get_string(m_path, "a", "k", "", untouched, 0), 0);
    EXPECT_STREQ(untouched, "xyz");
}

TEST_F(ProfileFilePosix, GetStringFallsBackWhenNothingIsFound)
{
    write_bytes(m_path, "[a]\r\nk=1\r\n");
    const std::string fifo = m_dir + "/fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    struct Case
    {
        const char* what;
        std::string path;
        std::string section;
        std::string key;
    };
    const Case cases[] = {
        {"missing file", m_dir + "/none.cfg", "a", "k"},
        {"missing section", m_path, "b", "k"},
        {"missing key", m_path, "a", "j"},
        {"directory", m_dir, "a", "k"},
        {"FIFO, which is never opened for reading", fifo, "a", "k"},
    };
    for (const Case& c : cases) {
        char buffer[16];
        EXPECT_EQ(profile_get_string(c.path, c.section, c.key, "fb", buffer, sizeof buffer), 2) << c.what;
        EXPECT_STREQ(buffer, "fb") << c.what;
    }
}

} // namespace
