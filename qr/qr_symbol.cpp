// Module matrix of a symbol: function patterns, codeword placement with the mask, format information.

#include "qr/qr_code.h"
#include "qr/qr_tables.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

namespace vorsa::qr {

namespace {

// A matrix under construction: bit 0 of a byte is the colour, bit 1 marks a function module.
class FunctionGrid
{
public:
    explicit FunctionGrid(int version)
        : m_size(symbol_size(version)), m_stride(m_size + 3),
          m_cells(static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(m_stride), 0)
    {
    }

    void set(int x, int y, bool dark)
    {
        m_cells[index(x, y)] = static_cast<std::uint8_t>(2 | (dark ? 1 : 0));
    }
    bool is_function(int x, int y) const { return m_cells[index(x, y)] & 2; }
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y * m_stride + x); }
    int size() const { return m_size; }
    const std::vector<std::uint8_t>& cells() const { return m_cells; }

    // A finder pattern centred on (x, y) with its separator ring, clipped at the symbol's edge.
    void draw_finder(int x, int y)
    {
        for (int dy = -4; dy <= 4; ++dy) {
            for (int dx = -4; dx <= 4; ++dx) {
                const int xx = x + dx, yy = y + dy;
                if (xx < 0 || xx >= m_size || yy < 0 || yy >= m_size) continue;
                const int ring = std::max(std::abs(dx), std::abs(dy));
                set(xx, yy, ring != 2 && ring != 4);
            }
        }
    }

    void draw_alignment(int x, int y)
    {
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx)
                set(x + dx, y + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
        }
    }

    // Reserves both copies of the format information (drawn per symbol) and sets the dark module.
    void reserve_format()
    {
        for (int i = 0; i <= 8; ++i) {
            if (i != 6) {
                set(8, i, false);
                set(i, 8, false);
            }
        }
        for (int i = 0; i < 8; ++i) {
            set(m_size - 1 - i, 8, false);
            set(8, m_size - 1 - i, false);
        }
        set(8, m_size - 8, true);
    }

    void draw_version(int version)
    {
        const int bits = version_bits(version);
        for (int i = 0; i < 18; ++i) {
            const bool dark = (bits >> i) & 1;
            const int a = m_size - 11 + i % 3, b = i / 3;
            set(a, b, dark);
            set(b, a, dark);
        }
    }

private:
    int m_size;
    int m_stride;
    std::vector<std::uint8_t> m_cells;
};

// The standard's mask patterns; x is the column, y the row.
bool mask_inverts(int mask, int x, int y)
{
    switch (mask) {
    case 0:
        return (x + y) % 2 == 0;
    case 1:
        return y % 2 == 0;
    case 2:
        return x % 3 == 0;
    case 3:
        return (x + y) % 3 == 0;
    case 4:
        return (x / 3 + y / 2) % 2 == 0;
    case 5:
        return x * y % 2 + x * y % 3 == 0;
    case 6:
        return (x * y % 2 + x * y % 3) % 2 == 0;
    default:
        return ((x + y) % 2 + x * y % 3) % 2 == 0;
    }
}

PlacementPlan build_plan(int version)
{
    FunctionGrid grid(version);
    const int size = grid.size();
    for (int i = 0; i < size; ++i) {
        grid.set(6, i, i % 2 == 0);
        grid.set(i, 6, i % 2 == 0);
    }
    grid.draw_finder(3, 3);
    grid.draw_finder(size - 4, 3);
    grid.draw_finder(3, size - 4);
    const AlignmentCentres centres = alignment_centres(version);
    for (int i = 0; i < centres.count; ++i) {
        for (int j = 0; j < centres.count; ++j) {
            const bool finder_corner = (i == 0 && j == 0) || (i == 0 && j == centres.count - 1) ||
                                       (i == centres.count - 1 && j == 0);
            if (!finder_corner) {
                grid.draw_alignment(centres.positions[static_cast<std::size_t>(i)],
                                    centres.positions[static_cast<std::size_t>(j)]);
            }
        }
    }
    grid.reserve_format();
    if (version >= 7) grid.draw_version(version);

    PlacementPlan plan;
    plan.function_layer.resize(grid.cells().size());
    std::transform(grid.cells().begin(), grid.cells().end(), plan.function_layer.begin(),
                   [](std::uint8_t cell) { return static_cast<std::uint8_t>(cell & 1); });

    // Two-module-wide columns from the right, alternately upward and downward, skipping the vertical
    // timing column.
    const auto modules = static_cast<std::size_t>(data_modules(version));
    plan.order.reserve(modules);
    for (auto& bits : plan.mask_bits)
        bits.assign(modules / 8 + 1, 0);
    for (int right = size - 1; right >= 1; right -= 2) {
        if (right == 6) right = 5;
        const bool upward = ((right + 1) & 2) == 0;
        for (int step = 0; step < size; ++step) {
            const int y = upward ? size - 1 - step : step;
            for (int x = right; x >= right - 1; --x) {
                if (grid.is_function(x, y)) continue;
                const std::size_t i = plan.order.size();
                for (int mask = 0; mask < 8; ++mask) {
                    if (mask_inverts(mask, x, y))
                        plan.mask_bits[std::size_t(mask)][i / 8] |= std::uint8_t(0x80 >> (i % 8));
                }
                plan.order.push_back(static_cast<std::uint16_t>(grid.index(x, y)));
            }
        }
    }
    assert(plan.order.size() == modules);
    return plan;
}

} // namespace

const PlacementPlan& Tables::placement(int version) const
{
    assert(version >= min_version && version <= max_version);
    const auto v = static_cast<std::size_t>(version);
    std::call_once(m_plan_once[v],
                   [&] { m_plans[v] = std::make_unique<PlacementPlan>(build_plan(version)); });
    return *m_plans[v];
}

QrSymbol::QrSymbol(int version, ErrorLevel level, int mask)
    : m_version(version), m_level(level), m_mask(mask), m_size(symbol_size(version))
{
}

QrSymbol QrSymbol::from_data_codewords(int version, ErrorLevel level, std::span<const std::uint8_t> data,
                                       int mask)
{
    assert(version >= min_version && version <= max_version);
    assert(mask >= 0 && mask <= 7);
    const Tables& t = tables();
    const auto data_count = static_cast<std::size_t>(
        t.data_codewords[static_cast<std::size_t>(version)][static_cast<std::size_t>(level_index(level))]);
    assert(data.size() == data_count);

    // Blocks: the short ones first, each long block one data codeword longer; every block carries
    // the same number of error-correction codewords.
    const int blocks = ec_blocks(version, level);
    const int ec_length = ec_codewords_per_block(version, level);
    const int total = total_codewords(version);
    const int short_blocks = blocks - total % blocks;
    const int short_data = total / blocks - ec_length;
    const ReedSolomon& rs = *t.reed_solomon[static_cast<std::size_t>(ec_length)];

    // Interleave: data codewords column by column across the blocks, then the error correction.
    std::uint8_t codewords[3706];
    assert(total <= static_cast<int>(sizeof codewords));
    std::uint8_t ec[ReedSolomon::max_degree];
    const std::uint8_t* block_data = data.data();
    for (int b = 0; b < blocks; ++b) {
        const int length = short_data + (b < short_blocks ? 0 : 1);
        for (int i = 0; i < length; ++i) {
            // The long blocks' extra codeword follows all the short columns.
            const int column = i < short_data ? i * blocks + b : short_data * blocks + (b - short_blocks);
            codewords[column] = block_data[i];
        }
        rs.remainder({block_data, static_cast<std::size_t>(length)}, ec);
        for (int i = 0; i < ec_length; ++i)
            codewords[static_cast<int>(data_count) + i * blocks + b] = ec[i];
        block_data += length;
    }

    QrSymbol symbol(version, level, mask);
    const PlacementPlan& plan = t.placement(version);
    symbol.m_matrix = plan.function_layer;
    std::uint8_t* matrix = symbol.m_matrix.data();

    // Codeword bits, most significant first, masked on the way into place; the remainder bits after
    // the last codeword are zero before masking.
    const std::uint8_t* mask_bits = plan.mask_bits[static_cast<std::size_t>(mask)].data();
    const std::uint16_t* order = plan.order.data();
    for (int i = 0; i < total; ++i, order += 8) {
        const std::uint64_t bits = t.spread_bits[codewords[i] ^ mask_bits[i]];
        for (int bit = 0; bit < 8; ++bit)
            matrix[order[bit]] = static_cast<std::uint8_t>(bits >> (8 * bit));
    }
    const std::uint64_t remainder = t.spread_bits[mask_bits[total]];
    for (int bit = 0; order < plan.order.data() + plan.order.size(); ++order, ++bit) {
        matrix[*order] = static_cast<std::uint8_t>(remainder >> (8 * bit));
    }

    // Format information: one copy around the top-left finder, the other split between the two others.
    const int format = format_bits(level, mask);
    const int size = symbol.m_size;
    const int stride = symbol.stride();
    auto put = [&](int x, int y, int bit) {
        matrix[y * stride + x] = static_cast<std::uint8_t>((format >> bit) & 1);
    };
    for (int i = 0; i <= 5; ++i)
        put(8, i, i);
    put(8, 7, 6);
    put(8, 8, 7);
    put(7, 8, 8);
    for (int i = 9; i < 15; ++i)
        put(14 - i, 8, i);
    for (int i = 0; i < 8; ++i)
        put(size - 1 - i, 8, i);
    for (int i = 8; i < 15; ++i)
        put(8, size - 15 + i, i);
    return symbol;
}

bool QrSymbol::module(int x, int y) const
{
    assert(x >= 0 && x < m_size && y >= 0 && y < m_size);
    return m_matrix[static_cast<std::size_t>(y * stride() + x)] != 0;
}

} // namespace vorsa::qr
