#include "runtime/text/unicode.h"

#include <cassert>

namespace vorsa::runtime {

void append_utf8(std::string& out, char32_t code)
{
    assert(code <= 0x10FFFF);
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::optional<Utf8Char> utf8_char_at(std::string_view text, std::size_t at, Surrogates surrogates)
{
    if (at >= text.size()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return Utf8Char{lead, 1};
    std::size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = is_high_surrogate(code) || is_low_surrogate(code);
    if (length == 3 && (code < 0x800 || (surrogate && surrogates == Surrogates::refused)))
        return std::nullopt;
    if (length == 4 && (code < 0x10000 || code > 0x10FFFF)) return std::nullopt;
    return Utf8Char{code, length};
}

std::string utf8_from_utf16le(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const auto unit_at = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t code = unit_at(i);
        if (is_high_surrogate(code) && i + 3 < bytes.size()) {
            const char32_t low = unit_at(i + 2);
            if (is_low_surrogate(low)) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        append_utf8(out, code);
    }
    return out;
}

std::string utf16le_from_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&](char32_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::optional<Utf8Char> character = utf8_char_at(text, i, Surrogates::allowed);
        if (!character) {
            put(0xFFFD);
            ++i;
            continue;
        }
        if (character->code >= 0x10000) {
            put(0xD800 + ((character->code - 0x10000) >> 10));
            put(0xDC00 + ((character->code - 0x10000) & 0x3FF));
        } else {
            put(character->code);
        }
        i += character->length;
    }
    return out;
}

} // namespace vorsa::runtime
