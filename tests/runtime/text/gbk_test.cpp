#include "runtime/text/gbk.h"

#include <gtest/gtest.h>
#include <thread>

namespace vorsa::runtime {
namespace {

using namespace literals;

TEST(GbkTest, KnownEncodings)
{
    struct Case
    {
        std::string utf8;
        Text gbk;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"abc 123", "abc 123"},
        {"小票", "\xD0\xA1\xC6\xB1"},
        {"内存不足", "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3"},
        {"授权经销商", "\xCA\xDA\xC8\xA8\xBE\xAD\xCF\xFA\xC9\xCC"},
        {"€", "\x80"},      // the code page's single-byte euro sign
        {"　", "\xA1\xA1"}, // ideographic blank
        {"１", "\xA3\xB1"}, // full-width digit
        {"￥", "\xA3\xA4"}, // full-width yen sign
        {"亅", "\x81\x7C"}, // GBK extension with an ASCII-range trail byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gbk_from_utf8(c.utf8), c.gbk) << c.utf8;
        EXPECT_EQ(utf8_from_gbk(c.gbk), c.utf8) << c.utf8;
    }
    EXPECT_EQ("授权经销商"_gbk, gbk_from_utf8("授权经销商"));
}

TEST(GbkTest, Utf16RoundTrip)
{
    const std::u16string utf16 = u"耐克 Nike 2.50€　";
    const Text gbk = gbk_from_utf16(utf16);
    EXPECT_EQ(gbk, "耐克 Nike 2.50€　"_gbk);
    EXPECT_EQ(utf16_from_gbk(gbk), utf16);
    EXPECT_EQ(utf16_from_gbk(""), u"");
    EXPECT_EQ(gbk_from_utf16(u""), "");
}

TEST(GbkTest, UnmappableCharactersBecomeQuestionMarks)
{
    struct Case
    {
        std::string utf8;
        Text gbk;
    };
    const std::vector<Case> cases = {
        {"a😀b", "a?b"},       // outside the BMP: one character, one mark
        {"한국", "??"},       // Hangul is not in GBK
        {"x\xE2\x82", "x??"}, // UTF-8 cut off: a mark per byte
        {"\xFF"
         "a",
         "?a"},                    // a byte that never occurs in UTF-8
        {"\xC0\xAF", "??"},        // overlong form of '/'
        {"\xED\xA0\x80", "???"},   // encoded surrogate
        {"中\x80文", "中?文"_gbk}, // stray continuation byte between characters
        // The private use area, where some code page tables put GBK's user-defined areas (and the lone
        // byte FF): no character of GBK.
        {"\uE000", "?"},
        {"\uE4C6", "?"},
        {"\uE765", "?"},
        {"\uF8F5", "?"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gbk_from_utf8(c.utf8), c.gbk) << c.utf8;

    struct Utf16Case
    {
        std::u16string utf16;
        Text gbk;
    };
    const std::vector<Utf16Case> utf16_cases = {
        {u"a😀b", "a?b"}, // a surrogate pair is one character
        {u"한", "?"},
        {std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b"}, // lone high surrogate
        {std::u16string(u"a") + char16_t(0xDC00), "a?"},         // lone low surrogate at the end
        {std::u16string(1, char16_t(0xD800)), "?"},
        {u"😀😀", "??"},
        {u"a\uE000b\uF8F5", "a?b?"},
    };
    for (const Utf16Case& c : utf16_cases)
        EXPECT_EQ(gbk_from_utf16(c.utf16), c.gbk);
}

TEST(GbkTest, InvalidGbkBecomesReplacementCharacters)
{
    struct Case
    {
        Text gbk;
        std::string utf8;
        std::u16string utf16;
    };
    const std::vector<Case> cases = {
        {"\xFF", "\uFFFD", u"\uFFFD"},    // never a valid byte
        {"a\xB0", "a\uFFFD", u"a\uFFFD"}, // lead byte cut off by the end
        {"\xB0"
         "1",
         "\uFFFD"
         "1",
         u"\uFFFD"
         "1"}, // lead byte with an invalid trail: the '1' survives
        {"\xB0\xA1\xB0", "啊\uFFFD", u"啊\uFFFD"},
        {"\xFF\xFF"
         "x",
         "\uFFFD\uFFFDx", u"\uFFFD\uFFFDx"},
        {"\x81\x7F", "\uFFFD\x7F", u"\uFFFD\x7F"}, // 0x7F is no trail byte
        // The user-defined areas AAA1-AFFE, F8A1-FEFE and A140-A7A0 hold no characters: the lead byte
        // is bad, and its trail byte is looked at afresh.
        {"\xAA\xA1", "\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
        {"\xAF\xFE"
         "a",
         "\uFFFD\uFFFDa", u"\uFFFD\uFFFDa"},
        {"\xFE\xFE", "\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
        {"\xA1\x40"
         "x",
         "\uFFFD@x", u"\uFFFD@x"},
        {"\xA7\xA0", "\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
        {"\x80\xFF", "€\uFFFD", u"€\uFFFD"}, // the euro sign stands alone; FF is never a byte of GBK
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8_from_gbk(c.gbk), c.utf8) << c.utf8;
        EXPECT_EQ(utf16_from_gbk(c.gbk), c.utf16) << c.utf8;
    }
}

TEST(GbkTest, EveryDoubleByteCharacterRoundTrips)
{
    // Whatever decodes to a single character other than U+FFFD must encode back to the same bytes.
    int decoded = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const Text gbk{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string utf16 = utf16_from_gbk(gbk);
            if (utf16.size() != 1 || utf16[0] == 0xFFFD) continue;
            ++decoded;
            ASSERT_EQ(gbk_from_utf16(utf16), gbk) << std::hex << lead << " " << trail;
            ASSERT_EQ(gbk_from_utf8(utf8_from_gbk(gbk)), gbk) << std::hex << lead << " " << trail;
        }
    }
    // GBK defines about 21,900 characters, plus the user-defined areas.
    EXPECT_GT(decoded, 21000);
}

TEST(GbkTest, LongTextsConvertWhole)
{
    std::string utf8;
    for (int i = 0; i < 20000; ++i)
        utf8 += i % 3 ? "票" : "x€";
    const Text gbk = gbk_from_utf8(utf8);
    EXPECT_EQ(gbk.size(), 40000u); // two bytes for each piece
    EXPECT_EQ(utf8_from_gbk(gbk), utf8);
}

TEST(GbkTest, ConvertersWorkOnEveryThread)
{
    Text from_thread;
    std::thread worker([&] { from_thread = "小票"_gbk; });
    worker.join();
    EXPECT_EQ(from_thread, "\xD0\xA1\xC6\xB1");
}

} // namespace
} // namespace vorsa::runtime
