// Values saved together, on Linux, where the replacements of the file can be counted (inotify).

#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/runtime/settings/file_writes.h"
#include "tests/runtime/settings/settings_files.h"
#include "tests/temp_directory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace vorsa::runtime;
using namespace vorsa::runtime::literals;
namespace keys = vorsa;

namespace {

using vorsa::test_files::read_bytes;
using vorsa::test_files::replace_all;
using vorsa::test_files::windows_file;
using vorsa::test_files::write_bytes;
using Settings = vorsa::test_files::SettingsFiles;

std::string utf16le_file(std::u16string_view text)
{
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// Several values saved together leave the file byte for byte as writing them one after another does,
// in one write of the file, or in none when the file holds them all already.
TEST_F(Settings, ValuesSavedTogetherGiveTheBytesOfSingleWritesInOneWrite)
{
    const SettingChanges print_press = {
        {keys::section_print, keys::key_shops, "2,东方商场,新世界百货,西单商场"_gbk},
        {keys::section_print, keys::key_clerk, "李四"_gbk},
        {keys::section_print, keys::key_address, "西单北大街120号"_gbk},
    };
    const SettingChanges start = {
        {keys::section_pingpai, keys::key_online_brands, ",云途"_gbk},
        {keys::section_ls, keys::key_history, "|*|跑鞋|42|399.00"_gbk},
    };
    struct Case
    {
        const char* what;
        std::optional<Text> before; // none: no file
        SettingChanges changes;
        int writes;
    };
    const std::vector<Case> cases = {
        {"no file yet", std::nullopt, print_press, 1},
        {"the file of the earlier version", windows_file(), print_press, 1},
        {"its sections in another order, LF only",
         replace_all("[ls]\r\nls=x\r\n"_gbk + windows_file(), "\r\n", "\n"), start, 1},
        {"CR only, without the sections", "; 设置\r[其它]\r旧值=保留"_gbk, start, 1},
        {"one key twice: the later value stays",
         windows_file(),
         {{keys::section_print, keys::key_clerk, "甲"_gbk}, {"PRINT", "YYY", "乙"_gbk}},
         1},
        {"a line break in a value",
         windows_file(),
         {{keys::section_print, keys::key_clerk, "甲\r\nxsd=乙"_gbk}},
         1},
        {"UTF-8 with mark", std::string("\xEF\xBB\xBF[print]\r\nyyy=王小明\r\n[x]\r\nnote=😀\r\n"),
         print_press, 1},
        {"UTF-16LE with mark and an odd last byte",
         utf16le_file(u"[print]\r\nyyy=Grüße\r\n[x]\r\nnote=😀\r\n") + "\x41", print_press, 1},
        {"every value there already",
         windows_file(),
         {{keys::section_print, keys::key_clerk, "王小明"_gbk},
          {keys::section_dayinji, keys::key_printer, "\\\\SHOP-PC\\EPSON TM-T82"}},
         0},
        {"nothing to save", windows_file(), {}, 0},
        {"nothing to save, no file", std::nullopt, {}, 0},
    };
    const std::string one_by_one = m_dir + "/one_by_one";
    const std::string together = m_dir + "/together";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& folder : {one_by_one, together}) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directory(folder);
            if (c.before) write_bytes(folder + "/dy.cfg", *c.before);
        }
        for (const SettingChange& change : c.changes)
            ASSERT_TRUE(write_setting(one_by_one + "/dy.cfg", change.section, change.key, change.value));

        vorsa::test_files::FileWrites writes(together + "/dy.cfg");
        ASSERT_TRUE(write_settings(together + "/dy.cfg", c.changes));
        EXPECT_EQ(writes.count(), c.writes);
        EXPECT_EQ(std::filesystem::exists(together + "/dy.cfg"),
                  std::filesystem::exists(one_by_one + "/dy.cfg"));
        EXPECT_EQ(read_bytes(together + "/dy.cfg"), read_bytes(one_by_one + "/dy.cfg"));
        if (c.writes == 0 && c.before) {
            EXPECT_EQ(read_bytes(together + "/dy.cfg"), *c.before);
        }
    }
}

} // namespace
