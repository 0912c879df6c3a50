// Start-up's marks on the settings file on Windows: the hidden and read-only attributes; and blanks at
// the end of a directory's name, which Windows drops, so that they can only be padding.

#include "app/startup.h"
#include "runtime/settings/settings.h"
#include "runtime/text/windows_path.h"
#include "tests/app/startup_files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <windows.h>

namespace vorsa::app {
namespace {

namespace fs = std::filesystem;

// The attributes the tests set and look at.
constexpr DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

DWORD marks_of(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(runtime::windows_path(text_of(path)).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? attributes : attributes & marks;
}

bool set_marks(const fs::path& path, DWORD attributes)
{
    return SetFileAttributesW(runtime::windows_path(text_of(path)).c_str(),
                              attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) != 0;
}

using SettingsPath = StartupFiles;

TEST_F(SettingsPath, DropsBlanksThatOnlyPadTheName)
{
    fs::create_directories(m_dir / "shop");
    EXPECT_EQ(settings_path_in(m_dir / "shop  "), text_of(m_dir / "shop" / "dy.cfg"));
    EXPECT_EQ(settings_path_in(text_of(m_dir) + "\\"), text_of(m_dir / "dy.cfg"));
}

using FileMarks = StartupFiles;

TEST_F(FileMarks, HiddenAttributeIsAddedOnce)
{
    const struct
    {
        const char* what;
        bool exists;
        DWORD before;
        bool marked;
        DWORD after;
    } cases[] = {
        {"no settings file", false, 0, false, INVALID_FILE_ATTRIBUTES},
        {"visible file", true, 0, true, FILE_ATTRIBUTE_HIDDEN},
        {"hidden already", true, FILE_ATTRIBUTE_HIDDEN, false, FILE_ATTRIBUTE_HIDDEN},
        {"read-only file stays read-only", true, FILE_ATTRIBUTE_READONLY, true,
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {"system file stays one", true, FILE_ATTRIBUTE_SYSTEM, true,
         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN},
    };
    const fs::path settings = m_dir / "dy.cfg";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (fs::exists(settings)) {
            ASSERT_TRUE(set_marks(settings, 0));
            fs::remove(settings);
        }
        if (c.exists) {
            write(settings, "[print]\r\n");
            ASSERT_TRUE(set_marks(settings, c.before));
        }
        EXPECT_EQ(mark_hidden(text_of(settings)), c.marked);
        EXPECT_FALSE(mark_hidden(text_of(settings))) << "a second start adds nothing";
        EXPECT_EQ(marks_of(settings), c.after);
        if (c.exists) {
            EXPECT_EQ(read(settings), "[print]\r\n");
        }
    }
    fs::create_directory(m_dir / "folder.cfg");
    EXPECT_FALSE(mark_hidden(text_of(m_dir / "folder.cfg")));
    EXPECT_EQ(marks_of(m_dir / "folder.cfg"), 0u);
}

TEST_F(FileMarks, ReadOnlyAttributeIsCleared)
{
    const struct
    {
        const char* what;
        DWORD before;
        bool cleared;
        DWORD after;
    } cases[] = {
        {"read-only", FILE_ATTRIBUTE_READONLY, true, 0},
        {"read-only and hidden", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true,
         FILE_ATTRIBUTE_HIDDEN},
        {"writable", 0, false, 0},
        {"hidden", FILE_ATTRIBUTE_HIDDEN, false, FILE_ATTRIBUTE_HIDDEN},
    };
    const fs::path settings = m_dir / "dy.cfg";
    write(settings, "[print]\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(set_marks(settings, c.before));
        EXPECT_EQ(clear_read_only(text_of(settings)), c.cleared);
        EXPECT_EQ(marks_of(settings), c.after);
    }
    EXPECT_FALSE(clear_read_only(text_of(m_dir / "missing.cfg")));
}

// What the marks are for: a settings file made read-only takes values again once a start has cleared
// the mark, and stays hidden through the write.
TEST_F(FileMarks, StartMakesAReadOnlySettingsFileWritable)
{
    const std::string settings = text_of(m_dir / "dy.cfg");
    write(m_dir / "dy.cfg", "[print]\r\nyyy=old\r\n");
    ASSERT_TRUE(set_marks(m_dir / "dy.cfg", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(runtime::write_setting(settings, "print", "yyy", "new"));
    EXPECT_EQ(runtime::read_setting(settings, "print", "yyy"), "old");

    EXPECT_TRUE(mark_hidden(settings));
    EXPECT_TRUE(clear_read_only(settings));
    EXPECT_TRUE(runtime::write_setting(settings, "print", "yyy", "new"));
    EXPECT_EQ(runtime::read_setting(settings, "print", "yyy"), "new");
    EXPECT_EQ(marks_of(m_dir / "dy.cfg"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
}

} // namespace
} // namespace vorsa::app
