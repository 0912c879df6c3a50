// Symbols, version choice, the picture and the encoder object's argument rules.

#include "qr/qr_code.h"
#include "qr/qr_encoder.h"
#include "qr/qr_tables.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace vorsa::qr {
namespace {

using namespace runtime::literals;

std::string ascii_picture(const QrSymbol& symbol)
{
    std::string text;
    for (int y = 0; y < symbol.size(); ++y) {
        for (int x = 0; x < symbol.size(); ++x)
            text += symbol.module(x, y) ? '#' : '.';
        text += '\n';
    }
    return text;
}

TEST(Symbol, GoldenVersionOneSymbol)
{
    std::ifstream file(VORSA_QR_TEST_DATA "/numeric_1m_mask2.txt");
    ASSERT_TRUE(file) << "golden file missing";
    std::stringstream golden;
    golden << file.rdbuf();

    const auto symbol = encode_bytes("01234567", ErrorLevel::medium, 1, 2);
    ASSERT_TRUE(symbol);
    EXPECT_EQ(ascii_picture(*symbol), golden.str());
}

TEST(Symbol, FormatAndVersionInformationInBothCopies)
{
    // Reads the 15 format bits and 18 version bits back from the module positions of the standard.
    for (const int version : {1, 6, 7, 21, 40}) {
        for (int l = 1; l <= 4; ++l) {
            for (int mask = 0; mask < 8; ++mask) {
                const auto level = static_cast<ErrorLevel>(l);
                const auto symbol = encode_bytes("VORSA 2024", level, version, mask);
                ASSERT_TRUE(symbol);
                const int size = symbol->size();
                ASSERT_EQ(size, 4 * version + 17);
                int first = 0, second = 0;
                // Copy one: column 8 downward (skipping the timing row), then row 8 leftward.
                const int copy_one[15][2] = {{8, 0}, {8, 1}, {8, 2}, {8, 3}, {8, 4}, {8, 5}, {8, 7}, {8, 8},
                                             {7, 8}, {5, 8}, {4, 8}, {3, 8}, {2, 8}, {1, 8}, {0, 8}};
                for (int i = 0; i < 15; ++i)
                    first |= symbol->module(copy_one[i][0], copy_one[i][1]) << i;
                for (int i = 0; i < 8; ++i)
                    second |= symbol->module(size - 1 - i, 8) << i;
                for (int i = 8; i < 15; ++i)
                    second |= symbol->module(8, size - 15 + i) << i;
                ASSERT_EQ(first, format_bits(level, mask)) << version << " " << l << " " << mask;
                ASSERT_EQ(second, format_bits(level, mask)) << version << " " << l << " " << mask;
                ASSERT_TRUE(symbol->module(8, size - 8)) << "dark module";
                if (version >= 7) {
                    int top_right = 0, bottom_left = 0;
                    for (int i = 0; i < 18; ++i) {
                        top_right |= symbol->module(size - 11 + i % 3, i / 3) << i;
                        bottom_left |= symbol->module(i / 3, size - 11 + i % 3) << i;
                    }
                    ASSERT_EQ(top_right, version_bits(version));
                    ASSERT_EQ(bottom_left, version_bits(version));
                }
            }
        }
    }
}

TEST(Symbol, ExtraRowsAndColumnsOfTheMatrixStayLight)
{
    const auto symbol = encode_bytes(std::string(100, '#'), ErrorLevel::high, 0, 5);
    ASSERT_TRUE(symbol);
    const int stride = symbol->stride();
    ASSERT_EQ(symbol->matrix().size(), static_cast<std::size_t>(stride * stride));
    for (int y = 0; y < stride; ++y) {
        for (int x = 0; x < stride; ++x) {
            if (x >= symbol->size() || y >= symbol->size()) {
                ASSERT_EQ(symbol->matrix()[std::size_t(y * stride + x)], 0) << x << "," << y;
            }
        }
    }
}

TEST(VersionChoice, SmallestVersionThatHoldsTheData)
{
    struct Case
    {
        std::string data;
        ErrorLevel level;
        int version;  // 0 = automatic
        int expected; // 0 = does not fit
    };
    const Case cases[] = {
        {"", ErrorLevel::low, 0, 1},
        {std::string(17, 'a'), ErrorLevel::low, 0, 1},
        {std::string(18, 'a'), ErrorLevel::low, 0, 2},
        {std::string(7, 'a'), ErrorLevel::high, 0, 1},
        {std::string(8, 'a'), ErrorLevel::high, 0, 2},
        {std::string(230, 'a'), ErrorLevel::low, 0, 9}, // count indicators grow from version 10 on
        {std::string(231, 'a'), ErrorLevel::low, 0, 10},
        {std::string(1367, 'a'), ErrorLevel::low, 0, 26},
        {std::string(1368, 'a'), ErrorLevel::low, 0, 27},
        {std::string(2953, 'a'), ErrorLevel::low, 0, 40},
        {std::string(2954, 'a'), ErrorLevel::low, 0, 0},
        {std::string(1273, 'a'), ErrorLevel::high, 0, 40},
        {std::string(1274, 'a'), ErrorLevel::high, 0, 0},
        {std::string(7089, '9'), ErrorLevel::low, 0, 40}, // fills every bit; no room for the terminator
        {std::string(7090, '9'), ErrorLevel::low, 0, 0},
        {std::string(18, 'a'), ErrorLevel::low, 1, 0},
        {std::string(18, 'a'), ErrorLevel::low, 2, 2},
        {"a", ErrorLevel::medium, 40, 40},
        {std::string(300, 'a'), ErrorLevel::low, 9, 0},
    };
    for (const Case& c : cases) {
        const auto symbol = encode_bytes(c.data, c.level, c.version);
        EXPECT_EQ(symbol ? symbol->version() : 0, c.expected)
            << c.data.size() << " bytes, level " << int(c.level) << ", version " << c.version;
    }
}

std::string utf8_identity(std::string_view text)
{
    return std::string(text);
}

TEST(QrEncoder, ArgumentRules)
{
    struct Case
    {
        int version, level, mask;
        bool made;
    };
    const Case cases[] = {
        {0, 1, -1, true},   {0, 0, -1, true},   {0, 4, 7, true},   {40, 1, 0, true},   {2, 2, 0, true},
        {41, 1, -1, false}, {-1, 1, -1, false}, {0, 5, -1, false}, {0, -1, -1, false}, {0, 1, 8, false},
        {0, 1, -2, false},  {1, 4, 0, false}, // version 1-H holds 7 bytes only
    };
    QrEncoder encoder(utf8_identity);
    for (const Case& c : cases) {
        ASSERT_TRUE(encoder.qr_encode("a receipt", 1));
        EXPECT_EQ(encoder.qr_encode("VORSA receipt 0035", 1, c.version, c.level, c.mask), c.made)
            << c.version << " " << c.level << " " << c.mask;
        EXPECT_EQ(encoder.qr_picture().empty(), !c.made) << c.version << " " << c.level << " " << c.mask;
    }
}

TEST(QrEncoder, DefaultsAndEquivalentArguments)
{
    QrEncoder encoder(utf8_identity);
    const auto picture = [&](int version, int level, int mask) {
        EXPECT_TRUE(encoder.qr_encode("正品 耐克\r\n"_gbk, 1, version, level, mask));
        return encoder.qr_picture();
    };
    EXPECT_EQ(picture(0, 0, 0), picture(0, 2, 0)) << "level 0 is M";
    EXPECT_EQ(picture(0, 1, -1), picture(0, 1, 0)) << "mask -1 is pattern 0";
    EXPECT_NE(picture(0, 1, 0), picture(0, 1, 1));
    EXPECT_NE(picture(0, 1, 0), picture(0, 3, 0));
    ASSERT_TRUE(encoder.qr_encode("正品 耐克\r\n"_gbk, 1));
    EXPECT_EQ(encoder.qr_picture(), picture(0, 2, -1)) << "omitted level is M, omitted mask -1";
}

TEST(QrEncoder, DataBeyondVersionFortyLeavesNoPicture)
{
    QrEncoder encoder(utf8_identity);
    ASSERT_TRUE(encoder.qr_encode(std::string(2953, 'x'), 1, 0, 1));
    EXPECT_FALSE(encoder.qr_picture().empty());
    EXPECT_FALSE(encoder.qr_encode(std::string(2954, 'x'), 1, 0, 1));
    EXPECT_TRUE(encoder.qr_picture().empty());
}

TEST(QrEncoder, InputFormBitZeroChoosesBetweenGbkAndUtf8)
{
    QrEncoder encoder(runtime::utf8_from_gbk);
    const runtime::Text gbk = "跑鞋 Size 42"_gbk;
    const std::string utf8 = "跑鞋 Size 42";
    ASSERT_NE(gbk, utf8);
    const auto picture = [&](std::string_view text, int form) {
        EXPECT_TRUE(encoder.qr_encode(text, form));
        return encoder.qr_picture();
    };
    EXPECT_EQ(picture(gbk, 0), picture(utf8, 1));
    EXPECT_EQ(picture(gbk, 2), picture(utf8, 1));
    EXPECT_EQ(picture(gbk, 3), picture(gbk, 1));
    EXPECT_NE(picture(gbk, 0), picture(gbk, 1));
}

TEST(Picture, VersionOneSymbolIs29PixelsSquareWithLightBorder)
{
    QrEncoder encoder(utf8_identity);
    const std::uint32_t dark = 0x0000FF, light = 0x00FF00; // red on green, as 0x00BBGGRR
    ASSERT_TRUE(encoder.qr_encode("01234567", 1, 1, 2, 2, dark, light));
    const auto bytes = encoder.qr_picture();
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(bytes[2] | bytes[3] << 8 | bytes[4] << 16 | bytes[5] << 24, static_cast<int>(bytes.size()));

    const auto bitmap = runtime::picture_from_bytes(bytes);
    ASSERT_TRUE(bitmap);
    ASSERT_EQ(bitmap->width, 29);
    ASSERT_EQ(bitmap->height, 29);
    const auto symbol = encode_bytes("01234567", ErrorLevel::medium, 1, 2);
    for (int y = 0; y < 29; ++y) {
        for (int x = 0; x < 29; ++x) {
            const bool inside = x >= 4 && x < 25 && y >= 4 && y < 25;
            const bool is_dark = inside && symbol->module(x - 4, y - 4);
            ASSERT_EQ(bitmap->pixel(x, y) & 0xFFFFFF, is_dark ? 0xFF0000u : 0x00FF00u) << x << "," << y;
        }
    }
}

TEST(Picture, SideIsSizePlusEightForEveryVersion)
{
    for (const int version : {2, 9, 10, 27, 40}) {
        const auto symbol = encode_bytes("side", ErrorLevel::quartile, version);
        ASSERT_TRUE(symbol);
        const auto bitmap = runtime::picture_from_bytes(symbol_picture(*symbol, 0, 0xFFFFFF));
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->width, symbol->size() + 8);
        EXPECT_EQ(bitmap->height, symbol->size() + 8);
    }
}

} // namespace
} // namespace vorsa::qr
