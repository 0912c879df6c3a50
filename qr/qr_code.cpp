// From bytes to a symbol: segmentation per version range, version choice, the data codewords.

#include "qr/qr_code.h"

#include "qr/qr_tables.h"
#include "qr/segmentation.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace vorsa::qr {

namespace {

// Appends bits, most significant first, to a byte buffer.
class BitWriter
{
public:
    explicit BitWriter(std::uint8_t* out) : m_out(out) {}

    void put(std::uint32_t value, int bits)
    {
        assert(bits >= 0 && bits <= 32 && value <= (std::uint64_t{1} << bits) - 1);
        m_buffer = m_buffer << bits | value;
        m_pending += bits;
        while (m_pending >= 8) {
            m_pending -= 8;
            *m_out++ = static_cast<std::uint8_t>(m_buffer >> m_pending);
        }
    }

    // The next byte to write, and the bits already waiting for it.
    std::uint8_t* position() const { return m_out; }
    int pending() const { return m_pending; }

    // Writes out the last partial byte, padded with zero bits.
    void finish()
    {
        if (m_pending > 0) *m_out++ = static_cast<std::uint8_t>(m_buffer << (8 - m_pending));
        m_pending = 0;
    }

private:
    std::uint8_t* m_out;
    std::uint64_t m_buffer = 0; // only the low m_pending bits are meaningful
    int m_pending = 0;
};

constexpr std::uint32_t mode_indicator[4] = {0b0100, 0b0001, 0b0010, 0b1000}; // byte, numeric, alnum, Kanji

void write_segment(BitWriter& writer, const std::uint8_t* bytes, const Segment& segment, int range)
{
    writer.put(mode_indicator[static_cast<int>(segment.mode)], 4);
    writer.put(static_cast<std::uint32_t>(segment.characters()), count_indicator_bits(segment.mode, range));
    const std::uint8_t* p = bytes + segment.start;
    const std::uint8_t* end = p + segment.length;
    switch (segment.mode) {
    case SegmentMode::byte:
        for (; end - p >= 4; p += 4) {
            writer.put(
                std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3], 32);
        }
        for (; p < end; ++p)
            writer.put(*p, 8);
        break;
    case SegmentMode::numeric:
        for (; end - p >= 3; p += 3)
            writer.put(std::uint32_t((p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0')), 10);
        if (end - p == 2) writer.put(std::uint32_t((p[0] - '0') * 10 + (p[1] - '0')), 7);
        if (end - p == 1) writer.put(std::uint32_t(p[0] - '0'), 4);
        break;
    case SegmentMode::alphanumeric:
        for (; end - p >= 2; p += 2)
            writer.put(std::uint32_t(alphanumeric_value(p[0]) * 45 + alphanumeric_value(p[1])), 11);
        if (p < end) writer.put(std::uint32_t(alphanumeric_value(p[0])), 6);
        break;
    case SegmentMode::kanji:
        for (; p < end; p += 2)
            writer.put(std::uint32_t(kanji_value(p[0], p[1])), 13);
        break;
    }
}

// Writes the data codewords of `data` to `out` (room for 2956, the most any version holds, 40-L) and
// returns the version they are for, or 0 when the data does not fit.
int build_data_codewords(std::string_view data, ErrorLevel level, int version, std::uint8_t* out)
{
    assert(version >= 0 && version <= max_version);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());

    // Per range of versions sharing count-indicator lengths, the first version whose data capacity
    // holds the stream's segments (the terminator may be cut short).
    const int first_range = version == 0 ? 0 : version_range(version);
    const int last_range = version == 0 ? version_range_count - 1 : version_range(version);
    std::int64_t lower_bound = -1;
    for (int range = first_range; range <= last_range; ++range) {
        const int first = version == 0 ? range_first_version[range] : version;
        const int last = version == 0 ? range_last_version[range] : version;
        const std::int64_t capacity = 8 * data_codewords(last, level);
        // Skip a range that cannot hold the data whatever the segmentation, without segmenting: first
        // as if every byte were a digit, then by the cheapest mode open to each byte.
        if (static_cast<std::int64_t>(data.size()) * 10 / 3 > capacity) continue;
        if (lower_bound < 0) lower_bound = least_segment_bits(data);
        if (lower_bound > capacity) continue;

        const Segmentation segmentation = segment_bytes(data, range);
        for (int v = first; v <= last; ++v) {
            const int capacity_bytes = data_codewords(v, level);
            if (segmentation.bits > 8 * capacity_bytes) continue;

            BitWriter writer(out);
            for (const Segment& segment : segmentation.segments)
                write_segment(writer, bytes, segment, range);
            // Terminator of up to four zero bits, zero bits to the byte boundary, then pad codewords.
            const int used = static_cast<int>(writer.position() - out) * 8 + writer.pending();
            assert(used == segmentation.bits);
            writer.put(0, std::min(4, 8 * capacity_bytes - used));
            writer.finish();
            bool first_pad = true;
            for (std::uint8_t* p = writer.position(); p < out + capacity_bytes; ++p, first_pad = !first_pad) {
                *p = first_pad ? 0xEC : 0x11;
            }
            return v;
        }
    }
    return 0;
}

} // namespace

int data_codewords(int version, ErrorLevel level)
{
    assert(version >= min_version && version <= max_version);
    return tables()
        .data_codewords[static_cast<std::size_t>(version)][static_cast<std::size_t>(level_index(level))];
}

std::optional<DataCodewords> make_data_codewords(std::string_view data, ErrorLevel level, int version)
{
    DataCodewords result;
    result.codewords.resize(max_data_codewords);
    result.version = build_data_codewords(data, level, version, result.codewords.data());
    if (result.version == 0) return std::nullopt;
    result.codewords.resize(static_cast<std::size_t>(data_codewords(result.version, level)));
    return result;
}

std::optional<QrSymbol> encode_bytes(std::string_view data, ErrorLevel level, int version, int mask)
{
    assert(mask >= 0 && mask <= 7);
    std::uint8_t codewords[max_data_codewords];
    const int chosen = build_data_codewords(data, level, version, codewords);
    if (chosen == 0) return std::nullopt;
    return QrSymbol::from_data_codewords(
        chosen, level, {codewords, static_cast<std::size_t>(data_codewords(chosen, level))}, mask);
}

} // namespace vorsa::qr
