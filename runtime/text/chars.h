#pragma once
// Byte rules shared by the text commands, the settings file and the HTTP client: which bytes make one
// double-byte GBK character, ASCII letter case, and the blanks around a text. Each rule lives here once.

#include <cstddef>
#include <string_view>

namespace vorsa::runtime {

// True for a byte that starts a double-byte GBK character: 0x81 to 0xFE. 0x80 is a character of its
// own (the euro sign of code page 936), and so is 0xFF.
constexpr bool is_lead_byte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

// True for a byte that can end a double-byte GBK character: 0x40 or above. Line breaks, blanks,
// digits, "=", quotes and "," lie below, so a stray lead byte never swallows one of them.
constexpr bool is_trail_byte(unsigned char byte)
{
    return byte >= 0x40;
}

// Bytes taken by the character that starts at byte `i`: two for a lead byte followed by a trail byte,
// else one (a lead byte cut off by the end of the text stands alone).
constexpr std::size_t gbk_char_length(std::string_view text, std::size_t i)
{
    return is_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                   is_trail_byte(static_cast<unsigned char>(text[i + 1]))
               ? 2
               : 1;
}

constexpr char to_lower_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char to_upper_ascii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Blank and tab: what surrounds a header field of HTTP.
inline constexpr std::string_view blank_and_tab = " \t";

// The text without the bytes of `blanks` at its start and end. Every blank set in use holds bytes below
// 0x40 only, which are never the second byte of a GBK character, so no character is ever cut.
constexpr std::string_view trim_blanks(std::string_view text, std::string_view blanks = blank_and_tab)
{
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace vorsa::runtime
