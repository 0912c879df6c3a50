// Runs the number conversions and the GBK conversions on arbitrary bytes: no crash, no undefined
// behaviour, and the round trips that must hold for valid input.

#include "runtime/text/gbk.h"
#include "runtime/text/numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

using namespace vorsa::runtime;

void require(bool condition)
{
    if (!condition) std::abort();
}

constexpr std::string_view replacement_utf8 = "\xEF\xBF\xBD";

void check_numbers(std::string_view text)
{
    const double number = to_number(text);
    const std::int64_t wide = to_integer64(text);
    const std::int32_t narrow = to_integer(text);
    // The 32-bit reading is the 64-bit one saturated.
    require(narrow == std::clamp<std::int64_t>(wide, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()));
    // Both read the same sign (an exponent may shrink the real reading to zero).
    require(wide <= 0 || number >= 0);
    require(wide >= 0 || number <= 0);
    require(half_width_text(text).size() <= text.size());
    (void)to_integer(number);
    (void)floor_value(number);
}

void check_real(double value)
{
    const Text text = to_text(value);
    require(!text.empty());
    (void)to_integer(value);
    (void)floor_value(value);
    (void)int_divide(value, {3.0, value});
    if (std::isfinite(value) && std::fabs(value) < 1e15) {
        // Six decimals, rounded: reading the text back is off by at most half a millionth.
        require(std::fabs(to_number(text) - value) <= 0.5e-6 + std::fabs(value) * 1e-15 + 1e-12);
        require(text.back() != '.' && text != "-0");
        if (text.find('.') != Text::npos) require(text.back() != '0');
    }
}

void check_gbk(std::string_view bytes)
{
    // As GBK: decoding never fails; where nothing was replaced, encoding gives the bytes back.
    const std::string utf8 = utf8_from_gbk(bytes);
    const std::u16string utf16 = utf16_from_gbk(bytes);
    if (utf8.find(replacement_utf8) == std::string::npos) {
        require(gbk_from_utf8(utf8) == bytes);
        require(gbk_from_utf16(utf16) == bytes);
    }
    // As UTF-8: the result is always valid GBK, so decoding it replaces nothing.
    const Text gbk = gbk_from_utf8(bytes);
    require(utf8_from_gbk(gbk).find(replacement_utf8) == std::string::npos);
    // As UTF-16 (any code units, lone surrogates included): the same.
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    const Text from_units = gbk_from_utf16(units);
    require(from_units.size() <= units.size() * 2);
    require(utf8_from_gbk(from_units).find(replacement_utf8) == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check_numbers(bytes);
    check_gbk(bytes);
    if (size >= 8) {
        double value;
        std::memcpy(&value, data, sizeof value);
        check_real(value);
    }
    const auto min = size > 0 ? std::optional<std::int32_t>(static_cast<std::int8_t>(data[0])) : std::nullopt;
    const auto max =
        size > 1 ? std::optional<std::int32_t>(static_cast<std::int8_t>(data[1]) * 1000) : std::nullopt;
    const std::int32_t r = random_in_range(min, max);
    const std::int32_t low = std::max(min.value_or(0), 0);
    const std::int32_t high = max ? std::max(*max, 0) : std::numeric_limits<std::int32_t>::max();
    require(r >= std::min(low, high) && r <= std::max(low, high));
    return 0;
}
