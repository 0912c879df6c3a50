#pragma once
// The standard's per-version tables and the arithmetic built on them. Everything a symbol needs is
// built once, on first use of tables(), and shared read-only afterwards.

#include "qr/galois_field.h"
#include "qr/qr_code.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace vorsa::qr {

inline constexpr int min_version = 1;
inline constexpr int max_version = 40;

constexpr int symbol_size(int version)
{
    return 4 * version + 17;
}
constexpr int level_index(ErrorLevel level)
{
    return static_cast<int>(level) - 1;
}

// Error-correction blocks and codewords per block, the standard's table of error-correction
// characteristics: rows of eight bytes, two versions per row, levels L, M, Q, H for each.
extern const std::uint8_t ec_block_table[20][8];
extern const std::uint8_t ec_codeword_table[20][8];

inline int ec_blocks(int version, ErrorLevel level)
{
    return ec_block_table[(version - 1) / 2][(version - 1) % 2 * 4 + level_index(level)];
}
inline int ec_codewords_per_block(int version, ErrorLevel level)
{
    return ec_codeword_table[(version - 1) / 2][(version - 1) % 2 * 4 + level_index(level)];
}

// Distance between successive alignment-pattern centres after the one at 6; 255 where there is no
// regular spacing (versions 1 to 6).
int alignment_spacing(int version);

// Centre rows (and columns) of the alignment patterns, ascending; none for version 1.
struct AlignmentCentres
{
    int count = 0;
    std::array<int, 7> positions{};
};
AlignmentCentres alignment_centres(int version);

// Modules left for codewords once every function pattern is drawn.
int data_modules(int version);
inline int total_codewords(int version)
{
    return data_modules(version) / 8;
}

// The 15 format bits (level and mask, BCH-protected and masked with 0x5412) and the 18 version bits
// (BCH-protected, versions 7 and up), most significant bit first.
int format_bits(ErrorLevel level, int mask);
int version_bits(int version);

// Per-version range values of the segment modes, indexed [mode][range] with the ranges 1-9, 10-26 and
// 27-40 and the modes in the order byte, numeric, alphanumeric, Kanji.
inline constexpr int version_range_count = 3;
constexpr int version_range(int version)
{
    return version <= 9 ? 0 : version <= 26 ? 1 : 2;
}
inline constexpr int range_first_version[version_range_count] = {1, 10, 27};
inline constexpr int range_last_version[version_range_count] = {9, 26, 40};

// 2^0 .. 2^17: masks and limits when packing values into the bit stream.
inline constexpr std::array<std::uint32_t, 18> powers_of_two = [] {
    std::array<std::uint32_t, 18> powers{};
    for (std::size_t i = 0; i < powers.size(); ++i)
        powers[i] = std::uint32_t{1} << i;
    return powers;
}();

// Reed-Solomon remainder by the standard's generator polynomial of one degree, table-driven: for every
// feedback byte the product with the whole generator is looked up and added word by word.
class ReedSolomon
{
public:
    static constexpr int max_degree = 32;

    ReedSolomon(const GaloisField& field, int degree);

    int degree() const { return m_degree; }

    // Writes the `degree` error-correction codewords of `data` to `out`.
    void remainder(std::span<const std::uint8_t> data, std::uint8_t* out) const;

    // The generator's coefficients below the leading 1, highest power first.
    std::span<const std::uint8_t> generator() const { return {m_generator.data(), std::size_t(m_degree)}; }

private:
    static constexpr int words = max_degree / 8;
    int m_degree;
    std::array<std::uint8_t, max_degree> m_generator{};
    // m_products[f] is f times the generator, byte i of the register in bits 8 * (i % 8) of word i / 8.
    std::vector<std::array<std::uint64_t, words>> m_products;
};

// Where a version's codeword bits go: the zig-zag order of its non-function modules, and the function
// patterns that do not depend on level and mask.
struct PlacementPlan
{
    // (size + 3)^2 bytes of the matrix with finder, separator, timing and alignment patterns, the dark
    // module and version information drawn; format modules light.
    std::vector<std::uint8_t> function_layer;
    // Matrix index of every data module, in placement order.
    std::vector<std::uint16_t> order;
    // Per mask pattern, the pattern's bits in placement order, packed most significant bit first (one
    // byte more than the codewords fill, for the remainder bits): XOR-ing them into the codewords
    // applies the mask before placement.
    std::array<std::vector<std::uint8_t>, 8> mask_bits;
};

struct Tables
{
    Tables();

    GaloisField field{256, 285, 2};
    // Reed-Solomon encoders by degree; only the degrees the standard uses are present.
    std::array<std::unique_ptr<ReedSolomon>, ReedSolomon::max_degree + 1> reed_solomon;
    // Data codewords by [version][level index]; row 0 unused.
    std::array<std::array<int, 4>, max_version + 1> data_codewords{};
    // The eight bits of a byte as eight bytes 0 or 1: byte k of the value (bits 8k to 8k + 7) holds bit
    // 7 - k, so the most significant bit comes out first.
    std::array<std::uint64_t, 256> spread_bits{};

    // The placement plan of a version, built on first use and kept.
    const PlacementPlan& placement(int version) const;

private:
    mutable std::array<std::once_flag, max_version + 1> m_plan_once;
    mutable std::array<std::unique_ptr<PlacementPlan>, max_version + 1> m_plans;
};

const Tables& tables();

} // namespace vorsa::qr
