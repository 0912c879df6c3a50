#pragma once
// Byte-array commands. A byte array is a counted byte sequence; the empty array stands for an absent
// picture or download.

#include "runtime/text/text.h"

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

namespace vorsa::runtime {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}
inline Text text_of(const Bytes& bytes)
{
    return Text(bytes.begin(), bytes.end());
}

// n zero bytes; empty when n < 1.
Bytes blank_bytes(int n);

// A copy of n bytes at `address`; empty when n < 1 or the memory cannot be read.
Bytes bytes_from_memory(const void* address, int n);

// The first min(n, length) bytes; empty when n < 1.
Bytes left_bytes(const Bytes& bytes, int n);

// 1-based position of the first occurrence of `sought` at or after `start`, or -1.
int find_bytes(const Bytes& bytes, const Bytes& sought, int start = 1);

enum class ValueType
{
    byte = 1,
    int16 = 2,
    int32 = 3,
    int64 = 4,
    float32 = 5,
    float64 = 6,
    truth = 7,
    date_time = 8,
    code_address = 9,
    text = 10,
};

using Value = std::variant<std::int64_t, double, bool, Text>;

// Reads a little-endian value of the given type at the 1-based position; bytes past the end read as
// zeros, text reads up to the next zero byte, a position outside the array gives 0 of that type.
Value value_from_bytes(const Bytes& bytes, ValueType type, int position = 1);

template <class List> int member_count(const List& list)
{
    return static_cast<int>(list.size());
}

} // namespace vorsa::runtime
