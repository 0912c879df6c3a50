#pragma once
// Number commands: conversions between texts and numbers with the receipt's rules, and the
// pseudo-random generator that draws receipt numbers.

#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace vorsa::runtime {

// A real number as "%lf" writes it (six decimals, rounded), then trailing zeros and a bare trailing
// point removed: 12.5 gives "12.5", 3.0 gives "3", 0.0000001 gives "0".
Text to_text(double value);
Text to_text(std::int64_t value);
inline Text to_text(int value)
{
    return to_text(static_cast<std::int64_t>(value));
}
// Truth values as "真" and "假" (GBK).
Text to_text(bool value);
// A byte array as its bytes.
Text to_text(const Bytes& value);

// Full-width forms (the full-width ASCII block 0xA3A1..0xA3FE and the ideographic blank 0xA1A1) mapped
// to their ASCII forms; everything else copied unchanged.
Text half_width_text(std::string_view text);

// The leading decimal number of the text after full-width mapping (white space, sign, digits, point,
// exponent); 0 when the text does not start with one.
double to_number(std::string_view text);

// The leading decimal integer of the text after full-width mapping (white space, sign, digits), so
// "12.9" gives 12; 0 without digits. Values beyond the range saturate.
std::int32_t to_integer(std::string_view text);
std::int64_t to_integer64(std::string_view text);
// A real number truncated toward zero, saturating at the range ends; NaN gives 0.
std::int32_t to_integer(double value);

// The largest integer not above the value (-2.5 gives -3).
std::int64_t floor_value(double value);
std::int32_t bit_or(std::initializer_list<std::int32_t> values);
std::int32_t bit_and(std::initializer_list<std::int32_t> values);
double abs_value(double value);
// The value divided by each divisor in turn, rounded down after every division.
double int_divide(double value, std::initializer_list<double> divisors);

// Milliseconds since the system started, wrapping at 2^32 like the platform's tick count.
std::uint32_t tick_count();

// Seeds the generator; without a seed, with tick_count().
void set_random_seed(std::optional<std::uint32_t> seed = std::nullopt);
// The generator's state in this thread: seeding with it goes on from here.
std::uint32_t random_generator_state();

// min + r mod (max - min + 1) for the generator's next r in 0..32767. Omitted or negative bounds
// become 0 (min) and 2147483647 or 0 (max); swapped bounds are put in order.
std::int32_t random_in_range(std::optional<std::int32_t> min = std::nullopt,
                             std::optional<std::int32_t> max = std::nullopt);

} // namespace vorsa::runtime
