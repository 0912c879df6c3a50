#include "qr/qr_tables.h"

#include <cassert>

namespace vorsa::qr {

// clang-format off
const std::uint8_t ec_block_table[20][8] = {
    { 1,  1,  1,  1,    1,  1,  1,  1}, // versions 1, 2
    { 1,  1,  2,  2,    1,  2,  2,  4}, // 3, 4
    { 1,  2,  4,  4,    2,  4,  4,  4}, // 5, 6
    { 2,  4,  6,  5,    2,  4,  6,  6}, // 7, 8
    { 2,  5,  8,  8,    4,  5,  8,  8}, // 9, 10
    { 4,  5,  8, 11,    4,  8, 10, 11}, // 11, 12
    { 4,  9, 12, 16,    4,  9, 16, 16}, // 13, 14
    { 6, 10, 12, 18,    6, 10, 17, 16}, // 15, 16
    { 6, 11, 16, 19,    6, 13, 18, 21}, // 17, 18
    { 7, 14, 21, 25,    8, 16, 20, 25}, // 19, 20
    { 8, 17, 23, 25,    9, 17, 23, 34}, // 21, 22
    { 9, 18, 25, 30,   10, 20, 27, 32}, // 23, 24
    {12, 21, 29, 35,   12, 23, 34, 37}, // 25, 26
    {12, 25, 34, 40,   13, 26, 35, 42}, // 27, 28
    {14, 28, 38, 45,   15, 29, 40, 48}, // 29, 30
    {16, 31, 43, 51,   17, 33, 45, 54}, // 31, 32
    {18, 35, 48, 57,   19, 37, 51, 60}, // 33, 34
    {19, 38, 53, 63,   20, 40, 56, 66}, // 35, 36
    {21, 43, 59, 70,   22, 45, 62, 74}, // 37, 38
    {24, 47, 65, 77,   25, 49, 68, 81}, // 39, 40
};

const std::uint8_t ec_codeword_table[20][8] = {
    { 7, 10, 13, 17,   10, 16, 22, 28}, // versions 1, 2
    {15, 26, 18, 22,   20, 18, 26, 16}, // 3, 4
    {26, 24, 18, 22,   18, 16, 24, 28}, // 5, 6
    {20, 18, 18, 26,   24, 22, 22, 26}, // 7, 8
    {30, 22, 20, 24,   18, 26, 24, 28}, // 9, 10
    {20, 30, 28, 24,   24, 22, 26, 28}, // 11, 12
    {26, 22, 24, 22,   30, 24, 20, 24}, // 13, 14
    {22, 24, 30, 24,   24, 28, 24, 30}, // 15, 16
    {28, 28, 28, 28,   30, 26, 28, 28}, // 17, 18
    {28, 26, 26, 26,   28, 26, 30, 28}, // 19, 20
    {28, 26, 28, 30,   28, 28, 30, 24}, // 21, 22
    {30, 28, 30, 30,   30, 28, 30, 30}, // 23, 24
    {26, 28, 30, 30,   28, 28, 28, 30}, // 25, 26
    {30, 28, 30, 30,   30, 28, 30, 30}, // 27, 28
    {30, 28, 30, 30,   30, 28, 30, 30}, // 29, 30
    {30, 28, 30, 30,   30, 28, 30, 30}, // 31, 32
    {30, 28, 30, 30,   30, 28, 30, 30}, // 33, 34
    {30, 28, 30, 30,   30, 28, 30, 30}, // 35, 36
    {30, 28, 30, 30,   30, 28, 30, 30}, // 37, 38
    {30, 28, 30, 30,   30, 28, 30, 30}, // 39, 40
};
// clang-format on

int alignment_spacing(int version)
{
    assert(version >= min_version && version <= max_version);
    const int v = version;
    if (v <= 6) return 255;
    if (v <= 13) return 2 * v + 2;
    if (v <= 20) return 2 * ((2 * v + 4) / 3);
    if (v <= 27) return (v + 2) / 2 * 2;
    if (v <= 34) return 2 * (v / 3) + 6;
    return 2 * (v / 3) + 2;
}

AlignmentCentres alignment_centres(int version)
{
    AlignmentCentres centres;
    if (version == 1) return centres;
    centres.count = version / 7 + 2;
    // The last centre sits 7 modules from the far edge; the others step back by the spacing, and the
    // first is always 6.
    const int last = symbol_size(version) - 7;
    centres.positions[0] = 6;
    for (int i = centres.count - 1, position = last; i >= 1; --i, position -= alignment_spacing(version)) {
        centres.positions[static_cast<std::size_t>(i)] = position;
    }
    return centres;
}

int data_modules(int version)
{
    assert(version >= min_version && version <= max_version);
    const int size = symbol_size(version);
    const int finders = 3 * 8 * 8; // with their separators
    const int timing = 2 * (size - 16);
    const int format = 2 * 15 + 1; // both copies and the dark module
    int alignment = 0;
    const int n = alignment_centres(version).count;
    if (n >= 2) {
        // n^2 - 3 patterns (three corners hold finders); those on row or column 6 cover 5 timing
        // modules each, which are already counted.
        alignment = 25 * (n * n - 3) - 2 * 5 * (n - 2);
    }
    const int version_info = version >= 7 ? 2 * 18 : 0;
    return size * size - finders - timing - format - alignment - version_info;
}

int format_bits(ErrorLevel level, int mask)
{
    assert(mask >= 0 && mask <= 7);
    static constexpr int level_bits[4] = {1, 0, 3, 2}; // L, M, Q, H
    const int data = level_bits[level_index(level)] << 3 | mask;
    int remainder = data;
    for (int i = 0; i < 10; ++i)
        remainder = (remainder << 1) ^ ((remainder >> 9) * 1335);
    return (data << 10 | remainder) ^ 0x5412;
}

int version_bits(int version)
{
    assert(version >= 7 && version <= max_version);
    int remainder = version;
    for (int i = 0; i < 12; ++i)
        remainder = (remainder << 1) ^ ((remainder >> 11) * 7973);
    return version << 12 | remainder;
}

ReedSolomon::ReedSolomon(const GaloisField& field, int degree) : m_degree(degree), m_products(256)
{
    assert(field.size() == 256 && degree >= 1 && degree <= max_degree);
    // Generator (x - a^0)(x - a^1)...(x - a^(degree-1)), kept without its leading 1, highest first.
    std::array<int, max_degree> g{};
    g[static_cast<std::size_t>(degree - 1)] = 1;
    for (int i = 0, root = 1; i < degree; ++i) {
        for (int j = 0; j < degree; ++j) {
            const int next = j + 1 < degree ? g[static_cast<std::size_t>(j + 1)] : 0;
            g[static_cast<std::size_t>(j)] = field.multiply(g[static_cast<std::size_t>(j)], root) ^ next;
        }
        root = field.multiply(root, 2);
    }
    for (int f = 0; f < 256; ++f) {
        auto& row = m_products[static_cast<std::size_t>(f)];
        row.fill(0);
        for (int i = 0; i < degree; ++i) {
            const auto product =
                static_cast<std::uint64_t>(field.multiply(g[static_cast<std::size_t>(i)], f));
            row[static_cast<std::size_t>(i / 8)] |= product << (8 * (i % 8));
        }
    }
    for (int i = 0; i < degree; ++i) {
        m_generator[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(g[static_cast<std::size_t>(i)]);
    }
}

namespace {

// Polynomial division as a shift register of `Words` 64-bit words: byte 0 of the register is the
// coefficient leaving next, and each step adds the feedback byte's product with the generator.
template <int Words>
void divide(const std::array<std::uint64_t, 4>* products, std::span<const std::uint8_t> data, int degree,
            std::uint8_t* out)
{
    std::uint64_t r[Words] = {};
    for (const std::uint8_t byte : data) {
        const auto& row = products[(byte ^ r[0]) & 0xFF];
        for (int w = 0; w + 1 < Words; ++w)
            r[w] = ((r[w] >> 8) | (r[w + 1] << 56)) ^ row[std::size_t(w)];
        r[Words - 1] = (r[Words - 1] >> 8) ^ row[Words - 1];
    }
    for (int i = 0; i < degree; ++i)
        out[i] = static_cast<std::uint8_t>(r[i / 8] >> (8 * (i % 8)));
}

} // namespace

void ReedSolomon::remainder(std::span<const std::uint8_t> data, std::uint8_t* out) const
{
    switch ((m_degree + 7) / 8) {
    case 1:
        divide<1>(m_products.data(), data, m_degree, out);
        break;
    case 2:
        divide<2>(m_products.data(), data, m_degree, out);
        break;
    case 3:
        divide<3>(m_products.data(), data, m_degree, out);
        break;
    default:
        divide<4>(m_products.data(), data, m_degree, out);
        break;
    }
}

Tables::Tables()
{
    for (int version = min_version; version <= max_version; ++version) {
        for (int l = 1; l <= 4; ++l) {
            const auto level = static_cast<ErrorLevel>(l);
            const int degree = ec_codewords_per_block(version, level);
            auto& rs = reed_solomon[static_cast<std::size_t>(degree)];
            if (!rs) rs = std::make_unique<ReedSolomon>(field, degree);
            data_codewords[static_cast<std::size_t>(version)][static_cast<std::size_t>(l - 1)] =
                total_codewords(version) - ec_blocks(version, level) * degree;
        }
    }
    for (int byte = 0; byte < 256; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            spread_bits[static_cast<std::size_t>(byte)] |= std::uint64_t((byte >> (7 - bit)) & 1)
                                                           << (8 * bit);
        }
    }
}

const Tables& tables()
{
    static const Tables instance;
    return instance;
}

} // namespace vorsa::qr
