// Field arithmetic, the standard's tables, Reed-Solomon and the format and version information.

#include "qr/galois_field.h"
#include "qr/qr_code.h"
#include "qr/qr_tables.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorsa::qr {
namespace {

// Carry-less multiplication reduced by the polynomial, one bit at a time.
int slow_multiply(int a, int b, int size, int polynomial)
{
    int product = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1) product ^= a;
        a <<= 1;
        if (a & size) a ^= polynomial;
    }
    return product;
}

TEST(GaloisField, MultiplicationMatchesPolynomialArithmetic)
{
    struct Case
    {
        int size, polynomial;
    };
    for (const Case c :
         {Case{2, 3}, Case{4, 7}, Case{16, 19}, Case{64, 67}, Case{256, 285}, Case{1024, 1033}}) {
        SCOPED_TRACE(c.size);
        const GaloisField field(c.size, c.polynomial, c.size == 2 ? 1 : 2);
        for (int a = 0; a < c.size; a += 1 + c.size / 64) {
            for (int b = 0; b < c.size; b += 1 + c.size / 64) {
                ASSERT_EQ(field.multiply(a, b), slow_multiply(a, b, c.size, c.polynomial)) << a << " * " << b;
            }
        }
        for (int v = 1; v < c.size; ++v)
            ASSERT_EQ(field.exp(field.log(v)), v);
    }
}

TEST(GaloisField, LargestFieldSizeIsAccepted)
{
    const GaloisField field(16384, 0x402B, 2); // x^14 + x^5 + x^3 + x + 1
    EXPECT_EQ(field.exp(14), 0x2B);
    EXPECT_EQ(field.multiply(0x2000, 2), 0x2B);
}

TEST(GaloisField, QrFieldKnownPowers)
{
    const GaloisField& field = tables().field;
    // alpha^8 = alpha^4 + alpha^3 + alpha^2 + 1; log 3 = 25 and alpha^255 = 1 in the QR code's field.
    EXPECT_EQ(field.exp(8), 29);
    EXPECT_EQ(field.log(3), 25);
    EXPECT_EQ(field.exp(255), 1);
    EXPECT_EQ(field.exp(254), 142);
}

TEST(ErrorCorrectionTable, KnownRowsAndCapacities)
{
    struct Case
    {
        int version;
        ErrorLevel level;
        int blocks, ec_per_block, data;
    };
    const Case cases[] = {
        {1, ErrorLevel::low, 1, 7, 19},         {1, ErrorLevel::medium, 1, 10, 16},
        {1, ErrorLevel::quartile, 1, 13, 13},   {1, ErrorLevel::high, 1, 17, 9},
        {5, ErrorLevel::quartile, 4, 18, 62},   {9, ErrorLevel::low, 2, 30, 232},
        {10, ErrorLevel::medium, 5, 26, 216},   {26, ErrorLevel::low, 12, 28, 1370},
        {27, ErrorLevel::low, 12, 30, 1468},    {40, ErrorLevel::low, 25, 30, 2956},
        {40, ErrorLevel::medium, 49, 28, 2334}, {40, ErrorLevel::quartile, 68, 30, 1666},
        {40, ErrorLevel::high, 81, 30, 1276},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version * 10 + static_cast<int>(c.level));
        EXPECT_EQ(ec_blocks(c.version, c.level), c.blocks);
        EXPECT_EQ(ec_codewords_per_block(c.version, c.level), c.ec_per_block);
        EXPECT_EQ(data_codewords(c.version, c.level), c.data);
    }
}

TEST(ErrorCorrectionTable, BlocksSplitEveryVersionConsistently)
{
    for (int version = 1; version <= 40; ++version) {
        int previous = 1 << 30;
        for (int l = 1; l <= 4; ++l) {
            const auto level = static_cast<ErrorLevel>(l);
            const int blocks = ec_blocks(version, level);
            const int data = data_codewords(version, level);
            ASSERT_GE(blocks, 1);
            ASSERT_EQ(data + blocks * ec_codewords_per_block(version, level), total_codewords(version));
            // Block lengths differ by at most one, and the higher levels hold strictly less data.
            ASSERT_GE(data / blocks, 1) << version;
            ASSERT_LT(data, previous) << version;
            previous = data;
        }
    }
}

TEST(AlignmentPatterns, CentresMatchTheStandard)
{
    struct Case
    {
        int version;
        std::vector<int> centres;
    };
    const Case cases[] = {
        {1, {}},
        {2, {6, 18}},
        {6, {6, 34}},
        {7, {6, 22, 38}},
        {13, {6, 34, 62}},
        {14, {6, 26, 46, 66}},
        {16, {6, 26, 50, 74}},
        {21, {6, 28, 50, 72, 94}},
        {22, {6, 26, 50, 74, 98}},
        {28, {6, 26, 50, 74, 98, 122}},
        {32, {6, 34, 60, 86, 112, 138}},
        {35, {6, 30, 54, 78, 102, 126, 150}},
        {36, {6, 24, 50, 76, 102, 128, 154}},
        {40, {6, 30, 58, 86, 114, 142, 170}},
    };
    for (const Case& c : cases) {
        const AlignmentCentres centres = alignment_centres(c.version);
        EXPECT_EQ(std::vector<int>(centres.positions.begin(), centres.positions.begin() + centres.count),
                  c.centres)
            << "version " << c.version;
    }
}

TEST(DataModules, FormulaCountsTheModulesLeftByTheFunctionPatterns)
{
    EXPECT_EQ(data_modules(1), 208);
    EXPECT_EQ(data_modules(2), 359);
    EXPECT_EQ(data_modules(7), 1568);
    EXPECT_EQ(data_modules(40), 29648);
    for (int version = 1; version <= 40; ++version) {
        EXPECT_EQ(tables().placement(version).order.size(), static_cast<std::size_t>(data_modules(version)))
            << "version " << version;
    }
}

TEST(FormatInformation, AllThirtyTwoCodesOfTheStandard)
{
    // Rows L, M, Q, H; columns mask 0 to 7.
    const char* const codes[4][8] = {
        {"111011111000100", "111001011110011", "111110110101010", "111100010011101", "110011000101111",
         "110001100011000", "110110001000001", "110100101110110"},
        {"101010000010010", "101000100100101", "101111001111100", "101101101001011", "100010111111001",
         "100000011001110", "100111110010111", "100101010100000"},
        {"011010101011111", "011000001101000", "011111100110001", "011101000000110", "010010010110100",
         "010000110000011", "010111011011010", "010101111101101"},
        {"001011010001001", "001001110111110", "001110011100111", "001100111010000", "000011101100010",
         "000001001010101", "000110100001100", "000100000111011"},
    };
    for (int l = 1; l <= 4; ++l) {
        for (int mask = 0; mask < 8; ++mask) {
            EXPECT_EQ(format_bits(static_cast<ErrorLevel>(l), mask),
                      std::stoi(codes[l - 1][mask], nullptr, 2))
                << "level " << l << " mask " << mask;
        }
    }
}

TEST(VersionInformation, KnownCodes)
{
    struct Case
    {
        int version, bits;
    };
    for (const Case c : {Case{7, 0x07C94}, Case{8, 0x085BC}, Case{9, 0x09A99}, Case{10, 0x0A4D3},
                         Case{21, 0x15683}, Case{40, 0x28C69}}) {
        EXPECT_EQ(version_bits(c.version), c.bits) << "version " << c.version;
    }
}

TEST(ReedSolomon, StandardExamples)
{
    struct Case
    {
        const char* text; // at version 1-M
        std::vector<std::uint8_t> data, ec;
    };
    const Case cases[] = {
        {"01234567",
         {0x10, 0x20, 0x0C, 0x56, 0x61, 0x80, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11},
         {0xA5, 0x24, 0xD4, 0xC1, 0xED, 0x36, 0xC7, 0x87, 0x2C, 0x55}},
        {"HELLO WORLD",
         {0x20, 0x5B, 0x0B, 0x78, 0xD1, 0x72, 0xDC, 0x4D, 0x43, 0x40, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11},
         {196, 35, 39, 119, 235, 215, 231, 226, 93, 23}},
    };
    for (const Case& c : cases) {
        const ReedSolomon& rs = *tables().reed_solomon[c.ec.size()];
        std::vector<std::uint8_t> ec(c.ec.size());
        rs.remainder(c.data, ec.data());
        EXPECT_EQ(ec, c.ec) << c.text;
        // The same data codewords come out of the encoder.
        const auto encoded = make_data_codewords(c.text, ErrorLevel::medium);
        ASSERT_TRUE(encoded);
        EXPECT_EQ(encoded->version, 1);
        EXPECT_EQ(encoded->codewords, c.data) << c.text;
    }
}

TEST(ReedSolomon, GeneratorOfDegreeSevenAndLongBlocks)
{
    // x^7 + a^87 x^6 + a^229 x^5 + a^146 x^4 + a^149 x^3 + a^238 x^2 + a^102 x + a^21
    const GaloisField& field = tables().field;
    const int logs[] = {87, 229, 146, 149, 238, 102, 21};
    const auto generator = tables().reed_solomon[7]->generator();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(generator[std::size_t(i)], field.exp(logs[i])) << i;

    // Every codeword polynomial (data then remainder) vanishes at the generator's roots.
    for (const int degree : {7, 18, 30}) {
        std::vector<std::uint8_t> block(200);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(i * 37 + degree);
        std::vector<std::uint8_t> ec(static_cast<std::size_t>(degree));
        tables().reed_solomon[std::size_t(degree)]->remainder(block, ec.data());
        block.insert(block.end(), ec.begin(), ec.end());
        for (int root = 0; root < degree; ++root) {
            int value = 0;
            for (const std::uint8_t c : block)
                value = field.multiply(value, field.exp(root)) ^ c;
            EXPECT_EQ(value, 0) << "degree " << degree << " root " << root;
        }
    }
}

} // namespace
} // namespace vorsa::qr
