#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/runtime/settings/settings_files.h"
#include "tests/temp_directory.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <stdlib.h>
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

// Every key of the settings file with a value of the form the program writes there.
struct Entry
{
    std::string_view section;
    std::string_view key;
    Text written;
    Text read_back;
};

const std::vector<Entry>& example_entries()
{
    static const std::vector<Entry> entries = {
        {keys::section_pingpai, keys::key_online_brands, ",李宁,安踏"_gbk, ",李宁,安踏"_gbk},
        {keys::section_print, keys::key_ticked_brands, "耐克|新百伦|"_gbk, "耐克|新百伦|"_gbk},
        {keys::section_print, keys::key_shops, "1,东方商场,新世界百货"_gbk, "1,东方商场,新世界百货"_gbk},
        {keys::section_print, keys::key_clerk, "  王小明 \t"_gbk, "王小明"_gbk},
        {keys::section_print, keys::key_address, "北京市朝阳区建国路87号"_gbk, "北京市朝阳区建国路87号"_gbk},
        {keys::section_dayinji, keys::key_printer, "HP LaserJet Pro M404", "HP LaserJet Pro M404"},
        {keys::section_ls, keys::key_history, "|*|跑鞋|42|399.00|*|短袖|L|89.00"_gbk,
         "|*|跑鞋|42|399.00|*|短袖|L|89.00"_gbk},
    };
    return entries;
}

TEST_F(Settings, AllKeysShareOneFile)
{
    for (const Entry& entry : example_entries())
        ASSERT_TRUE(write_setting(m_path, entry.section, entry.key, entry.written));
    for (const Entry& entry : example_entries())
        EXPECT_EQ(read_setting(m_path, entry.section, entry.key), entry.read_back) << entry.key;
    EXPECT_EQ(read_bytes(m_path), "[pingpai]\r\n"
                                  "onlinepingpai=,李宁,安踏\r\n"
                                  "[print]\r\n"
                                  "pplist=耐克|新百伦|\r\n"
                                  "dm=1,东方商场,新世界百货\r\n"
                                  "yyy=  王小明 \t\r\n"
                                  "xsd=北京市朝阳区建国路87号\r\n"
                                  "[dayinji]\r\n"
                                  "dyjm=HP LaserJet Pro M404\r\n"
                                  "[ls]\r\n"
                                  "ls=|*|跑鞋|42|399.00|*|短袖|L|89.00\r\n"_gbk);

    // Emptying a value leaves "key=" and reads back empty, not as a missing key.
    for (const Entry& entry : example_entries())
        ASSERT_TRUE(write_setting(m_path, entry.section, entry.key, ""));
    for (const Entry& entry : example_entries())
        EXPECT_EQ(read_setting(m_path, entry.section, entry.key, "fallback"), "") << entry.key;
}

TEST_F(Settings, FirstWriteCreatesFileWithOneSectionAndKey)
{
    ASSERT_FALSE(std::filesystem::exists(m_path));
    ASSERT_TRUE(write_setting(m_path, keys::section_print, keys::key_ticked_brands, "耐克|新百伦|"_gbk));
    EXPECT_EQ(read_bytes(m_path), "[print]\r\npplist=耐克|新百伦|\r\n"_gbk);
}

TEST_F(Settings, MissingValuesGiveFallback)
{
    write_bytes(m_path, "[print]\r\nyyy=王小明\r\npplist=\r\n"_gbk);
    struct Case
    {
        const char* what;
        std::string path;
        std::string_view section;
        std::string_view key;
        std::string_view fallback;
        Text expected;
    };
    const Case cases[] = {
        {"missing file", m_dir + "/none.cfg", keys::section_print, keys::key_clerk, "", ""},
        {"missing file with fallback", m_dir + "/none.cfg", keys::section_print, keys::key_clerk, "x", "x"},
        {"missing section", m_path, keys::section_ls, keys::key_history, "", ""},
        {"missing section with fallback", m_path, keys::section_ls, keys::key_history, "x", "x"},
        {"missing key", m_path, keys::section_print, keys::key_address, "", ""},
        {"missing key with fallback", m_path, keys::section_print, keys::key_address, "x", "x"},
        {"empty value beats fallback", m_path, keys::section_print, keys::key_ticked_brands, "x", ""},
        {"present value", m_path, keys::section_print, keys::key_clerk, "x", "王小明"_gbk},
        {"unreadable path", m_dir, keys::section_print, keys::key_clerk, "x", "x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read_setting(c.path, c.section, c.key, c.fallback), c.expected) << c.what;
}

TEST_F(Settings, NamesIgnoreCaseAndQuotesAreRemoved)
{
    write_bytes(m_path, "[PRINT]\r\nYYY = \"王小明\" \r\nXsd='  建国路 '\r\n"_gbk);
    EXPECT_EQ(read_setting(m_path, keys::section_print, keys::key_clerk), "王小明"_gbk);
    EXPECT_EQ(read_setting(m_path, keys::section_print, keys::key_address), "  建国路 "_gbk);
}

TEST_F(Settings, ValuesOfAnyLengthReadWhole)
{
    // Lengths around the first buffer sizes the read goes through (1024, 2047, 3070), and far beyond.
    for (const std::size_t length :
         {1022u, 1023u, 1024u, 1025u, 2045u, 2046u, 2047u, 3000u, 3069u, 1u << 20}) {
        Text value;
        value.reserve(length);
        for (std::size_t i = 0; value.size() < length; ++i)
            value += static_cast<char>('0' + i % 10);
        ASSERT_TRUE(write_setting(m_path, keys::section_ls, keys::key_history, value));
        const Text read = read_setting(m_path, keys::section_ls, keys::key_history);
        EXPECT_EQ(read.size(), length);
        EXPECT_TRUE(read == value) << length;
    }
}

TEST_F(Settings, LineBreakInValueCannotAddKeys)
{
    ASSERT_TRUE(write_setting(m_path, keys::section_print, keys::key_clerk, "王小明"_gbk));
    ASSERT_TRUE(write_setting(m_path, keys::section_ls, keys::key_history,
                              "|*|跑鞋|4\r\n2|399.00\r\n[print]\r\nyyy=冒名\nxsd=x"_gbk));
    EXPECT_EQ(read_setting(m_path, keys::section_ls, keys::key_history), "|*|跑鞋|4"_gbk);
    EXPECT_EQ(read_setting(m_path, keys::section_print, keys::key_clerk), "王小明"_gbk);
    EXPECT_EQ(read_setting(m_path, keys::section_print, keys::key_address), "");
}

TEST_F(Settings, DamagedFileStillReadsAndWrites)
{
    using namespace std::string_literals;
    // NUL bytes, lone lead bytes, bytes no GBK character uses and one line of ten megabytes.
    const std::string long_line = "[x]junk" + std::string(10u << 20, '\x81') + "\r\n";
    const std::string damaged =
        "\0\xff\x80\r\n[print]\r\nyyy=\x81\r\n\xfe\0]\r\n"s + long_line + "[ls]\r\nls=a\0b\r\n"s;
    write_bytes(m_path, damaged);
    EXPECT_EQ(read_setting(m_path, keys::section_print, keys::key_clerk), "\x81");
    EXPECT_EQ(read_setting(m_path, keys::section_ls, keys::key_history), "a\0b"s);
    ASSERT_TRUE(write_setting(m_path, keys::section_print, keys::key_address, "x"));
    EXPECT_EQ(read_bytes(m_path), "\0\xff\x80\r\n[print]\r\nyyy=\x81\r\n\xfe\0]\r\nxsd=x\r\n"s + long_line +
                                      "[ls]\r\nls=a\0b\r\n"s);
}

struct Variant
{
    const char* what;
    Text bytes;
};

std::vector<Variant> windows_file_variants()
{
    const Text& crlf = windows_file();
    return {
        {"CR LF", crlf},
        {"LF only", replace_all(crlf, "\r\n", "\n")},
        {"trailing blanks", replace_all(crlf, "\r\n", "  \t\r\n")},
        {"no final line end", crlf.substr(0, crlf.size() - 2)},
    };
}

TEST_F(Settings, WindowsFileReadsTheSameInEveryVariant)
{
    struct Expected
    {
        std::string_view section;
        std::string_view key;
        Text value;
    };
    const Expected expected[] = {
        {keys::section_pingpai, keys::key_online_brands, ",李宁,安踏"_gbk},
        {keys::section_print, keys::key_ticked_brands, "耐克|新百伦|"_gbk},
        {keys::section_print, keys::key_shops, "1,东方商场,新世界百货"_gbk},
        {keys::section_print, keys::key_clerk, "王小明"_gbk},
        {keys::section_print, keys::key_address, "北京市朝阳区建国路87号"_gbk},
        {keys::section_dayinji, keys::key_printer, "\\\\SHOP-PC\\EPSON TM-T82"},
        {keys::section_ls, keys::key_history, "|*|跑鞋|42|399.00|*|短袖|L|89.00"_gbk},
    };
    for (const Variant& variant : windows_file_variants()) {
        write_bytes(m_path, variant.bytes);
        for (const Expected& e : expected)
            EXPECT_EQ(read_setting(m_path, e.section, e.key), e.value) << variant.what << ": " << e.key;
    }
}

TEST_F(Settings, WritingIntoWindowsFileChangesOnlyThatLine)
{
    write_bytes(m_path, windows_file());
    ASSERT_TRUE(write_setting(m_path, keys::section_print, keys::key_shops, "0,新世界百货"_gbk));
    ASSERT_TRUE(write_setting(m_path, keys::section_dayinji, keys::key_printer, "PDF"));
    Text expected = windows_file();
    expected.replace(expected.find("dm="), ("dm=1,东方商场,新世界百货"_gbk).size(), "dm=0,新世界百货"_gbk);
    expected.replace(expected.find("dyjm="), std::string_view("dyjm=\\\\SHOP-PC\\EPSON TM-T82").size(),
                     "dyjm=PDF");
    EXPECT_EQ(read_bytes(m_path), expected);
}

} // namespace
