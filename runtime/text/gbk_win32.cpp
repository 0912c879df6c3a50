// GBK conversion on Windows, through the system's code page 936, named explicitly: the process's own
// ANSI code page (CP_ACP) is whatever the user's locale says. The results are byte for byte those of
// the iconv converter of the Linux build (gbk_iconv.cpp):
//  - the code page table maps the user-defined areas (AAA1-AFFE, F8A1-FEFE, A140-A7A0) to the private
//    use area U+E000-U+E765 and, on some systems, the lone byte FF to U+F8F5; GBK as iconv knows it has
//    neither, so the private use area counts as outside the code page in both directions;
//  - an invalid or cut-off character becomes one U+FFFD per byte, and decoding goes on with the next
//    byte, so a valid character right after a stray lead byte survives;
//  - a character GBK cannot hold becomes one "?", also when it is a surrogate pair; so does a lone
//    surrogate, and each byte of malformed UTF-8.

#include "runtime/text/gbk.h"

#include <cstdint>
#include <windows.h>

namespace vorsa::runtime {

namespace {

constexpr UINT gbk_code_page = 936;
constexpr char16_t replacement_character = 0xFFFD;

bool is_private_use(char16_t unit)
{
    return unit >= 0xE000 && unit <= 0xF8FF;
}
bool is_high_surrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

const wchar_t* wide(const char16_t* units)
{
    return reinterpret_cast<const wchar_t*>(units);
}

// The whole of `gbk` as UTF-16 when every byte belongs to a character of the code page.
bool decode_strictly(std::string_view gbk, std::u16string& out)
{
    const int size = static_cast<int>(gbk.size());
    const int length = MultiByteToWideChar(gbk_code_page, MB_ERR_INVALID_CHARS, gbk.data(), size, nullptr, 0);
    if (length <= 0) return false;
    out.resize(static_cast<std::size_t>(length));
    if (MultiByteToWideChar(gbk_code_page, MB_ERR_INVALID_CHARS, gbk.data(), size,
                            reinterpret_cast<wchar_t*>(out.data()), length) != length)
        return false;
    for (const char16_t unit : out)
        if (is_private_use(unit)) return false;
    return true;
}

// The character of one or two bytes, or nothing when the code page has none.
bool decode_character(const char* bytes, int size, char16_t& unit)
{
    wchar_t result[2];
    if (MultiByteToWideChar(gbk_code_page, MB_ERR_INVALID_CHARS, bytes, size, result, 2) != 1) return false;
    unit = static_cast<char16_t>(result[0]);
    return !is_private_use(unit);
}

// `utf16` in the code page when it holds only characters of it.
bool encode_strictly(std::u16string_view utf16, Text& out)
{
    for (const char16_t unit : utf16)
        if (is_private_use(unit) || is_high_surrogate(unit) || is_low_surrogate(unit)) return false;
    const int size = static_cast<int>(utf16.size());
    BOOL defaulted = FALSE;
    const int length = WideCharToMultiByte(gbk_code_page, WC_NO_BEST_FIT_CHARS, wide(utf16.data()), size,
                                           nullptr, 0, nullptr, &defaulted);
    if (length <= 0 || defaulted) return false;
    out.resize(static_cast<std::size_t>(length));
    return WideCharToMultiByte(gbk_code_page, WC_NO_BEST_FIT_CHARS, wide(utf16.data()), size, out.data(),
                               length, nullptr, &defaulted) == length &&
           !defaulted;
}

// Appends one UTF-16 code unit in the code page, or "?" when it has none.
void encode_unit(char16_t unit, Text& out)
{
    char bytes[4];
    BOOL defaulted = FALSE;
    const wchar_t in = static_cast<wchar_t>(unit);
    const int length = is_private_use(unit) ? 0
                                            : WideCharToMultiByte(gbk_code_page, WC_NO_BEST_FIT_CHARS, &in, 1,
                                                                  bytes, sizeof bytes, nullptr, &defaulted);
    if (length <= 0 || defaulted)
        out.push_back('?');
    else
        out.append(bytes, static_cast<std::size_t>(length));
}

void append_gbk(std::u16string_view utf16, Text& out)
{
    Text whole;
    if (encode_strictly(utf16, whole)) {
        out += whole;
        return;
    }
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            // Outside the code page in any case: a pair is one character, one mark.
            if (is_high_surrogate(unit) && i + 1 < utf16.size() && is_low_surrogate(utf16[i + 1])) ++i;
            out.push_back('?');
            continue;
        }
        encode_unit(unit, out);
    }
}

// The code point of the well-formed UTF-8 sequence at the start of `s` and its length, or length 0
// when it is not one (overlong forms, surrogates and values above U+10FFFF are not well-formed).
std::size_t decode_utf8(const unsigned char* s, std::size_t left, std::uint32_t& value)
{
    const unsigned char b = s[0];
    std::size_t length;
    if (b < 0x80) {
        value = b;
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        value = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        value = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        value = b & 0x07u;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (s[i] & 0x3Fu);
    }
    if (length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) return 0;
    if (length == 4 && (value < 0x10000 || value > 0x10FFFF)) return 0;
    return length;
}

} // namespace

Text gbk_from_utf16(std::u16string_view utf16)
{
    Text out;
    out.reserve(utf16.size() * 2);
    append_gbk(utf16, out);
    return out;
}

std::u16string utf16_from_gbk(std::string_view gbk)
{
    std::u16string out;
    if (gbk.empty() || decode_strictly(gbk, out)) return out;
    out.clear();
    out.reserve(gbk.size());
    for (std::size_t i = 0; i < gbk.size();) {
        const auto byte = static_cast<unsigned char>(gbk[i]);
        char16_t unit = 0;
        if (byte < 0x80) {
            out.push_back(byte);
            ++i;
        } else if (i + 1 < gbk.size() && decode_character(gbk.data() + i, 2, unit)) {
            out.push_back(unit);
            i += 2;
        } else {
            // A single byte of the code page (the euro sign 80), or a bad byte: then one replacement,
            // and the next byte is looked at afresh.
            out.push_back(byte == 0x80 && decode_character(gbk.data() + i, 1, unit) ? unit
                                                                                    : replacement_character);
            ++i;
        }
    }
    return out;
}

Text gbk_from_utf8(std::string_view utf8)
{
    Text out;
    out.reserve(utf8.size());
    std::u16string pending; // well-formed characters not yet converted
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t value = 0;
        const std::size_t length = decode_utf8(bytes + i, utf8.size() - i, value);
        if (length == 0) {
            append_gbk(pending, out);
            pending.clear();
            out.push_back('?');
            ++i;
            continue;
        }
        if (value >= 0x10000) {
            pending.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
            pending.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        } else {
            pending.push_back(static_cast<char16_t>(value));
        }
        i += length;
    }
    append_gbk(pending, out);
    return out;
}

std::string utf8_from_gbk(std::string_view gbk)
{
    // Decoded GBK holds characters of the basic plane and U+FFFD only, never a surrogate, so the
    // system's UTF-8 encoder takes it as it is.
    const std::u16string utf16 = utf16_from_gbk(gbk);
    std::string out;
    if (utf16.empty()) return out;
    const int size = static_cast<int>(utf16.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide(utf16.data()), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return out;
    out.resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, wide(utf16.data()), size, out.data(), length, nullptr, nullptr);
    return out;
}

} // namespace vorsa::runtime
