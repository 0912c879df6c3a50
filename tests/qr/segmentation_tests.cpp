// Segment modes, Kanji pairs and the shortest segmentation.

#include "qr/segmentation.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace vorsa::qr {
namespace {

TEST(KanjiPairs, RangesAndValues)
{
    struct Case
    {
        std::uint8_t first, second;
        int value; // -1: not a Kanji pair
    };
    const Case cases[] = {
        {0x81, 0x40, 0x0000}, {0x81, 0x3F, -1},     {0x81, 0x7F, 0x003F}, {0x81, 0xFD, 0x00BD},
        {0x80, 0x40, -1},     {0x9F, 0xFC, 0x173C}, {0x9F, 0xFF, 0x173F}, {0xA0, 0x40, -1},
        {0x82, 0x20, -1},     {0xDF, 0x80, -1},     {0xE0, 0x40, 0x1740}, {0xE4, 0x20, -1},
        {0xE4, 0xFE, 0x1AFE}, {0xEA, 0xFF, 0x1F7F}, {0xEB, 0x40, 0x1F80}, {0xEB, 0xBF, 0x1FFF},
        {0xEB, 0xC0, -1},     {0xEC, 0x40, -1},     {0xB0, 0xA1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.first) << int(c.second));
        EXPECT_EQ(is_kanji_pair(c.first, c.second), c.value >= 0);
        if (c.value >= 0) {
            EXPECT_EQ(kanji_value(c.first, c.second), c.value);
        }
    }
}

TEST(KanjiPairs, ValuesAreAllThirteenBitCodesOnce)
{
    std::vector<int> seen(0x2000, 0);
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            if (is_kanji_pair(std::uint8_t(a), std::uint8_t(b)))
                ++seen[std::size_t(kanji_value(std::uint8_t(a), std::uint8_t(b)))];
        }
    }
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
}

std::string describe(const Segmentation& segmentation)
{
    static const char* const names[] = {"B", "N", "A", "K"};
    std::string text;
    for (const Segment& s : segmentation.segments) {
        text += names[static_cast<int>(s.mode)] + std::to_string(s.length) + " ";
    }
    return text + std::to_string(segmentation.bits);
}

TEST(Segmentation, ChosenModes)
{
    struct Case
    {
        std::string data;
        int range;
        std::string expected; // mode and byte length per segment, then the total bits
    };
    const Case cases[] = {
        {"", 0, "0"},
        {"0123456789", 0, "N10 48"},
        {"HELLO WORLD", 0, "A11 74"},
        {"hello", 0, "B5 52"},
        {"ABCDEF0123456789", 2, "A6 N10 102"}, // 50 + 52 beats one alphanumeric segment (105)
        {"a1234567", 0, "B1 N7 58"},
        {"a123", 0, "B4 44"}, // ties with B1 N3: the byte mode wins
        {"\x81\x40\x9F\xFC", 0, "K4 38"},
        {"\x81\x40"
         "abc",
         0, "B5 52"},
        {"\x82\x20\x82\x20", 0, "B4 44"}, // second byte below 0x40: never Kanji
        {"\xEB\xC0\xEB\xC0", 1, "B4 52"},
        {std::string(256, 'a'), 0, "B255 B1 2072"}, // a byte segment holds 255 bytes in versions 1-9
        {std::string(256, 'a'), 1, "B256 2068"},
        {std::string(1024, '7'), 0, "N1023 N1 3442"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(segment_bytes(c.data, c.range)), c.expected)
            << c.data.substr(0, 16) << " range " << c.range;
    }
}

// Bits of one segment by the standard's closed formulas.
int segment_cost(SegmentMode mode, int characters, int range)
{
    int data = 0;
    switch (mode) {
    case SegmentMode::byte:
        data = 8 * characters;
        break;
    case SegmentMode::numeric:
        data = 10 * (characters / 3) + (characters % 3 == 0 ? 0 : characters % 3 == 1 ? 4 : 7);
        break;
    case SegmentMode::alphanumeric:
        data = 11 * (characters / 2) + 6 * (characters % 2);
        break;
    case SegmentMode::kanji:
        data = 13 * characters;
        break;
    }
    return 4 + count_indicator_bits(mode, range) + data;
}

// The least bits over every assignment of a mode to every character, runs of one mode forming a segment.
int brute_force_bits(const std::string& data, std::size_t position, int range, SegmentMode mode, int run,
                     int bits)
{
    const auto close = [&] { return run > 0 ? bits + segment_cost(mode, run, range) : bits; };
    if (position == data.size()) return close();
    const auto byte = static_cast<std::uint8_t>(data[position]);
    int best = 1 << 30;
    const auto extend = [&](SegmentMode next, std::size_t length) {
        const int result = next == mode
                               ? brute_force_bits(data, position + length, range, mode, run + 1, bits)
                               : brute_force_bits(data, position + length, range, next, 1, close());
        best = std::min(best, result);
    };
    extend(SegmentMode::byte, 1);
    if (is_numeric(byte)) extend(SegmentMode::numeric, 1);
    if (is_alphanumeric(byte)) extend(SegmentMode::alphanumeric, 1);
    if (position + 1 < data.size() && is_kanji_pair(byte, static_cast<std::uint8_t>(data[position + 1]))) {
        extend(SegmentMode::kanji, 2);
    }
    return best;
}

TEST(Segmentation, BitLengthIsTheMinimumOverAllModeAssignments)
{
    // Short inputs drawn from digits, alphanumeric-only characters, other bytes and Kanji pairs.
    const std::vector<std::string> pieces = {"0", "1", "7",        "A",        "Z",        " ",       ":",
                                             "a", "~", "\x81\x40", "\xE4\xFE", "\x82\x20", "\xB0\xA1"};
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 600; ++trial) {
        std::string data;
        const int count = 1 + static_cast<int>(random() % 11);
        for (int i = 0; i < count; ++i)
            data += pieces[random() % pieces.size()];
        const int range = trial % 3;
        const Segmentation segmentation = segment_bytes(data, range);
        ASSERT_EQ(segmentation.bits, brute_force_bits(data, 0, range, SegmentMode::byte, 0, 0))
            << testing::PrintToString(data) << " range " << range;
        // The quick bound used to skip hopeless version ranges never exceeds the real length.
        ASSERT_LE(least_segment_bits(data), segmentation.bits) << testing::PrintToString(data);

        // The segments tile the input and their own bits add up to the total.
        int covered = 0, bits = 0;
        for (const Segment& s : segmentation.segments) {
            ASSERT_EQ(s.start, covered);
            covered += s.length;
            bits += segment_cost(s.mode, s.characters(), range);
        }
        ASSERT_EQ(covered, static_cast<int>(data.size()));
        ASSERT_EQ(bits, segmentation.bits);
    }
}

} // namespace
} // namespace vorsa::qr
