#pragma once
// UTF-8 and UTF-16: the one place where code points are taken apart and put together. Conversion to and
// from GBK is gbk.h's, which leaves the code points to these rules as well.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vorsa::runtime {

constexpr bool is_high_surrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool is_low_surrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Appends the UTF-8 bytes of `code` (at most U+10FFFF). A surrogate's value gives its three bytes, as a
// lone surrogate of damaged UTF-16 needs.
void append_utf8(std::string& out, char32_t code);

// One character of a UTF-8 text: its code point and the bytes it takes.
struct Utf8Char
{
    char32_t code = 0;
    std::size_t length = 0;
};

// Whether the three-byte forms of the surrogates U+D800 to U+DFFF count as characters: a text made from
// damaged UTF-16 holds them, well-formed UTF-8 does not.
enum class Surrogates
{
    refused,
    allowed
};

// The character whose sequence starts at byte `at` of `text`; nothing when no well-formed one starts
// there (a stray or missing continuation byte, an overlong form, a value above U+10FFFF, a surrogate
// unless allowed).
std::optional<Utf8Char> utf8_char_at(std::string_view text, std::size_t at,
                                     Surrogates surrogates = Surrogates::refused);

// UTF-16LE bytes as UTF-8. A surrogate without its partner is written as the three bytes its value
// gives, so that every sequence of units, however damaged, converts back to exactly itself; an odd last
// byte is no unit and left out.
std::string utf8_from_utf16le(std::string_view bytes);

// UTF-8 (surrogates allowed) as UTF-16LE bytes; a byte that starts no character becomes U+FFFD.
std::string utf16le_from_utf8(std::string_view text);

} // namespace vorsa::runtime
