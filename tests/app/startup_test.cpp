// Start-up helpers and quantity stepping, without a window: the settings path, the date text and the
// spin control's arithmetic. The marks on the settings file are each system's own: startup_posix_test.cpp,
// startup_win32_test.cpp.

#include "app/quantity.h"
#include "app/startup.h"
#include "runtime/controls/memory_controls.h"
#include "runtime/text/gbk.h"
#include "tests/app/startup_files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

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

using SettingsPath = StartupFiles;

TEST_F(SettingsPath, LiesInTheGivenDirectory)
{
    EXPECT_EQ(settings_path_in(m_dir), text_of(m_dir / "dy.cfg"));
    EXPECT_EQ(settings_path_in("/"), "/dy.cfg");
    // An ideographic blank at the end is part of a directory's name on every system.
    const fs::path blank = m_dir / u8"shop\u3000";
    fs::create_directories(blank);
    fs::create_directories(m_dir / "shop");
    EXPECT_EQ(settings_path_in(blank), text_of(blank / "dy.cfg"));
}

TEST_F(SettingsPath, HasNoLengthLimit)
{
    fs::path deep = m_dir;
    for (int i = 0; i < 12; ++i)
        deep /= std::string(40, static_cast<char>('a' + i));
    fs::create_directories(deep);
    const std::string path = settings_path_in(deep);
    EXPECT_GT(path.size(), 255u);
    EXPECT_EQ(path, text_of(deep / "dy.cfg"));
}

TEST_F(SettingsPath, FollowsTheCurrentDirectory)
{
    const fs::path before = fs::current_path();
    fs::current_path(m_dir);
    const std::string path = current_settings_path();
    fs::current_path(before);
    EXPECT_EQ(path_of(path).parent_path(), fs::canonical(m_dir));
    EXPECT_EQ(path_of(path).filename(), "dy.cfg");
}

} // namespace
} // namespace vorsa::app
