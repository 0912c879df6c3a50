#include "runtime/text/gbk.h"
#include "runtime/text/text.h"

#include <gtest/gtest.h>

namespace vorsa::runtime {
namespace {

using namespace literals;

// Renders a list of texts as UTF-8 "a|b|c" so failures read as words.
std::string joined(const TextList& parts)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i)
        out += (i ? "|" : "") + utf8_from_gbk(parts[i]);
    return out;
}

TEST(TextTest, LengthAndBlanks)
{
    EXPECT_EQ(byte_length("阿迪达斯"_gbk), 8);
    EXPECT_EQ(byte_length(""), 0);
    EXPECT_EQ(blank_text(3), "   ");
    EXPECT_EQ(blank_text(0), "");
    EXPECT_EQ(blank_text(-2), "");
}

TEST(TextTest, TrimTrailingBlanks)
{
    struct Case
    {
        Text text;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"abc  ", "abc"},
        {"  abc", "  abc"},
        {"   ", ""},
        {"", ""},
        {"耐克　 　"_gbk, "耐克"_gbk}, // full-width and ASCII blanks mixed
        {"　　"_gbk, ""},              // only full-width blanks
        {"a 　b "_gbk, "a 　b"_gbk},   // inner blanks stay
        // 0xB0A1 is one character; the A1 A1 that straddles it and the cut-off lead byte is no blank.
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1"},
        {"\xB0\xA1\xA1\xA1 ", "\xB0\xA1"},
        // A blank is never the second byte of a character: the lead byte before it stands alone.
        {"x\x81 ", "x\x81"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trim_trailing_blanks(c.text), c.expected) << utf8_from_gbk(c.text);
}

TEST(TextTest, FindText)
{
    struct Case
    {
        Text text;
        Text sought;
        int start;
        bool ignore_case;
        int expected;
    };
    const std::vector<Case> cases = {
        {"阿迪达斯,匡威"_gbk, "匡威"_gbk, 1, false, 10},
        {"abcabc", "bc", 1, false, 2},
        {"abcabc", "bc", 3, false, 5},
        {"abcabc", "bc", 0, false, 2}, // start below 1 counts as 1
        {"abcabc", "bc", -7, false, 2},
        {"abcabc", "bc", 5, false, 5},   // match exactly at start
        {"abcabc", "bc", 6, false, -1},  // too few bytes left from start
        {"abcabc", "bc", 99, false, -1}, // start beyond the end
        {"abcabc", "", 1, false, -1},    // empty sought
        {"", "a", 1, false, -1},         // empty text
        {"ab", "abc", 1, false, -1},     // sought longer than text
        {"abcabc", "x", 1, false, -1},
        {"ABCabc", "bc", 1, true, 2},
        {"ABCabc", "bc", 1, false, 5},
        {"xAbC", "aBc", 1, true, 2},
        // 啊 is B0 A1, 癌 is B0 A9: the bytes A1 B0 occur across the boundary, but a match may not begin
        // on a trail byte.
        {"\xB0\xA1\xB0\xA9", "\xA1\xB0", 1, false, -1},
        // A start pointing at a trail byte moves to the next character, not into the middle.
        {"\xB0\xA1\xA1\xB0", "\xA1\xB0", 2, false, 3},
        {"\xB0\xA1\xA1\xB0", "\xA1", 2, false, 3},
        // The trail byte 0x41 ('A') of 0x8141 must not fold to 'a' when ignoring case.
        {"\x81\x41z", "\x81\x61", 1, true, -1},
        {"\x81\x41"
         "az",
         "AZ", 1, true, 3},
        {"\x81\x41"
         "az",
         "A", 1, true, 3}, // the 'A' inside the double-byte character does not count
        {"\x81\x41"
         "A",
         "A", 1, false, 3},
        {"耐克,阿迪达斯"_gbk, ","_gbk, 1, false, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(find_text(c.text, c.sought, c.start, c.ignore_case), c.expected)
            << "text " << utf8_from_gbk(c.text) << " sought " << utf8_from_gbk(c.sought) << " start "
            << c.start;
    }
}

// Which bytes make one character, as every command that steps through a text sees it: 0x81 to 0xFE
// followed by a byte of 0x40 or above. 0x80 is the euro sign of code page 936, a character of its own.
TEST(TextTest, OnlyBytes81ToFEStartAPair)
{
    struct Case
    {
        const char* what;
        Text text;
        Text separator;
        TextList parts; // split_text at the separator
        int found;      // find_text of the separator
        Text upper;     // to_upper_text
    };
    const Text euro = "\x80";
    const Text dong = "\x96\x7C"; // 東, whose second byte is '|'
    const std::vector<Case> cases = {
        {"euro before the list separator",
         "1,Shop" + euro + ",东方商场"_gbk,
         ",",
         {"1", "Shop" + euro, "东方商场"_gbk},
         2,
         "1,SHOP" + euro + ",东方商场"_gbk},
        {"euro before the field separator",
         "|*|a" + euro + "|42|9.00",
         "|",
         {"", "*", "a" + euro, "42", "9.00"},
         1,
         "|*|A" + euro + "|42|9.00"},
        {"euro before a letter", euro + "b,c", ",", {euro + "b", "c"}, 3, euro + "B,C"},
        {"0xFF before a letter",
         "\xFF"
         "b|",
         "|",
         {"\xFF"
          "b"},
         3,
         "\xFF"
         "B|"},
        {"0x81 with a letter",
         "\x81"
         "b|",
         "|",
         {"\x81"
          "b"},
         3,
         "\x81"
         "b|"},
        {"0xFE with a letter",
         "\xFE"
         "b|",
         "|",
         {"\xFE"
          "b"},
         3,
         "\xFE"
         "b|"},
        {"trail byte | of 東", dong + "x|y", "|", {dong + "x", "y"}, 4, dong + "X|Y"},
        {"東 then a separator", "a" + dong + "|b", "|", {"a" + dong, "b"}, 4, "A" + dong + "|B"},
        {"lead byte before a comma", "a\x81,b", ",", {"a\x81", "b"}, 3, "A\x81,B"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_text(c.text, c.separator), c.parts) << c.what;
        EXPECT_EQ(find_text(c.text, c.separator), c.found) << c.what;
        EXPECT_EQ(to_upper_text(c.text), c.upper) << c.what;
    }
    EXPECT_EQ(trim_trailing_blanks(euro + " "), euro);
}

TEST(TextTest, MidLeftRight)
{
    struct Case
    {
        Text actual;
        Text expected;
    };
    const std::vector<Case> cases = {
        {mid_text("abcdef", 5, 10), "ef"},
        {mid_text("abcdef", 0, 3), ""},
        {mid_text("abcdef", -1, 3), ""},
        {mid_text("abcdef", 2, 3), "bcd"},
        {mid_text("abcdef", 6, 1), "f"},
        {mid_text("abcdef", 7, 1), ""},
        {mid_text("abcdef", 2, 0), ""},
        {mid_text("", 1, 1), ""},
        {mid_text("阿迪达斯"_gbk, 3, 4), "迪达"_gbk},
        {left_text("abcdef", 2), "ab"},
        {left_text("abcdef", 10), "abcdef"},
        {left_text("abcdef", 0), ""},
        {left_text("abcdef", -3), ""},
        {right_text("abcdef", 2), "ef"},
        {right_text("abcdef", 10), "abcdef"},
        {right_text("abcdef", 0), ""},
        {right_text("阿迪达斯"_gbk, 4), "达斯"_gbk},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].actual, cases[i].expected) << "case " << i;
}

TEST(TextTest, ReplaceText)
{
    struct Case
    {
        Text text;
        int start;
        int count;
        Text replacement;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"abcdef", 2, 3, "XY", "aXYef"},      {"abcdef", 0, 1, "X", "Xbcdef"}, // start 0 counts as 1
        {"abcdef", 1, 1, "", "bcdef"},                                         // no replacement removes
        {"abcdef", 4, 100, "X", "abcX"},                                       // count past the end
        {"abcdef", 6, 1, "XYZ", "abcdeXYZ"},  {"abcdef", 7, 1, "X", "abcdef"}, // start beyond the end
        {"abcdef", -1, 1, "X", "abcdef"},                                      // negative start
        {"abcdef", 2, 0, "X", "abcdef"},                                       // count < 1
        {"abcdef", 2, -5, "X", "abcdef"},     {"", 5, 5, "new", "new"}, // empty text gives the replacement
        {"abcdef", 2, 2147483647, "X", "aX"}, {"阿迪达斯"_gbk, 3, 4, "克"_gbk, "阿克斯"_gbk},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(replace_text(c.text, c.start, c.count, c.replacement), c.expected)
            << c.text << " " << c.start << " " << c.count;
    }
}

TEST(TextTest, SplitText)
{
    struct Case
    {
        Text text;
        Text separator;
        std::optional<int> max_parts;
        std::string expected; // parts joined with "|", as UTF-8
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {"a,,b", ",", {}, "a||b", 3},
        {"a,b,", ",", {}, "a|b", 2},
        {",a", ",", {}, "|a", 2},
        {"a,b,c", ",", 2, "a|b", 2},
        {"a,b,c", ",", 3, "a|b|c", 3},
        {"a,b,c", ",", 1, "a", 1},
        {"a,b,c", ",", 0, "", 0},
        {"a,b,c", ",", -4, "", 0},
        {"", ",", {}, "", 0},
        {"abc", "", {}, "abc", 1},
        {"abc", ",", {}, "abc", 1},
        {",", ",", {}, "", 1},
        {",,", ",", {}, "|", 2},
        {"耐克,阿迪达斯,"_gbk, ",", {}, "耐克|阿迪达斯", 2},
        {"a||b||", "||", {}, "a|b", 2},
        {"耐克　阿迪"_gbk, "　"_gbk, {}, "耐克|阿迪", 2},
        // 啊啊 is B0 A1 B0 A1: the separator A1 B0 straddles the two characters and is no separator.
        {"啊啊"_gbk, "\xA1\xB0", {}, "啊啊", 1},
        // 亅 is 81 7C, whose trail byte is '|'.
        {"亅x|y"_gbk, "|", {}, "亅x|y", 2},
    };
    for (const Case& c : cases) {
        const TextList parts = split_text(c.text, c.separator, c.max_parts);
        EXPECT_EQ(parts.size(), c.count) << c.text;
        EXPECT_EQ(joined(parts), c.expected) << c.text;
    }
    EXPECT_EQ(joined(split_text("x,y")), "x|y"); // comma by default
}

TEST(TextTest, CaseChanges)
{
    EXPECT_EQ(to_upper_text("abc XYZ 123"), "ABC XYZ 123");
    EXPECT_EQ(to_lower_text("abc XYZ 123"), "abc xyz 123");
    // 0x8161 and 0x8141 are double-byte characters whose trail bytes look like 'a' and 'A'.
    EXPECT_EQ(to_upper_text("\x81\x61"
                            "a"),
              "\x81\x61"
              "A");
    EXPECT_EQ(to_lower_text("\x81\x41"
                            "A"),
              "\x81\x41"
              "a");
    EXPECT_EQ(to_upper_text("耐克nike"_gbk), "耐克NIKE"_gbk);
    // A lead byte cut off by the end is copied as it is.
    EXPECT_EQ(to_upper_text("a\x81"), "A\x81");
}

TEST(TextTest, CompareText)
{
    struct Case
    {
        Text a;
        Text b;
        bool case_sensitive;
        int expected;
    };
    const std::vector<Case> cases = {
        {"abc", "abc", true, 0},
        {"abc", "abd", true, -1},
        {"abd", "abc", true, 1},
        {"ab", "abc", true, -1},
        {"", "", true, 0},
        {"ABC", "abc", true, -1},
        {"ABC", "abc", false, 0},
        {"abc", "ABD", false, -1},
        {"a", "\xB0\xA1", true, -1},         // bytes compare unsigned
        {"_", "A", false, -1},               // letters fold to lower case, after '_'
        {"\x81\x41", "\x81\x61", false, -1}, // trail bytes never fold
    };
    for (const Case& c : cases)
        EXPECT_EQ(compare_text(c.a, c.b, c.case_sensitive), c.expected) << c.a << " vs " << c.b;
}

TEST(TextTest, CharCodes)
{
    EXPECT_EQ(char_from_code(65), "A");
    EXPECT_EQ(char_from_code(0), "");
    EXPECT_EQ(char_from_code(256), ""); // only the low byte counts
    EXPECT_EQ(char_from_code(0xB0), "\xB0");
    EXPECT_EQ(char_code_at("ABC"), 65);
    EXPECT_EQ(char_code_at("ABC", 3), 67);
    EXPECT_EQ(char_code_at("ABC", 4), 0);
    EXPECT_EQ(char_code_at("ABC", 0), 0);
    EXPECT_EQ(char_code_at(""), 0);
    EXPECT_EQ(char_code_at("\xB0\xA1"), -80); // signed 8-bit
    EXPECT_EQ(char_code_at("\xB0\xA1", 2), -95);
}

TEST(TextTest, HexText)
{
    EXPECT_EQ(hex_text(0), "0");
    EXPECT_EQ(hex_text(255), "FF");
    EXPECT_EQ(hex_text(0x1A2B), "1A2B");
    EXPECT_EQ(hex_text(-1), "FFFFFFFF");
    EXPECT_EQ(hex_text(-2147483647 - 1), "80000000");
}

} // namespace
} // namespace vorsa::runtime
