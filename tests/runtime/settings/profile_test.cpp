#include "runtime/settings/profile.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/temp_directory.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

using namespace vorsa::runtime;
using namespace vorsa::runtime::literals;
using namespace std::string_literals;

namespace {

using vorsa::test_files::read_bytes;
using vorsa::test_files::write_bytes;

// A case's description as its test name: each run of other characters than ASCII letters and digits
// becomes one "_".
template <typename Case> std::string case_name(const testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (const char* p = info.param.what; *p != '\0'; ++p) {
        const char c = *p;
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum)
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}

// ---- reading ----

struct LookupCase
{
    const char* what;
    std::string content;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
};

void PrintTo(const LookupCase& c, std::ostream* out)
{
    *out << c.what;
}

class ProfileLookup : public testing::TestWithParam<LookupCase>
{
};

TEST_P(ProfileLookup, FindsValue)
{
    const LookupCase& c = GetParam();
    EXPECT_EQ(profile_lookup(c.content, c.section, c.key), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Format, ProfileLookup,
    testing::Values(
        LookupCase{"plain", "[print]\r\npplist=a|\r\n", "print", "pplist", "a|"},
        LookupCase{"names in any ASCII case", "[Print]\r\nPPList=x\r\n", "PRINT", "pplist", "x"},
        LookupCase{"LF line ends", "[a]\nk=v\nj=w\n", "a", "j", "w"},
        LookupCase{"lone CR line ends", "[a]\rk=v\rj=w", "a", "j", "w"},
        LookupCase{"mixed line ends", "[a]\r\nx=1\ny=2\rz=3", "a", "y", "2"},
        LookupCase{"blanks and tabs around key and value", "[a]\r\n \t k \t= \t v w \t\r\n", "a", "k", "v w"},
        LookupCase{"indented, padded section line", "  \t[ a ]  \r\nk=v", "a", "k", "v"},
        LookupCase{"text after the closing bracket", "[a] ; shop\r\nk=v", "a", "k", "v"},
        LookupCase{"double quotes removed", "[a]\r\nk=\"  v \"\r\n", "a", "k", "  v "},
        LookupCase{"single quotes removed", "[a]\r\nk=' v'\r\n", "a", "k", " v"},
        LookupCase{"quotes inside blanks removed", "[a]\r\nk=  \"v\"  \r\n", "a", "k", "v"},
        LookupCase{"one pair of quotes only", "[a]\r\nk=\"\"v\"\"\r\n", "a", "k", "\"v\""},
        LookupCase{"unmatched quotes kept", "[a]\r\nk=\"v'\r\n", "a", "k", "\"v'"},
        LookupCase{"unclosed quote kept", "[a]\r\nk=\"v\r\n", "a", "k", "\"v"},
        LookupCase{"lone quote kept", "[a]\r\nk=\"\r\n", "a", "k", "\""},
        LookupCase{"empty value is present", "[a]\r\nk=\r\n", "a", "k", ""},
        LookupCase{"blank value is empty", "[a]\r\nk=  \t\r\n", "a", "k", ""},
        LookupCase{"value holding =", "[a]\r\nk=x=y\r\n", "a", "k", "x=y"},
        LookupCase{"first section of a name wins", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n[A]\r\nk=3\r\n", "a", "k",
                   "1"},
        LookupCase{"later section of the same name unread", "[a]\r\nx=1\r\n[a]\r\nk=3\r\n", "a", "k",
                   std::nullopt},
        LookupCase{"first key of a name wins", "[a]\r\nk=1\r\nK=2\r\n", "a", "k", "1"},
        LookupCase{"lines before the first section", "k=0\r\n[a]\r\nk=1\r\n", "a", "k", "1"},
        LookupCase{"key before the first section only", "k=0\r\n[a]\r\nx=1\r\n", "a", "k", std::nullopt},
        LookupCase{"line without = never matches", "[a]\r\nk\r\nk =v\r\n", "a", "k", "v"},
        LookupCase{"only a line without =", "[a]\r\nk\r\n", "a", "k", std::nullopt},
        LookupCase{"key of the next section", "[a]\r\n[b]\r\nk=1\r\n", "a", "k", std::nullopt},
        LookupCase{"unclosed bracket is no section", "[a]\r\n[b\r\nk=1\r\n", "a", "k", "1"},
        LookupCase{"missing section", "[a]\r\nk=1\r\n", "b", "k", std::nullopt},
        LookupCase{"missing key", "[a]\r\nk=1\r\n", "a", "j", std::nullopt},
        LookupCase{"empty content", "", "a", "k", std::nullopt},
        LookupCase{"GBK names and value", "[打印]\r\n店名=东方商场\r\n"_gbk, "打印"_gbk, "店名"_gbk,
                   "东方商场"_gbk},
        // 0x81 0x41 and 0x81 0x61 are two different characters although their second bytes are "A" and "a".
        LookupCase{"trail byte is not case-folded", "[\x81\x61]\r\nk=1\r\n", "\x81\x41", "k", std::nullopt},
        LookupCase{"double-byte name matches itself", "[x\x81\x41]\r\nk=1\r\n", "X\x81\x41", "k", "1"},
        // 0x81 0x5D is one character whose second byte is "]": it does not close the name.
        LookupCase{"trail byte ] does not close a section", "[a\x81]\r\nk=1\r\n", "a\x81", "k", std::nullopt},
        LookupCase{"section name holding trail byte ]", "[a\x81]]\r\nk=1\r\n", "a\x81]", "k", "1"},
        LookupCase{"NUL bytes in a value", "[a]\r\nk=x\0y\r\n"s, "a", "k", "x\0y"s},
        LookupCase{"lead byte before the line end", "[a]\r\nk=\x81\r\nj=2\r\n", "a", "j", "2"},
        LookupCase{"lead byte before = and quote", "[a]\r\nk\x81=\"\x81\"\r\n", "a", "k\x81", "\x81"}),
    case_name<LookupCase>);

// ---- writing content ----

struct AssignCase
{
    const char* what;
    std::string content;
    std::string section;
    std::string key;
    std::string value;
    std::string expected;
};

void PrintTo(const AssignCase& c, std::ostream* out)
{
    *out << c.what;
}

class ProfileAssign : public testing::TestWithParam<AssignCase>
{
};

TEST_P(ProfileAssign, ProducesContent)
{
    const AssignCase& c = GetParam();
    EXPECT_EQ(profile_assign(c.content, c.section, c.key, c.value), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Format, ProfileAssign,
    testing::Values(
        AssignCase{"empty content", "", "print", "pplist", "耐克|"_gbk, "[print]\r\npplist=耐克|\r\n"_gbk},
        AssignCase{"section after unterminated line", "[a]\r\nx=1", "b", "k", "v",
                   "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
        AssignCase{"section after LF", "[a]\nx=1\n", "b", "k", "v", "[a]\nx=1\n[b]\r\nk=v\r\n"},
        AssignCase{"section after lone CR", "[a]\rx=1\r", "b", "k", "v", "[a]\rx=1\r[b]\r\nk=v\r\n"},
        AssignCase{"replacement keeps LF and the key's spelling", "[a]\n  PPList = old \nz=1\n", "A",
                   "pplist", "new", "[a]\nPPList=new\nz=1\n"},
        AssignCase{"replacement keeps lone CR", "[a]\rk=1\rz=2", "a", "k", "9", "[a]\rk=9\rz=2"},
        AssignCase{"replacement of an unterminated last line", "[a]\r\nk=1", "a", "k", "22", "[a]\r\nk=22"},
        AssignCase{"replacement of the first key only", "[a]\r\nk=1\r\nk=2\r\n", "a", "k", "3",
                   "[a]\r\nk=3\r\nk=2\r\n"},
        AssignCase{"key after the last non-blank line", "[a]\r\nx=1\r\n; note\r\n\r\n \t\r\n[b]\r\nk=0\r\n",
                   "a", "k", "v", "[a]\r\nx=1\r\n; note\r\nk=v\r\n\r\n \t\r\n[b]\r\nk=0\r\n"},
        AssignCase{"key after an unterminated header", "[a]", "a", "k", "v", "[a]\r\nk=v\r\n"},
        AssignCase{"key after the header of an empty section", "[a]\r\n\r\n[b]\r\n", "a", "k", "v",
                   "[a]\r\nk=v\r\n\r\n[b]\r\n"},
        AssignCase{"key after an unterminated last line", "[a]\r\nx=1", "a", "k", "v",
                   "[a]\r\nx=1\r\nk=v\r\n"},
        AssignCase{"key into the first section of a name", "[a]\r\nx=1\r\n[a]\r\nk=2\r\n", "a", "k", "v",
                   "[a]\r\nx=1\r\nk=v\r\n[a]\r\nk=2\r\n"},
        AssignCase{"key before any section left alone", "k=0\r\n[a]\r\n", "a", "k", "v",
                   "k=0\r\n[a]\r\nk=v\r\n"},
        AssignCase{"value cut at CR LF", "", "a", "k", "x\r\n[b]\r\ny=1", "[a]\r\nk=x\r\n"},
        AssignCase{"value cut at LF", "[a]\r\nk=1\r\n", "a", "k", "x\ny=1", "[a]\r\nk=x\r\n"},
        AssignCase{"value cut at lone CR", "[a]\r\nk=1\r\n", "a", "k", "x\ry=1", "[a]\r\nk=x\r\n"},
        AssignCase{"value starting with a line break", "[a]\r\nk=1\r\n", "a", "k", "\nk=2", "[a]\r\nk=\r\n"},
        AssignCase{"empty value", "[a]\r\nk=1\r\n", "a", "k", "", "[a]\r\nk=\r\n"},
        AssignCase{"value kept with its blanks", "", "a", "k", "  v  ", "[a]\r\nk=  v  \r\n"},
        AssignCase{"other lines kept byte for byte",
                   "junk\0\xff\r\n[a]\n\x81\r\nk=1  \r\n  \r\n[b]\r\nz \r\n"s, "a", "k", "2",
                   "junk\0\xff\r\n[a]\n\x81\r\nk=2\r\n  \r\n[b]\r\nz \r\n"s}),
    case_name<AssignCase>);

// Writing a key and reading it back, over contents that put it in every position.
TEST(ProfileAssignThenLookup, ReadsBackWhatWasWritten)
{
    const std::string contents[] = {"", "[a]", "[a]\r\nk=old\r\n", "x=1\n[b]\n[a]\nz=2\n\n[c]\nk=3\n",
                                    "[A]\rK = 'q'\r"};
    const std::string values[] = {
        "", "v", "  padded  ", "\"quoted\"", "跑鞋|42|399.00"_gbk, "cut\r\n[a]\r\nk=evil"};
    const std::string read_back[] = {"", "v", "padded", "quoted", "跑鞋|42|399.00"_gbk, "cut"};
    for (const std::string& content : contents) {
        for (std::size_t i = 0; i < std::size(values); ++i) {
            const Text written = profile_assign(content, "a", "k", values[i]);
            EXPECT_EQ(profile_lookup(written, "a", "k"), read_back[i]) << content;
            EXPECT_EQ(profile_assign(written, "a", "k", values[i]), written)
                << "writing again changes nothing";
            EXPECT_EQ(profile_lookup(written, "c", "k"), profile_lookup(content, "c", "k"))
                << "other section";
        }
    }
}

// ---- hostile content ----

TEST(ProfileRobustness, LongLinesStayLinear)
{
    constexpr std::size_t ten_mb = 10u << 20;
    const std::string long_value(ten_mb, 'x');
    const std::string one_line = "[a]\r\nk=" + long_value;
    EXPECT_EQ(profile_lookup(one_line, "a", "k"), long_value);
    EXPECT_EQ(profile_lookup(one_line, "b", "k"), std::nullopt);
    EXPECT_EQ(profile_assign(one_line, "b", "k", "v"), one_line + "\r\n[b]\r\nk=v\r\n");
    EXPECT_EQ(profile_assign(one_line, "a", "k", "v"), "[a]\r\nk=v");

    // A bracket line of ten megabytes full of brackets and double-byte characters.
    std::string brackets = "[";
    while (brackets.size() < ten_mb)
        brackets += "]\x81]\x81[";
    EXPECT_EQ(profile_lookup(brackets + "]\r\nk=1", "a", "k"), std::nullopt);

    // Ten million empty lines, then the key.
    const std::string breaks = "[a]" + std::string(ten_mb, '\r') + "k=1";
    EXPECT_EQ(profile_lookup(breaks, "a", "k"), "1");
    const Text inserted = profile_assign(breaks, "a", "j", "2");
    EXPECT_EQ(inserted, "[a]" + std::string(ten_mb, '\r') + "k=1\r\nj=2\r\n");
}

TEST(ProfileRobustness, RandomBytesReadAndWrite)
{
    std::mt19937 random(20240611);
    const char alphabet[] = "[]=\"' \t\r\n\0\x81\xff\x40kKaA;"; // the bytes the parser cares about
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
    std::uniform_int_distribution<int> any_byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        std::string content;
        const int length = round * 50;
        for (int i = 0; i < length; ++i)
            content.push_back(i % 3 ? alphabet[pick(random)] : static_cast<char>(any_byte(random)));
        const auto other_before = profile_lookup(content, "K", "a");
        const Text written = profile_assign(content, "a", "k", "new value");
        ASSERT_EQ(profile_lookup(written, "a", "k"), "new value") << round;
        ASSERT_EQ(profile_lookup(written, "K", "a"), other_before) << round;
    }
}

// ---- files ----

std::vector<std::string> directory_entries(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ProfileFile : public testing::Test
{
protected:
    vorsa::test_files::TempDirectory m_temp{"profile_test"};
    std::string m_dir = m_temp.text();
    std::string m_path = m_dir + "/dy.cfg";
};

TEST_F(ProfileFile, FailedWritesLeaveEverythingAlone)
{
    const std::string original = "[print]\r\nyyy=old\r\n";
    struct Case
    {
        const char* what;
        std::string path;
    };
    write_bytes(m_path, original);
    std::filesystem::create_directory(m_dir + "/dir.cfg");

    const Case cases[] = {
        {"missing directory", m_dir + "/missing/dy.cfg"},
        {"path through a file", m_path + "/dy.cfg"},
        {"directory", m_dir + "/dir.cfg"},
        {"empty path", ""},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(profile_write_string(c.path, "print", "yyy", "new")) << c.what;
    EXPECT_EQ(read_bytes(m_path), original);
    EXPECT_EQ(directory_entries(m_dir), (std::vector<std::string>{"dir.cfg", "dy.cfg"}));
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
TEST_F(ProfileFile, FilesKeepTheirEncoding)
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

struct GetStringCase
{
    const char* what;
    int size;
    int expected_count;
    std::string expected;
};

TEST_F(ProfileFile, GetStringCopiesLikeTheWindowsCall)
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

TEST_F(ProfileFile, GetStringFallsBackWhenNothingIsFound)
{
    write_bytes(m_path, "[a]\r\nk=1\r\n");
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
    };
    for (const Case& c : cases) {
        char buffer[16];
        EXPECT_EQ(profile_get_string(c.path, c.section, c.key, "fb", buffer, sizeof buffer), 2) << c.what;
        EXPECT_STREQ(buffer, "fb") << c.what;
    }
}

} // namespace
