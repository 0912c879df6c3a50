#pragma once
// Splitting bytes into numeric, alphanumeric, byte and Kanji segments so that the bit stream is as
// short as possible for one range of versions (the ranges share character-count indicator lengths).

#include <cassert>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vorsa::qr {

// In the order that breaks ties between equally short streams.
enum class SegmentMode : std::uint8_t
{
    byte = 0,
    numeric = 1,
    alphanumeric = 2,
    kanji = 3
};

struct Segment
{
    SegmentMode mode;
    int start;  // first byte
    int length; // bytes covered; a Kanji character covers two
    int characters() const { return mode == SegmentMode::kanji ? length / 2 : length; }
};

struct Segmentation
{
    std::vector<Segment> segments;
    int bits = 0; // mode indicators, count indicators and data of all segments
};

// Range of a version: 0 for 1-9, 1 for 10-26, 2 for 27-40.
int count_indicator_bits(SegmentMode mode, int version_range);

bool is_numeric(std::uint8_t byte);
bool is_alphanumeric(std::uint8_t byte); // digits, A-Z, blank and $ % * + - . / :
int alphanumeric_value(std::uint8_t byte);

// A byte pair written in Kanji mode: first byte 0x81-0x9F or 0xE0-0xEA with a second byte of 0x40 or
// above, or first byte 0xEB with a second byte in 0x40-0xBF. Every such pair has a 13-bit value
// (first - 0x81, or - 0xC1 from 0xE0 on) * 0xC0 + (second - 0x40) that a reader maps back to it.
bool is_kanji_pair(std::uint8_t first, std::uint8_t second);
inline int kanji_value(std::uint8_t first, std::uint8_t second)
{
    assert(is_kanji_pair(first, second));
    return (first - (first >= 0xE0 ? 0xC1 : 0x81)) * 0xC0 + (second - 0x40);
}

// A bound at or below segment_bytes(data, range).bits for every range, from one pass over the bytes:
// a digit costs at least 10/3 bits, an alphanumeric character 11/2, a byte that may belong to a Kanji
// pair 13/2 and any other byte 8.
std::int64_t least_segment_bits(std::string_view data);

// The shortest segmentation of `data` for the version range: per byte position and mode the cheapest
// stream ending there, ties going to the earlier mode; segments end at mode changes and at the longest
// count a segment's indicator holds.
Segmentation segment_bytes(std::string_view data, int version_range);

} // namespace vorsa::qr
