// Reads and writes a setting in arbitrary file content and checks what must hold for any file: the
// value written is the value read back, writing it again changes nothing, and every other setting
// reads as it did before.

#include "runtime/settings/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace vorsa::runtime;

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

// Names the program uses, some differing only in case, two in GBK (打印, 店名) and one with a blank.
constexpr std::string_view sections[] = {"print", "PRINT", "ls", "pingpai", "\xB4\xF2\xD3\xA1", "a b"};
constexpr std::string_view keys[] = {"pplist", "PPList", "ls", "dm", "\xB5\xEA\xC3\xFB"};

// Case-insensitive comparison for the names above (their GBK trail bytes are no ASCII letters).
bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// What a reader sees of a written value: the text up to its first line break, without surrounding
// blanks, tabs, vertical tabs, form feeds and Ctrl-Z, without one pair of enclosing quotes.
std::string expected_read(std::string_view value)
{
    const std::size_t line_break = value.find_first_of("\r\n");
    if (line_break != std::string_view::npos) value = value.substr(0, line_break);
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; };
    while (!value.empty() && blank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && blank(value.back()))
        value.remove_suffix(1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const std::string_view section = sections[data[0] % std::size(sections)];
    const std::string_view key = keys[(data[0] >> 4) % std::size(keys)];
    const std::size_t value_size = std::min<std::size_t>(data[1], size - 2);
    const std::string_view value(reinterpret_cast<const char*>(data) + 2, value_size);
    const std::string_view content(reinterpret_cast<const char*>(data) + 2 + value_size,
                                   size - 2 - value_size);

    const Text written = profile_assign(content, section, key, value);
    require(profile_lookup(written, section, key) == expected_read(value), "value reads back");
    require(profile_assign(written, section, key, value) == written, "writing again changes nothing");

    for (const std::string_view other_section : sections) {
        for (const std::string_view other_key : keys) {
            if (same_name(other_section, section) && same_name(other_key, key)) continue;
            require(profile_lookup(written, other_section, other_key) ==
                        profile_lookup(content, other_section, other_key),
                    "other settings unchanged");
        }
    }
    return 0;
}
