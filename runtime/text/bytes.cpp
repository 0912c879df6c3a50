#include "runtime/text/bytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>

namespace vorsa::runtime {

namespace {

template <class Integer> Integer read_little_endian(const std::array<std::uint8_t, 8>& raw)
{
    std::make_unsigned_t<Integer> value = 0;
    for (std::size_t i = sizeof(Integer); i-- > 0;)
        value = static_cast<decltype(value)>((value << 8) | raw[i]);
    return static_cast<Integer>(value);
}

std::size_t size_of(ValueType type)
{
    switch (type) {
    case ValueType::byte:
        return 1;
    case ValueType::int16:
        return 2;
    case ValueType::int32:
    case ValueType::float32:
    case ValueType::truth:
    case ValueType::code_address:
        return 4;
    case ValueType::int64:
    case ValueType::float64:
    case ValueType::date_time:
        return 8;
    case ValueType::text:
        return 0;
    }
    assert(false && "unknown value type");
    return 0;
}

Value zero_of(ValueType type)
{
    switch (type) {
    case ValueType::float32:
    case ValueType::float64:
    case ValueType::date_time:
        return 0.0;
    case ValueType::truth:
        return false;
    case ValueType::text:
        return Text();
    default:
        return std::int64_t{0};
    }
}

} // namespace

Bytes blank_bytes(int n)
{
    return n < 1 ? Bytes() : Bytes(static_cast<std::size_t>(n), 0);
}

Bytes left_bytes(const Bytes& bytes, int n)
{
    if (n < 1) return Bytes();
    const auto length = std::min(bytes.size(), static_cast<std::size_t>(n));
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

int find_bytes(const Bytes& bytes, const Bytes& sought, int start)
{
    if (sought.empty() || sought.size() > bytes.size()) return -1;
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from > bytes.size() - sought.size()) return -1;
    const auto found = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                                   sought.begin(), sought.end());
    return found == bytes.end() ? -1 : static_cast<int>(found - bytes.begin()) + 1;
}

Value value_from_bytes(const Bytes& bytes, ValueType type, int position)
{
    if (position < 1 || static_cast<std::size_t>(position) > bytes.size()) return zero_of(type);
    const std::size_t from = static_cast<std::size_t>(position) - 1;

    if (type == ValueType::text) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
        return Text(begin, std::find(begin, bytes.end(), std::uint8_t{0}));
    }

    // Bytes beyond the end read as zeros.
    std::array<std::uint8_t, 8> raw{};
    const std::size_t available = std::min(size_of(type), bytes.size() - from);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), available, raw.begin());

    switch (type) {
    case ValueType::byte:
        return std::int64_t{raw[0]};
    case ValueType::int16:
        return std::int64_t{read_little_endian<std::int16_t>(raw)};
    case ValueType::int32:
        return std::int64_t{read_little_endian<std::int32_t>(raw)};
    case ValueType::int64:
        return read_little_endian<std::int64_t>(raw);
    case ValueType::float32:
        return double{std::bit_cast<float>(read_little_endian<std::uint32_t>(raw))};
    case ValueType::float64:
    case ValueType::date_time:
        return std::bit_cast<double>(read_little_endian<std::uint64_t>(raw));
    case ValueType::truth:
        return read_little_endian<std::int32_t>(raw) != 0;
    case ValueType::code_address:
        // An address is unsigned: zero-extended, never negative.
        return std::int64_t{read_little_endian<std::uint32_t>(raw)};
    case ValueType::text:
        break;
    }
    assert(false && "unknown value type");
    return std::int64_t{0};
}

} // namespace vorsa::runtime
