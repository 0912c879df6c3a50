// The settings file's layer on Windows: two writers in two processes, a replace while another program
// has the file open, the hidden and read-only attributes, long paths, the temporary files of killed
// writers and a disk that fills up under a write.

#include "runtime/settings/profile.h"
#include "runtime/settings/settings.h"
#include "runtime/text/windows_path.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/temp_directory.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

using namespace vorsa::runtime;

namespace {

namespace fs = std::filesystem;
using vorsa::test_files::read_bytes;
using vorsa::test_files::write_bytes;

// The attributes the tests set and look at.
constexpr DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

DWORD marks_of(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(windows_path(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? attributes : attributes & marks;
}

bool set_marks(const std::string& path, DWORD attributes)
{
    return SetFileAttributesW(windows_path(path).c_str(),
                              attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) != 0;
}

// A path of the program's (UTF-8) for the standard library.
fs::path native(const std::string& path)
{
    return fs::path(std::u8string(path.begin(), path.end()));
}

// The names in `directory`, of any length of path, sorted.
std::vector<std::string> directory_entries(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((windows_path(directory) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(fs::path(name).string());
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool make_directory(const std::string& path)
{
    return CreateDirectoryW(windows_path(path).c_str(), nullptr) != 0;
}

class HeldFile
{
public:
    HeldFile(const std::string& path, DWORD access, DWORD share)
        : m_handle(CreateFileW(windows_path(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~HeldFile() { close(); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    void close()
    {
        if (valid()) CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
    // The content of the file this handle holds, which is no longer the one under the name once a
    // replace has put a new file there.
    std::string content() const
    {
        std::string bytes(4096, '\0');
        DWORD got = 0;
        SetFilePointer(m_handle, 0, nullptr, FILE_BEGIN);
        if (!ReadFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) return {};
        bytes.resize(got);
        return bytes;
    }

private:
    HANDLE m_handle;
};

class ProfileFileWindows : public testing::Test
{
protected:
    vorsa::test_files::TempDirectory m_temp{"profile_win32_test"};
    std::string m_dir = m_temp.text();
    std::string m_path = m_dir + "\\dy.cfg";
};

// ---- several writers ----

// The child process of TwoWritersLoseNothing: writes "yyy" again and again until the stop file exists,
// checking each value reads back, then writes "last". Exits with 0, or 1 when a value was undone or a
// write refused.
TEST(ProfileWriterProcess, DISABLED_WritesUntilStopped)
{
    const char* path = std::getenv("VORSA_TEST_WRITER_PATH");
    const char* stop = std::getenv("VORSA_TEST_WRITER_STOP");
    ASSERT_TRUE(path != nullptr && stop != nullptr);
    int undone = 0;
    for (int i = 0; GetFileAttributesW(windows_path(stop).c_str()) == INVALID_FILE_ATTRIBUTES && i < 100000;
         ++i) {
        const std::string value = std::to_string(i);
        if (!write_setting(path, "print", "yyy", value)) std::exit(1);
        undone += read_setting(path, "print", "yyy") != value;
    }
    std::exit(undone == 0 && write_setting(path, "print", "yyy", "last") ? 0 : 1);
}

// The writer of the other process in TwoWritersLoseNothing, stopped (and waited for) when it goes.
class ChildWriter
{
public:
    ChildWriter(const std::string& path, const std::string& stop) : m_stop(stop)
    {
        wchar_t program[MAX_PATH * 4];
        if (GetModuleFileNameW(nullptr, program, MAX_PATH * 4) == 0) return;
        std::wstring command = L"\"" + std::wstring(program) +
                               L"\" --gtest_also_run_disabled_tests "
                               L"--gtest_filter=ProfileWriterProcess.DISABLED_WritesUntilStopped";
        SetEnvironmentVariableA("VORSA_TEST_WRITER_PATH", path.c_str());
        SetEnvironmentVariableA("VORSA_TEST_WRITER_STOP", stop.c_str());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &child)) {
            CloseHandle(child.hThread);
            m_process = child.hProcess;
        }
        SetEnvironmentVariableA("VORSA_TEST_WRITER_PATH", nullptr);
        SetEnvironmentVariableA("VORSA_TEST_WRITER_STOP", nullptr);
    }
    ~ChildWriter()
    {
        if (m_process == nullptr) return;
        stop();
        if (WaitForSingleObject(m_process, 60000) != WAIT_OBJECT_0) TerminateProcess(m_process, 2);
        CloseHandle(m_process);
    }
    ChildWriter(const ChildWriter&) = delete;
    ChildWriter& operator=(const ChildWriter&) = delete;

    bool started() const { return m_process != nullptr; }
    bool running() const { return WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    // The child's exit code once it has stopped; 2 when it did not stop within a minute.
    DWORD finish() const
    {
        stop();
        DWORD status = 2;
        if (WaitForSingleObject(m_process, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(m_process, &status);
        return status;
    }

private:
    void stop() const { write_bytes(native(m_stop), ""); }

    std::string m_stop;
    HANDLE m_process = nullptr;
};

// A second process writes one key while this one writes another, a few hundred times, both under the
// file's lock: every value each wrote reads back until its own next write, and both last values stay.
TEST_F(ProfileFileWindows, TwoWritersLoseNothing)
{
    // Under Wine, a folder in memory where there is one: a flush to disk per write would make it slow.
    std::string directory = m_dir;
    std::optional<vorsa::test_files::TempDirectory> memory;
    if (fs::is_directory("Z:\\dev\\shm")) {
        memory.emplace("Z:\\dev\\shm", "profile_win32_test");
        directory = memory->text();
    }
    const std::string path = directory + "\\dy.cfg";
    write_bytes(native(path), "[print]\r\n");
    const ChildWriter child(path, directory + "\\stop");
    ASSERT_TRUE(child.started());

    // This process writes only while the other one does: from its first value to after this one's last.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (read_setting(path, "print", "yyy").empty() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    constexpr int writes = 300;
    int refused = 0;
    int undone = 0;
    for (int i = 0; i < writes; ++i) {
        const std::string value = std::to_string(i);
        refused += !write_setting(path, "print", "xsd", value);
        undone += read_setting(path, "print", "xsd") != value;
    }
    EXPECT_TRUE(child.running()) << "the writers did not overlap";
    EXPECT_EQ(child.finish(), 0u) << "the other process had a value undone or a write refused";
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(undone, 0);
    EXPECT_EQ(read_setting(path, "print", "xsd"), std::to_string(writes - 1));
    EXPECT_EQ(read_setting(path, "print", "yyy"), "last");
    EXPECT_EQ(directory_entries(directory), (std::vector<std::string>{"dy.cfg", "stop"}));
}

// Another writer is between the two renames of its replace: its old file has a temporary name and is
// locked (the writers' lock, one byte at 2^62), its new one waits under another temporary name, and no
// file has the settings name. A reader or writer waits until the new file is in place instead of taking
// the name for missing (and creating, or completing the replace itself).
TEST_F(ProfileFileWindows, WaitsForAReplaceUnderWay)
{
    const std::string old_path = m_dir + "\\.dy.cfg.vorsa-tmp-old001";
    const std::string new_path = m_dir + "\\.dy.cfg.vorsa-tmp-new002";
    for (const bool by_reader : {true, false}) {
        SCOPED_TRACE(by_reader ? "reader" : "writer");
        write_bytes(native(old_path), "[print]\r\nyyy=old\r\n");
        write_bytes(native(new_path), "[print]\r\nyyy=new\r\n");
        const HANDLE old_file = CreateFileW(windows_path(old_path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED lock_byte{};
        lock_byte.OffsetHigh = 0x40000000;
        ASSERT_TRUE(LockFileEx(old_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock_byte));

        // The other writer's second rename, a while later; then it lets go of its old file.
        bool renamed = false;
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            renamed = MoveFileExW(windows_path(new_path).c_str(), windows_path(m_path).c_str(), 0) != 0;
            OVERLAPPED position = lock_byte;
            UnlockFileEx(old_file, 0, 1, 0, &position);
            CloseHandle(old_file);
            DeleteFileW(windows_path(old_path).c_str());
        });
        if (by_reader) {
            EXPECT_EQ(read_setting(m_path, "print", "yyy"), "new");
        } else {
            EXPECT_TRUE(write_setting(m_path, "print", "xsd", "more"));
        }
        other.join();
        EXPECT_TRUE(renamed) << "the name was taken meanwhile";
        EXPECT_EQ(read_bytes(native(m_path)),
                  by_reader ? "[print]\r\nyyy=new\r\n" : "[print]\r\nyyy=new\r\nxsd=more\r\n");
        EXPECT_EQ(directory_entries(m_dir), std::vector<std::string>{"dy.cfg"});
        ASSERT_TRUE(DeleteFileW(windows_path(m_path).c_str()));
    }
}

// A writer killed between the two renames of its replace left the old content and the new one under
// temporary names, and no file under the name: the next reader or writer puts the newer one back.
TEST_F(ProfileFileWindows, ReplaceKilledHalfWayIsCompleted)
{
    const auto leave = [&](const char* name, const std::string& content, ULONGLONG written) {
        const std::string path = m_dir + "\\" + name;
        write_bytes(native(path), content);
        const HANDLE file = CreateFileW(windows_path(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const FILETIME time{static_cast<DWORD>(written & 0xFFFFFFFFu), static_cast<DWORD>(written >> 32)};
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
    };
    constexpr ULONGLONG an_hour = 36'000'000'000;
    constexpr ULONGLONG a_day_in_2024 = 133'500'000'000'000'000;
    for (const bool by_reader : {true, false}) {
        SCOPED_TRACE(by_reader ? "reader" : "writer");
        leave(".dy.cfg.vorsa-tmp-old001", "[print]\r\nyyy=old\r\n", a_day_in_2024);
        leave(".dy.cfg.vorsa-tmp-new002", "[print]\r\nyyy=new\r\n", a_day_in_2024 + an_hour);
        if (by_reader) {
            EXPECT_EQ(read_setting(m_path, "print", "yyy"), "new");
        } else {
            EXPECT_TRUE(write_setting(m_path, "print", "xsd", "more"));
        }
        EXPECT_EQ(read_bytes(native(m_path)),
                  by_reader ? "[print]\r\nyyy=new\r\n" : "[print]\r\nyyy=new\r\nxsd=more\r\n");
        ASSERT_TRUE(write_setting(m_path, "print", "xsd", "done"));
        EXPECT_EQ(directory_entries(m_dir), std::vector<std::string>{"dy.cfg"});
        ASSERT_TRUE(DeleteFileW(windows_path(m_path).c_str()));
    }
}

// ---- other programs, attributes, paths ----

// Another program has the file open while a value is written. One that lets the file be renamed (as a
// reader of this program does) keeps reading the old file, and the new content is put in place whole;
// one that does not gets the file rewritten in place. Either way the value is written.
TEST_F(ProfileFileWindows, WritesWhileAnotherProgramHasTheFileOpen)
{
    const struct
    {
        const char* what;
        DWORD access;
        DWORD share;
        bool replaced;
    } cases[] = {
        {"a reader that lets the file be renamed", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"a reader that does not", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {"a writer that does not", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
    };
    const std::string before = "[print]\r\nyyy=old\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_bytes(native(m_path), before);
        HeldFile held(m_path, c.access, c.share);
        ASSERT_TRUE(held.valid());
        EXPECT_TRUE(write_setting(m_path, "print", "xsd", "new"));
        EXPECT_EQ(read_setting(m_path, "print", "xsd"), "new");
        EXPECT_EQ(held.content(), c.replaced ? before : "[print]\r\nyyy=old\r\nxsd=new\r\n");
        held.close();
        EXPECT_EQ(read_bytes(native(m_path)), "[print]\r\nyyy=old\r\nxsd=new\r\n");
        EXPECT_EQ(directory_entries(m_dir), std::vector<std::string>{"dy.cfg"}) << "a temporary file is left";
    }
}

// The hidden mark and the like stay on the file through a write; a read-only file is not written, even
// when the user's privileges would let the write through.
TEST_F(ProfileFileWindows, AttributesStayAndReadOnlyFilesAreNotWritten)
{
    const struct
    {
        const char* what;
        DWORD attributes;
        bool written;
    } cases[] = {
        {"plain", 0, true},
        {"hidden", FILE_ATTRIBUTE_HIDDEN, true},
        {"hidden system file", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, true},
        {"read-only", FILE_ATTRIBUTE_READONLY, false},
        {"read-only and hidden", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, false},
    };
    const std::string before = "[print]\r\nyyy=old\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(set_marks(m_path, 0) || !fs::exists(native(m_path)));
        write_bytes(native(m_path), before);
        ASSERT_TRUE(set_marks(m_path, c.attributes));
        ASSERT_EQ(marks_of(m_path), c.attributes) << "the file system keeps no such attributes";
        EXPECT_EQ(write_setting(m_path, "print", "yyy", "new"), c.written);
        EXPECT_EQ(write_setting(m_path, "print", "yyy", "new"), c.written) << "the value held already";
        EXPECT_EQ(read_bytes(native(m_path)), c.written ? "[print]\r\nyyy=new\r\n" : before);
        EXPECT_EQ(marks_of(m_path), c.attributes);
    }
}

// Paths of any length, also in folders whose names are not ASCII; "/" and "\" alike.
TEST_F(ProfileFileWindows, PathsOfAnyLength)
{
    std::string deep = m_dir + "\\\xE5\xB0\x8F\xE7\xA5\xA8"; // 小票
    ASSERT_TRUE(make_directory(deep));
    for (int i = 0; i < 8; ++i) {
        deep += "\\" + std::string(60, static_cast<char>('a' + i));
        ASSERT_TRUE(make_directory(deep));
    }
    const std::string backslash = deep + "\\dy.cfg";
    const std::string slash = deep + "/dy.cfg";
    ASSERT_GT(backslash.size(), 500u);
    EXPECT_EQ(read_setting(backslash, "print", "yyy", "none"), "none");
    EXPECT_TRUE(write_setting(backslash, "print", "yyy", "1"));
    EXPECT_EQ(read_setting(slash, "print", "yyy"), "1");
    EXPECT_TRUE(write_setting(slash, "print", "yyy", "2"));
    EXPECT_EQ(read_setting(backslash, "print", "yyy"), "2");
    EXPECT_EQ(directory_entries(deep), std::vector<std::string>{"dy.cfg"});
}

// A write removes the temporary files killed writers left beside the file (names differing in case
// only are one name on Windows), and nothing else: not the file of a writer at work (open, and not to
// be deleted), nor any other name.
TEST_F(ProfileFileWindows, RemovesOnlyTheTemporaryFilesOfKilledWriters)
{
    write_bytes(native(m_path), "[print]\r\n");
    for (const char* name :
         {".dy.cfg.vorsa-tmp-a1B2c3", ".dy.cfg.vorsa-tmp-zzzzzz", ".dy.cfg.vorsa-tmp-live00",
          ".dy.cfg.vorsa-tmp-short", ".dy.cfg.backup", ".DY.CFG.vorsa-tmp-Z9y8X7"})
        write_bytes(native(m_dir + "\\" + name), "stale");
    ASSERT_TRUE(make_directory(m_dir + "\\.dy.cfg.vorsa-tmp-folder"));
    HeldFile live(m_dir + "\\.dy.cfg.vorsa-tmp-live00", GENERIC_WRITE, FILE_SHARE_READ);
    ASSERT_TRUE(live.valid());

    ASSERT_TRUE(write_setting(m_path, "print", "yyy", "new"));
    EXPECT_EQ(directory_entries(m_dir),
              (std::vector<std::string>{".dy.cfg.backup", ".dy.cfg.vorsa-tmp-folder",
                                        ".dy.cfg.vorsa-tmp-live00", ".dy.cfg.vorsa-tmp-short", "dy.cfg"}));
    EXPECT_EQ(read_setting(m_path, "print", "yyy"), "new");
}

// ---- a full disk ----

// A write that runs out of room leaves the file as it was, whether it goes by a temporary file or in
// place (a file with a second name), and leaves no file behind. Runs under a file size limit that
// stands for the full disk (see tests/runtime/settings/CMakeLists.txt).
TEST_F(ProfileFileWindows, FullDiskLeavesTheFileAsItWas)
{
    const char* limit_kb = std::getenv("VORSA_WINE_FILE_SIZE_LIMIT_KB");
    if (limit_kb == nullptr) GTEST_SKIP() << "needs a file size limit";
    const std::string too_long(static_cast<std::size_t>(std::atoi(limit_kb)) * 1024 + 1, 'x');
    const std::string before = "[print]\r\nyyy=old\r\n";
    const struct
    {
        const char* what;
        bool exists;
        bool second_name;
    } cases[] = {
        {"replaced by way of a temporary file", true, false},
        {"rewritten in place", true, true},
        {"created", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vorsa::test_files::TempDirectory directory("profile_full_disk");
        const std::string path = directory.text() + "\\dy.cfg";
        std::vector<std::string> entries;
        if (c.exists) {
            write_bytes(native(path), before);
            entries.push_back("dy.cfg");
        }
        if (c.second_name) {
            ASSERT_TRUE(CreateHardLinkW(windows_path(directory.text() + "\\held").c_str(),
                                        windows_path(path).c_str(), nullptr));
            entries.push_back("held");
        }
        EXPECT_FALSE(write_setting(path, "print", "yyy", too_long));
        EXPECT_EQ(directory_entries(directory.text()), entries);
        if (c.exists) {
            EXPECT_EQ(read_bytes(native(path)), before);
            EXPECT_EQ(read_setting(path, "print", "yyy"), "old");
        }
        // What fits is still written.
        EXPECT_TRUE(write_setting(path, "print", "xsd", "fits"));
        EXPECT_EQ(read_setting(path, "print", "xsd"), "fits");
    }
}

} // namespace
