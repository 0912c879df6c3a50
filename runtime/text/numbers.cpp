#include "runtime/text/numbers.h"

#include "runtime/text/gbk.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace vorsa::runtime {

namespace {

using namespace literals;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// White space as the C library's isspace in the "C" locale, without asking the process locale.
bool is_white_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Skips white space and a sign; returns whether the number is negative.
bool read_sign(std::string_view text, std::size_t& i)
{
    while (i < text.size() && is_white_space(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return text[i++] == '-';
    return false;
}

// The leading decimal integer, clamped to [lowest, highest]; 0 without digits.
template <class Integer> Integer read_integer(std::string_view raw)
{
    const Text text = half_width_text(raw);
    std::size_t i = 0;
    const bool negative = read_sign(text, i);
    // Accumulated as a negative number, whose range is the wider one.
    constexpr Integer lowest = std::numeric_limits<Integer>::min();
    constexpr Integer highest = std::numeric_limits<Integer>::max();
    Integer value = 0;
    bool saturated = false;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        const Integer digit = static_cast<Integer>(text[i] - '0');
        if (value < (lowest + digit) / 10) {
            saturated = true;
            continue;
        }
        value = static_cast<Integer>(value * 10 - digit);
    }
    if (negative) return saturated ? lowest : value;
    if (saturated || value < -highest) return highest;
    return static_cast<Integer>(-value);
}

std::uint32_t& random_state()
{
    // The generator's state belongs to the calling thread; an unseeded generator starts from 1.
    thread_local std::uint32_t state = 1;
    return state;
}

} // namespace

Text to_text(double value)
{
    // Fixed notation with six decimals, as "%lf" writes it in the "C" locale; to_chars rounds the same
    // way but never uses the process locale's decimal comma.
    char buffer[400];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (error != std::errc()) return Text();
    Text text(buffer, end);
    if (text.find('.') != Text::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

Text to_text(std::int64_t value)
{
    char buffer[24];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Text(buffer, end);
}

Text to_text(bool value)
{
    return value ? "真"_gbk : "假"_gbk;
}

Text to_text(const Bytes& value)
{
    // A text ends at its first zero byte.
    const auto end = std::find(value.begin(), value.end(), std::uint8_t{0});
    return Text(value.begin(), end);
}

Text half_width_text(std::string_view text)
{
    Text result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (!is_lead_byte(lead) || i + 1 >= text.size()) {
            result.push_back(text[i]);
            ++i;
            continue;
        }
        const auto trail = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE && trail != 0xA4) {
            // The full-width ASCII block; A3 A4 is the full-width yen sign, which has no ASCII form.
            result.push_back(static_cast<char>(trail - 0x80));
        } else if (lead == 0xA1 && trail == 0xA1) {
            result.push_back(' ');
        } else {
            result.append(text.substr(i, 2));
        }
        i += 2;
    }
    return result;
}

double to_number(std::string_view raw)
{
    const Text text = half_width_text(raw);
    std::size_t i = 0;
    const bool negative = read_sign(text, i);

    const std::size_t begin = i;
    std::size_t digits = 0;
    // Decimal exponent of the first significant digit, counted to tell overflow from underflow.
    long long magnitude = 0;
    bool significant = false;
    bool after_point = false;
    for (; i < text.size(); ++i) {
        if (is_digit(text[i])) {
            ++digits;
            if (!significant && text[i] != '0') significant = true;
            if (!after_point && significant) ++magnitude;
            if (after_point && !significant) --magnitude;
        } else if (text[i] == '.' && !after_point) {
            after_point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return 0.0;

    // An exponent counts only when digits follow its sign.
    std::size_t end = i;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool exponent_negative = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent_negative = text[j++] == '-';
        if (j < text.size() && is_digit(text[j])) {
            for (; j < text.size() && is_digit(text[j]); ++j) {
                if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[j] - '0');
            }
            if (exponent_negative) exponent = -exponent;
            end = j;
        }
    }

    double value = 0.0;
    const auto result = std::from_chars(text.data() + begin, text.data() + end, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = significant && magnitude + exponent > 0 ? HUGE_VAL : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::int32_t to_integer(std::string_view text)
{
    return read_integer<std::int32_t>(text);
}

std::int64_t to_integer64(std::string_view text)
{
    return read_integer<std::int64_t>(text);
}

std::int32_t to_integer(double value)
{
    if (std::isnan(value)) return 0;
    if (value <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    if (value >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

std::int64_t floor_value(double value)
{
    if (std::isnan(value)) return 0;
    const double floored = std::floor(value);
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (floored >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (floored <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(floored);
}

std::int32_t bit_or(std::initializer_list<std::int32_t> values)
{
    std::int32_t result = 0;
    for (const std::int32_t value : values)
        result |= value;
    return result;
}

std::int32_t bit_and(std::initializer_list<std::int32_t> values)
{
    // No arguments give 0, like bit_or, rather than all bits set.
    if (values.size() == 0) return 0;
    std::int32_t result = -1;
    for (const std::int32_t value : values)
        result &= value;
    return result;
}

double abs_value(double value)
{
    return std::fabs(value);
}

double int_divide(double value, std::initializer_list<double> divisors)
{
    for (const double divisor : divisors)
        value = std::floor(value / divisor);
    return value;
}

void set_random_seed(std::optional<std::uint32_t> seed)
{
    random_state() = seed ? *seed : tick_count();
}

std::uint32_t random_generator_state()
{
    return random_state();
}

std::int32_t random_in_range(std::optional<std::int32_t> min, std::optional<std::int32_t> max)
{
    constexpr std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    std::int32_t low = !min || *min < 0 ? 0 : *min;
    std::int32_t high = !max ? largest : (*max < 0 ? 0 : *max);
    if (low > high) std::swap(low, high);
    if (low == high) return low;

    std::uint32_t& state = random_state();
    state = state * 214013u + 2531011u;
    const std::int64_t r = (state >> 16) & 0x7FFF;

    std::int64_t span = static_cast<std::int64_t>(high) - low + 1;
    if (span > largest) span = largest - 1;
    return static_cast<std::int32_t>(low + r % span);
}

} // namespace vorsa::runtime
