// Start-up's marks on the settings file on Linux: the ".hidden" listing, and blanks at the end of a
// directory's name, which only a POSIX name can hold.

#include "app/startup.h"
#include "tests/app/startup_files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace vorsa::app {
namespace {

namespace fs = std::filesystem;

using SettingsPath = StartupFiles;

TEST_F(SettingsPath, KeepsBlanksThatBelongToTheName)
{
    // Blanks that belong to the directory's name stay: the file must not move to another directory.
    for (const char* name : {"shop ", "shop\xE3\x80\x80", "  "}) {
        const fs::path blank = m_dir / name;
        fs::create_directories(blank);
        fs::create_directories(m_dir / "shop");
        EXPECT_EQ(settings_path_in(blank), blank.string() + "/dy.cfg") << name;
    }
    // Blanks that only pad the name of the same directory go.
    fs::create_symlink(m_dir / "shop", m_dir / "link");
    fs::create_symlink(m_dir / "shop", m_dir / "link ");
    EXPECT_EQ(settings_path_in(m_dir / "link "), (m_dir / "link").string() + "/dy.cfg");
}

using HiddenMark = StartupFiles;

TEST_F(HiddenMark, ListsTheSettingsFileOnceWithoutDisturbingOthers)
{
    const struct
    {
        const char* name;
        std::optional<std::string> before; // .hidden before, none when missing
        bool settings_exist;
        std::optional<std::string> after;
        bool added;
    } cases[] = {
        {"no settings file", std::nullopt, false, std::nullopt, false},
        {"no settings file, list kept", "notes\n", false, "notes\n", false},
        {"new list", std::nullopt, true, "dy.cfg\n", true},
        {"empty list", "", true, "dy.cfg\n", true},
        {"appended", "notes\nold.txt\n", true, "notes\nold.txt\ndy.cfg\n", true},
        {"last line unterminated", "notes", true, "notes\ndy.cfg\n", true},
        {"already listed", "a\ndy.cfg\nb\n", true, "a\ndy.cfg\nb\n", false},
        {"listed with CR LF", "a\r\ndy.cfg\r\n", true, "a\r\ndy.cfg\r\n", false},
        {"similar name only", "dy.cfg.bak\nxdy.cfg\n", true, "dy.cfg.bak\nxdy.cfg\ndy.cfg\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_dir / ".hidden");
        fs::remove(m_dir / "dy.cfg");
        if (c.before) write(m_dir / ".hidden", *c.before);
        if (c.settings_exist) write(m_dir / "dy.cfg", "[print]\r\n");
        const std::string settings = (m_dir / "dy.cfg").string();
        EXPECT_EQ(mark_hidden(settings), c.added);
        EXPECT_EQ(fs::exists(m_dir / ".hidden"), c.after.has_value());
        // A second start adds nothing.
        EXPECT_FALSE(mark_hidden(settings));
        if (c.after) {
            EXPECT_EQ(read(m_dir / ".hidden"), *c.after);
        }
        // The settings file itself is left alone.
        if (c.settings_exist) {
            EXPECT_EQ(read(m_dir / "dy.cfg"), "[print]\r\n");
        }
    }
}

TEST_F(HiddenMark, LeavesAListThatIsNoFileAlone)
{
    write(m_dir / "dy.cfg", "");
    fs::create_directory(m_dir / ".hidden");
    EXPECT_FALSE(mark_hidden((m_dir / "dy.cfg").string()));
    EXPECT_TRUE(fs::is_directory(m_dir / ".hidden"));
}

} // namespace
} // namespace vorsa::app
