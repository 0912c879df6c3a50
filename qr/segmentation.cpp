#include "qr/segmentation.h"

#include "qr/qr_tables.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <limits>
#include <memory>

namespace vorsa::qr {

namespace {

constexpr int mode_count = 4;
constexpr int unreachable = std::numeric_limits<int>::max() / 2;

// clang-format off
constexpr int indicator_bits[mode_count][version_range_count] = {
    { 8, 16, 16}, // byte
    {10, 12, 14}, // numeric
    { 9, 11, 13}, // alphanumeric
    { 8, 10, 12}, // Kanji
};
// clang-format on

constexpr std::uint8_t numeric_class = 1;
constexpr std::uint8_t alphanumeric_class = 2;

// Alphanumeric value + 1 per byte, 0 for bytes outside the alphanumeric set.
constexpr std::array<std::uint8_t, 256> alphanumeric_codes = [] {
    std::array<std::uint8_t, 256> codes{};
    constexpr std::string_view set = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";
    for (std::size_t i = 0; i < set.size(); ++i)
        codes[static_cast<unsigned char>(set[i])] = std::uint8_t(i + 1);
    return codes;
}();

constexpr std::array<std::uint8_t, 256> classes = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        if (b >= '0' && b <= '9') table[std::size_t(b)] |= numeric_class;
        if (alphanumeric_codes[std::size_t(b)] != 0) table[std::size_t(b)] |= alphanumeric_class;
    }
    return table;
}();

// Kanji pairs by first byte: how many second bytes from 0x40 on complete a pair (0 when the byte never
// starts one).
constexpr std::array<std::uint8_t, 256> kanji_seconds = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0x81; b <= 0x9F; ++b)
        table[std::size_t(b)] = 0xC0;
    for (int b = 0xE0; b <= 0xEA; ++b)
        table[std::size_t(b)] = 0xC0;
    table[0xEB] = 0x80;
    return table;
}();

inline bool completes_kanji_pair(unsigned seconds, std::uint8_t second)
{
    return static_cast<unsigned>(second - 0x40) < seconds;
}

// The cheapest streams ending at one byte position, one per mode; unreachable modes cost `unreachable`.
// Each stream's last segment is described by its first byte and the mode of the segment before it.
struct Slot
{
    std::array<int, mode_count> cost;
    std::array<int, mode_count> count; // characters in the last segment
    std::array<int, mode_count> start;
    std::array<int, mode_count> before;
    bool bytes_only; // only byte mode reaches this position
};

// What the read-back needs of the stream that ends at a position in a mode.
struct LastSegment
{
    int start;
    int before;
};

// Bits of one more character after `count` characters of the same segment.
template <int Mode> inline int character_bits(int count)
{
    if constexpr (Mode == 1) return count % 3 == 0 ? 4 : 3;
    if constexpr (Mode == 2) return count % 2 == 0 ? 6 : 5;
    if constexpr (Mode == 3) return 13;
    return 8;
}

// The cheapest way to end a character of `Mode` at byte position `end` after the streams in `from`:
// continue the segment of that mode, or start a new one after any mode (after the same mode only when
// its segment is full). Among equal costs the lower previous mode wins.
template <int Mode>
inline void reach(const Slot& from, Slot& to, LastSegment* last, int end, int fresh, int limit)
{
    constexpr int first = Mode == 0 ? 1 : 0;
    int previous = first;
    int cost = from.cost[first];
    for (int m = first + 1; m < mode_count; ++m) {
        if (m != Mode && from.cost[std::size_t(m)] < cost) {
            cost = from.cost[std::size_t(m)];
            previous = m;
        }
    }
    cost += fresh;
    int count = 1;
    int start = end - (Mode == 3 ? 2 : 1);
    int before = previous;

    const int own_count = from.count[Mode];
    if (own_count < limit) {
        const int candidate = from.cost[Mode] + character_bits<Mode>(own_count);
        if (candidate < cost || (candidate == cost && Mode < previous)) {
            cost = candidate;
            count = own_count + 1;
            start = from.start[Mode];
            before = from.before[Mode];
        }
    } else if (const int candidate = from.cost[Mode] + fresh;
               candidate < cost || (candidate == cost && Mode < previous)) {
        cost = candidate;
        before = Mode;
    }
    to.cost[Mode] = cost;
    to.count[Mode] = count;
    to.start[Mode] = start;
    to.before[Mode] = before;
    last[Mode] = {start, before};
}

} // namespace

int count_indicator_bits(SegmentMode mode, int version_range)
{
    assert(version_range >= 0 && version_range < version_range_count);
    return indicator_bits[static_cast<int>(mode)][version_range];
}

bool is_numeric(std::uint8_t byte)
{
    return classes[byte] & numeric_class;
}
bool is_alphanumeric(std::uint8_t byte)
{
    return classes[byte] & alphanumeric_class;
}
int alphanumeric_value(std::uint8_t byte)
{
    assert(is_alphanumeric(byte));
    return alphanumeric_codes[byte] - 1;
}

bool is_kanji_pair(std::uint8_t first, std::uint8_t second)
{
    return completes_kanji_pair(kanji_seconds[first], second);
}

std::int64_t least_segment_bits(std::string_view data)
{
    // In sixths of a bit, by byte.
    static constexpr std::array<std::uint8_t, 256> least_sixths = [] {
        std::array<std::uint8_t, 256> table{};
        for (int b = 0; b < 256; ++b) {
            const std::uint8_t cls = classes[std::size_t(b)];
            table[std::size_t(b)] = cls & numeric_class        ? 20
                                    : cls & alphanumeric_class ? 33
                                    : b >= 0x40                ? 39
                                                               : 48;
        }
        return table;
    }();
    std::int64_t sixths = 0;
    for (const char c : data)
        sixths += least_sixths[static_cast<std::uint8_t>(c)];
    return sixths / 6;
}

Segmentation segment_bytes(std::string_view data, int version_range)
{
    assert(version_range >= 0 && version_range < version_range_count);
    Segmentation result;
    const int n = static_cast<int>(data.size());
    if (n == 0) return result;

    int fresh[mode_count], limit[mode_count];
    for (int m = 0; m < mode_count; ++m) {
        fresh[m] = 4 + indicator_bits[m][version_range];
        limit[m] =
            static_cast<int>(powers_of_two[static_cast<std::size_t>(indicator_bits[m][version_range])]) - 1;
    }
    fresh[0] += character_bits<0>(0);
    fresh[1] += character_bits<1>(0);
    fresh[2] += character_bits<2>(0);
    fresh[3] += character_bits<3>(0);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());

    // The streams that end two bytes back, one byte back and here. Before the first byte there is only
    // an empty stream, which every mode leaves by starting a segment.
    std::array<Slot, 3> slots{};
    Slot* two_back = &slots[0];
    Slot* one_back = &slots[1];
    Slot* here = &slots[2];
    one_back->cost = {0, unreachable, unreachable, unreachable};
    one_back->count = {limit[0], 0, 0, 0};
    const auto last_segments =
        std::make_unique_for_overwrite<LastSegment[]>(4 * (static_cast<std::size_t>(n) + 1));

    unsigned kanji_window = 0; // second bytes that complete a pair with the previous byte
    for (int j = 1; j <= n; ++j) {
        LastSegment* last = last_segments.get() + 4 * j;
        const std::uint8_t byte = bytes[j - 1];
        const std::uint8_t cls = classes[byte];

        const bool kanji = completes_kanji_pair(kanji_window, byte);
        if (cls == 0 && !kanji && one_back->bytes_only && one_back->count[0] < limit[0]) {
            // Inside a run of bytes that only byte mode can take: the one stream grows by a byte.
            here->cost = {one_back->cost[0] + 8, unreachable, unreachable, unreachable};
            here->count[0] = one_back->count[0] + 1;
            here->start[0] = one_back->start[0];
            here->before[0] = one_back->before[0];
            here->bytes_only = true;
            last[0] = {here->start[0], here->before[0]};
        } else {
            reach<0>(*one_back, *here, last, j, fresh[0], limit[0]);
            if (cls & numeric_class) {
                reach<1>(*one_back, *here, last, j, fresh[1], limit[1]);
            } else {
                here->cost[1] = unreachable;
            }
            if (cls & alphanumeric_class) {
                reach<2>(*one_back, *here, last, j, fresh[2], limit[2]);
            } else {
                here->cost[2] = unreachable;
            }
            if (kanji) {
                reach<3>(*two_back, *here, last, j, fresh[3], limit[3]);
            } else {
                here->cost[3] = unreachable;
            }
            here->bytes_only = cls == 0 && !kanji;
        }
        kanji_window = kanji_seconds[byte];
        Slot* const oldest = two_back;
        two_back = one_back;
        one_back = here;
        here = oldest;
    }

    const Slot& last = *one_back;
    int mode = 0;
    for (int m = 1; m < mode_count; ++m) {
        if (last.cost[static_cast<std::size_t>(m)] < last.cost[static_cast<std::size_t>(mode)]) mode = m;
    }
    result.bits = last.cost[static_cast<std::size_t>(mode)];

    // Read the segments back from the end.
    for (int j = n; j > 0;) {
        const LastSegment segment = last_segments[static_cast<std::size_t>(4 * j + mode)];
        result.segments.push_back({static_cast<SegmentMode>(mode), segment.start, j - segment.start});
        j = segment.start;
        mode = segment.before;
    }
    std::reverse(result.segments.begin(), result.segments.end());
    return result;
}

} // namespace vorsa::qr
