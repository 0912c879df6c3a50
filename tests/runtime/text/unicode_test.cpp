#include "runtime/text/unicode.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace vorsa::runtime {
namespace {

// The bytes of UTF-16LE code units.
std::string utf16le(const std::vector<char16_t>& units)
{
    std::string bytes;
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

TEST(UnicodeTest, Utf8CharactersAreTakenWholeOrNotAtAll)
{
    struct Case
    {
        const char* what;
        std::string text;
        Surrogates surrogates;
        std::optional<char32_t> code; // none: no character starts there
        std::size_t length = 0;
    };
    const std::vector<Case> cases = {
        {"ASCII", "a", Surrogates::refused, U'a', 1},
        {"two bytes", "\xC3\xBC", Surrogates::refused, U'\u00FC', 2},
        {"three bytes", "\xE5\xB0\x8F", Surrogates::refused, U'\u5C0F', 3},
        {"four bytes", "\xF0\x9F\x98\x80", Surrogates::refused, U'\U0001F600', 4},
        {"the last character", "\xF4\x8F\xBF\xBF", Surrogates::refused, U'\U0010FFFF', 4},
        {"only the first character counts",
         "\xC3\xBC"
         "b",
         Surrogates::refused, U'\u00FC', 2},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", Surrogates::refused, std::nullopt},
        {"overlong two bytes", "\xC0\xAF", Surrogates::refused, std::nullopt},
        {"overlong three bytes", "\xE0\x80\xAF", Surrogates::refused, std::nullopt},
        {"overlong four bytes", "\xF0\x80\x80\xAF", Surrogates::refused, std::nullopt},
        {"a surrogate refused", "\xED\xA0\x80", Surrogates::refused, std::nullopt},
        {"a surrogate allowed", "\xED\xA0\x80", Surrogates::allowed, char32_t{0xD800}, 3},
        {"a continuation byte alone", "\x80", Surrogates::refused, std::nullopt},
        {"cut off by the end", "\xE5\xB0", Surrogates::refused, std::nullopt},
        {"a continuation byte missing",
         "\xE5"
         "a\x8F",
         Surrogates::refused, std::nullopt},
        {"no lead byte is 0xFF", "\xFF", Surrogates::allowed, std::nullopt},
        {"empty", "", Surrogates::refused, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Utf8Char> character = utf8_char_at(c.text, 0, c.surrogates);
        ASSERT_EQ(character.has_value(), c.code.has_value());
        if (!character) continue;
        EXPECT_EQ(character->code, *c.code);
        EXPECT_EQ(character->length, c.length);
        std::string written;
        append_utf8(written, character->code);
        EXPECT_EQ(written, c.text.substr(0, c.length));
    }
}

// A UTF-16 settings file goes through UTF-8 and back when a key is written: every sequence of units,
// however damaged, comes back as it was.
TEST(UnicodeTest, Utf16GoesThroughUtf8AndBackUnchanged)
{
    struct Case
    {
        const char* what;
        std::vector<char16_t> units;
        std::string utf8;
    };
    const std::vector<Case> cases = {
        {"plain", {u'y', u'=', 0x738B}, "y=\xE7\x8E\x8B"},
        {"a pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {"a high surrogate alone",
         {u'a', 0xD800, u'b'},
         "a\xED\xA0\x80"
         "b"},
        {"a high surrogate at the end", {u'a', 0xDBFF}, "a\xED\xAF\xBF"},
        {"a low surrogate alone",
         {0xDC00, u'b'},
         "\xED\xB0\x80"
         "b"},
        {"a pair the wrong way round", {0xDE00, 0xD83D}, "\xED\xB8\x80\xED\xA0\xBD"},
        {"a zero unit", {u'a', 0, u'b'}, std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = utf16le(c.units);
        EXPECT_EQ(utf8_from_utf16le(bytes), c.utf8);
        EXPECT_EQ(utf16le_from_utf8(c.utf8), bytes);
    }
    // An odd last byte is no unit; a byte that starts no character becomes U+FFFD.
    EXPECT_EQ(utf8_from_utf16le(utf16le({u'a'}) + "\x41"), "a");
    EXPECT_EQ(utf16le_from_utf8("a\x80"
                                "b"),
              utf16le({u'a', 0xFFFD, u'b'}));
    EXPECT_EQ(utf16le_from_utf8("\xC0\xAF"), utf16le({0xFFFD, 0xFFFD}));
}

} // namespace
} // namespace vorsa::runtime
