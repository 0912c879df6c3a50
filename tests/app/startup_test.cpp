// Start-up helpers and quantity stepping, without a window: the settings path, the hidden mark, the
// date text and the spin control's arithmetic.

#include "app/quantity.h"
#include "app/startup.h"
#include "runtime/controls/memory_controls.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/other_user.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vorsa::app {
namespace {

namespace fs = std::filesystem;
using namespace runtime::literals;

struct StepCase
{
    const char* text; // UTF-8
    int delta;
    std::optional<const char*> stepped;
};

TEST(StepQuantity, StaysWithinOneToNineHundredNinetyNine)
{
    const StepCase cases[] = {
        {"1", +1, std::nullopt}, // lower arrow at the minimum
        {"1", -1, "2"},
        {"2", +1, "1"},
        {"999", -1, std::nullopt},
        {"998", -1, "999"},
        {"abc", -1, "1"}, // letters read as 0
        {"abc", +1, std::nullopt},
        {"", -1, "1"},
        {"", +1, std::nullopt},
        {"5.7", -1, "6"},
        {"１２", -1, "13"}, // full-width digits
        {"  42abc", -1, "43"},
        {"-5", -1, std::nullopt},
        {"1000", +1, "999"},
        {"99999999999", +1, std::nullopt}, // saturated reading, no overflow
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.delta));
        const auto stepped = stepped_quantity(runtime::gbk_from_utf8(c.text), c.delta);
        ASSERT_EQ(stepped.has_value(), c.stepped.has_value());
        if (stepped) {
            EXPECT_EQ(*stepped, *c.stepped);
        }
    }
}

TEST(StepQuantity, LeavesTheBoxAsItIsAtABound)
{
    runtime::MemoryEditBox box;
    box.set_control_text("abc");
    step_quantity(box, +1);
    EXPECT_EQ(box.get_control_text(), "abc");
    step_quantity(box, -1);
    EXPECT_EQ(box.get_control_text(), "1");
}

TEST(DateText, YearMonthAndDayWithTwoDigitMonthAndDay)
{
    const struct
    {
        LocalDate date;
        const char* text;
    } cases[] = {
        {{2015, 3, 5}, "2015-03-05"},
        {{2014, 10, 6}, "2014-10-06"},
        {{2015, 12, 31}, "2015-12-31"},
        {{999, 1, 1}, "999-01-01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(make_date_text(c.date), c.text);
    const LocalDate today = local_today();
    EXPECT_GE(today.year, 2024);
    EXPECT_EQ(make_date_text().size(), 10u);
}

class TempDirectory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("vorsa-startup-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static void write(const fs::path& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path m_dir;
};

using SettingsPath = TempDirectory;

TEST_F(SettingsPath, LiesInTheGivenDirectory)
{
    EXPECT_EQ(settings_path_in(m_dir), m_dir.string() + "/dy.cfg");
    EXPECT_EQ(settings_path_in("/"), "/dy.cfg");
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

TEST_F(SettingsPath, HasNoLengthLimit)
{
    fs::path deep = m_dir;
    for (int i = 0; i < 12; ++i)
        deep /= std::string(40, static_cast<char>('a' + i));
    fs::create_directories(deep);
    const std::string path = settings_path_in(deep);
    EXPECT_GT(path.size(), 255u);
    EXPECT_EQ(path, deep.string() + "/dy.cfg");
}

TEST_F(SettingsPath, FollowsTheCurrentDirectory)
{
    const fs::path before = fs::current_path();
    fs::current_path(m_dir);
    const std::string path = current_settings_path();
    fs::current_path(before);
    EXPECT_EQ(fs::path(path).parent_path(), fs::canonical(m_dir));
    EXPECT_EQ(fs::path(path).filename(), "dy.cfg");
}

using HiddenMark = TempDirectory;

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

// What a start does to the settings file before the window (the hidden mark and the write permission
// given back), as root and as an ordinary user in a sticky shared folder where one of the two names
// is a link to a file of the user's. Another user's link leads nowhere: the file it names keeps its
// bytes and its mode. The user's own links still lead where they point, except that no mode is ever
// changed through a link.
TEST_F(HiddenMark, LinksPlantedInASharedFolderLeadNowhere)
{
    using test_files::run_as;
    const bool privileged = ::geteuid() == 0;
    const struct
    {
        const char* what;
        const char* link_name;
        bool strangers_link;
        bool listed;           // mark_hidden added the name
        bool target_appended;  // the list was appended to through the link
        bool permission_given; // clear_read_only gave dy.cfg (a file of its own) its write permission
    } cases[] = {
        {"a stranger's dy.cfg", "dy.cfg", true, false, false, false},
        {"a stranger's .hidden", ".hidden", true, false, false, true},
        {"own dy.cfg", "dy.cfg", false, true, false, false},
        {"own .hidden", ".hidden", false, true, true, true},
    };
    const std::string secret = "victim's own file\n";
    int ran = 0;
    for (const bool as_root : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(as_root ? "root, " : "user, ") + c.what);
            if (!privileged && (as_root || c.strangers_link)) continue; // needs a second user, so root
            ++ran;
            const uid_t victim = as_root ? 0 : privileged ? test_files::nobody_uid : ::geteuid();
            const fs::path shared = m_dir / "shared";
            const fs::path home = m_dir / "home";
            const fs::path target = home / "victim-file";
            fs::create_directories(shared);
            fs::create_directories(home);
            // A list must be writable to be appended to; a settings file lacks its write permission.
            const bool list_link = std::string_view(c.link_name) == ".hidden";
            const mode_t target_mode = list_link ? 0640 : 0440;
            write(target, secret);
            ASSERT_EQ(::chmod(target.c_str(), target_mode), 0);
            fs::create_symlink(target, shared / c.link_name);
            if (list_link) {
                write(shared / "dy.cfg", "[print]\r\n");
                ASSERT_EQ(::chmod((shared / "dy.cfg").c_str(), 0440), 0);
            }
            ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
            ASSERT_EQ(::chmod(home.c_str(), 0755), 0);
            ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
            if (privileged) {
                const uid_t link_owner = c.strangers_link ? test_files::stranger_uid : victim;
                ASSERT_EQ(::lchown((shared / c.link_name).c_str(), link_owner, link_owner), 0);
                for (const fs::path& own : {home, target})
                    ASSERT_EQ(::chown(own.c_str(), victim, victim), 0);
                if (list_link) {
                    ASSERT_EQ(::chown((shared / "dy.cfg").c_str(), victim, victim), 0);
                }
            }

            const std::string settings = (shared / "dy.cfg").string();
            const auto start = [&] {
                return (mark_hidden(settings) ? 1 : 0) | (clear_read_only(settings) ? 2 : 0);
            };
            const int outcome = as_root || !privileged ? start() : run_as(victim, start);
            ASSERT_GE(outcome, 0) << "cannot run as an unprivileged user";
            EXPECT_EQ(outcome, (c.listed ? 1 : 0) | (c.permission_given ? 2 : 0));

            EXPECT_EQ(read(target), c.target_appended ? secret + "dy.cfg\n" : secret);
            struct stat info = {};
            ASSERT_EQ(::stat(target.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, target_mode) << "mode changed through a link";
            if (list_link) {
                ASSERT_EQ(::stat(settings.c_str(), &info), 0);
                EXPECT_EQ(info.st_mode & 07777, c.permission_given ? 0640u : 0440u);
            } else {
                EXPECT_EQ(fs::exists(shared / ".hidden"), c.listed);
                if (c.listed) {
                    EXPECT_EQ(read(shared / ".hidden"), "dy.cfg\n");
                }
            }
            fs::remove_all(shared);
            fs::remove_all(home);
        }
    }
    EXPECT_GT(ran, 0);
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
