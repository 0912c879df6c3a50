#include "runtime/settings/profile.h"

#include "runtime/settings/profile_file.h"
#include "runtime/text/chars.h"
#include "runtime/text/gbk.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace vorsa::runtime {

namespace {

// Around names and values the reader removes what the platform's profile functions remove: blanks,
// tabs, vertical tabs, form feeds and Ctrl-Z (the end-of-file mark old editors leave).
constexpr std::string_view profile_blanks = " \t\v\f\x1A";

constexpr bool is_line_break(char c)
{
    return c == '\r' || c == '\n';
}

// How the parser steps through the content: GBK pairs in a file of the code page, single bytes in a
// UTF-8 file, where every byte of a multi-byte character is 0x80 or above and so can be neither a
// bracket nor an ASCII letter.
using CharLength = std::size_t (*)(std::string_view, std::size_t);

std::size_t single_byte_length(std::string_view, std::size_t)
{
    return 1;
}

// Section and key names match ignoring ASCII case; the bytes of a double-byte character match exactly,
// so a trail byte that happens to be an ASCII letter is never folded.
bool names_equal(std::string_view a, std::string_view b, CharLength char_length)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t width = char_length(a, i);
        if (width == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (to_lower_ascii(a[i]) != to_lower_ascii(b[i])) {
            return false;
        }
        i += width;
    }
    return true;
}

struct Line
{
    std::size_t begin = 0; // first byte of the line
    std::size_t end = 0;   // end of its text, where the line break starts
    std::size_t next = 0;  // first byte after the line break
};

// Walks the content line by line; a line ends at CR LF, LF, a lone CR or the end of the content.
// The next CR and the next LF are each searched with memchr and remembered until passed, so the walk
// stays linear however the two are mixed.
class LineCursor
{
public:
    explicit LineCursor(std::string_view content) : m_content(content) {}

    bool at_end() const { return m_pos >= m_content.size(); }

    Line next()
    {
        Line line{m_pos, m_pos, m_pos};
        line.end = std::min(next_of('\r', m_next_cr), next_of('\n', m_next_lf));
        line.next = line.end;
        if (line.end < m_content.size()) {
            ++line.next;
            if (m_content[line.end] == '\r' && line.next < m_content.size() && m_content[line.next] == '\n')
                ++line.next;
        }
        m_pos = line.next;
        return line;
    }

private:
    // Position of the first `c` at or after the current line, or the content's size.
    std::size_t next_of(char c, std::size_t& cached)
    {
        if (cached < m_pos || cached == unknown) {
            const void* found = std::memchr(m_content.data() + m_pos, c, m_content.size() - m_pos);
            cached = found ? static_cast<std::size_t>(static_cast<const char*>(found) - m_content.data())
                           : m_content.size();
        }
        return cached;
    }

    static constexpr std::size_t unknown = static_cast<std::size_t>(-1);
    std::string_view m_content;
    std::size_t m_pos = 0;
    std::size_t m_next_cr = unknown;
    std::size_t m_next_lf = unknown;
};

enum class LineKind
{
    other,
    section,
    key
};

struct ParsedLine
{
    LineKind kind = LineKind::other;
    std::string_view name;      // section or key name, trimmed
    std::string_view raw_value; // everything after the "=" of a key line
};

ParsedLine parse_line(std::string_view text, CharLength char_length)
{
    text = text.substr(std::min(text.size(), text.find_first_not_of(profile_blanks)));
    if (!text.empty() && text.front() == '[') {
        // The name runs to the last "]" of the line; a "]" inside a double-byte character does not count.
        std::size_t close = std::string_view::npos;
        for (std::size_t i = 1; i < text.size(); i += char_length(text, i))
            if (text[i] == ']') close = i;
        if (close != std::string_view::npos)
            return {LineKind::section, trim_blanks(text.substr(1, close - 1), profile_blanks), {}};
    }
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos)
        return {LineKind::key, trim_blanks(text.substr(0, equals), profile_blanks), text.substr(equals + 1)};
    return {};
}

// Blanks around the value removed, then one pair of enclosing quotes.
std::string_view value_from_raw(std::string_view raw)
{
    std::string_view value = trim_blanks(raw, profile_blanks);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

bool is_blank_text(std::string_view text)
{
    return trim_blanks(text, profile_blanks).empty();
}

struct Location
{
    bool section_found = false;
    Line last_filled_line; // header or last non-blank line of the section
    bool key_found = false;
    Line key_line;
    ParsedLine key;
};

// One pass over the lines, up to the key in the first section of that name or the end of that section.
Location locate(std::string_view content, std::string_view section, std::string_view key,
                CharLength char_length)
{
    Location location;
    bool inside = false;
    for (LineCursor cursor(content); !cursor.at_end();) {
        const Line line = cursor.next();
        const std::string_view text = content.substr(line.begin, line.end - line.begin);
        const ParsedLine parsed = parse_line(text, char_length);
        if (parsed.kind == LineKind::section) {
            if (inside) break;
            if (names_equal(parsed.name, section, char_length)) {
                inside = true;
                location.section_found = true;
                location.last_filled_line = line;
            }
        } else if (inside) {
            if (parsed.kind == LineKind::key && names_equal(parsed.name, key, char_length)) {
                location.key_found = true;
                location.key_line = line;
                location.key = parsed;
                break;
            }
            if (!is_blank_text(text)) location.last_filled_line = line;
        }
    }
    return location;
}

std::optional<std::string_view> lookup_view(std::string_view content, std::string_view section,
                                            std::string_view key, CharLength char_length)
{
    const Location location = locate(content, section, key, char_length);
    if (!location.key_found) return std::nullopt;
    return value_from_raw(location.key.raw_value);
}

// Names the writer can put into a file so that the reader finds them again.
[[maybe_unused]] bool names_writable(std::string_view section, std::string_view key)
{
    const std::string section_line = "[" + std::string(section) + "]";
    const ParsedLine parsed_section = parse_line(section_line, gbk_char_length);
    const std::string key_line = std::string(key) + "=";
    const ParsedLine parsed_key = parse_line(key_line, gbk_char_length);
    return section.find_first_of("\r\n") == std::string_view::npos &&
           key.find_first_of("\r\n") == std::string_view::npos && parsed_section.kind == LineKind::section &&
           parsed_section.name == section && parsed_key.kind == LineKind::key && parsed_key.name == key;
}

// ---- encodings ----

// A file the platform's profile functions take for Unicode starts with a byte-order mark; one without
// is in the code page. The parser works on the code page's bytes, or on UTF-8 for a Unicode file.
enum class Encoding
{
    gbk,
    utf8_bom,
    utf16le_bom
};

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_bom = "\xFF\xFE";

struct Decoded
{
    Encoding encoding = Encoding::gbk;
    std::string content;  // GBK, or UTF-8 for a Unicode file
    std::string odd_byte; // a UTF-16 file's last byte when its length is odd, kept as it was
};

Decoded decode(std::string bytes)
{
    Decoded decoded;
    if (bytes.starts_with(utf16le_bom)) {
        decoded.encoding = Encoding::utf16le_bom;
        const std::string_view units = std::string_view(bytes).substr(utf16le_bom.size());
        decoded.content = utf8_from_utf16le(units);
        if (units.size() % 2) decoded.odd_byte = units.substr(units.size() - 1);
    } else if (bytes.starts_with(utf8_bom)) {
        decoded.encoding = Encoding::utf8_bom;
        decoded.content = bytes.substr(utf8_bom.size());
    } else {
        decoded.content = std::move(bytes);
    }
    return decoded;
}

std::string encode(const Decoded& decoded, std::string_view content)
{
    switch (decoded.encoding) {
    case Encoding::utf8_bom:
        return std::string(utf8_bom) + std::string(content);
    case Encoding::utf16le_bom:
        return std::string(utf16le_bom) + utf16le_from_utf8(content) + decoded.odd_byte;
    case Encoding::gbk:
        break;
    }
    return std::string(content);
}

// A GBK text as the parser of the file's encoding sees it.
std::string in_encoding_of(const Decoded& decoded, std::string_view gbk)
{
    return decoded.encoding == Encoding::gbk ? std::string(gbk) : utf8_from_gbk(gbk);
}

CharLength char_length_of(const Decoded& decoded)
{
    return decoded.encoding == Encoding::gbk ? gbk_char_length : single_byte_length;
}

std::optional<Text> lookup_decoded(const Decoded& decoded, std::string_view section, std::string_view key)
{
    const auto value = lookup_view(decoded.content, in_encoding_of(decoded, section),
                                   in_encoding_of(decoded, key), char_length_of(decoded));
    if (!value) return std::nullopt;
    return decoded.encoding == Encoding::gbk ? Text(*value) : gbk_from_utf8(*value);
}

} // namespace

std::optional<Text> profile_lookup(std::string_view content, std::string_view section, std::string_view key)
{
    const auto value = lookup_view(content, section, key, gbk_char_length);
    if (!value) return std::nullopt;
    return Text(*value);
}

namespace {

Text assign(std::string_view content, std::string_view section, std::string_view key, std::string_view value,
            CharLength char_length)
{
    value = value.substr(0, std::min(value.size(), value.find_first_of("\r\n")));
    const Location location = locate(content, section, key, char_length);

    Text result;
    result.reserve(content.size() + section.size() + key.size() + value.size() + 8);
    if (location.key_found) {
        // The key keeps its spelling and its line end; only the text of the line changes.
        const Line& line = location.key_line;
        result.append(content.substr(0, line.begin));
        result.append(location.key.name);
        result.push_back('=');
        result.append(value);
        result.append(content.substr(line.end));
    } else if (location.section_found) {
        // After the section's last non-blank line, so blank lines before the next section stay there.
        const Line& line = location.last_filled_line;
        result.append(content.substr(0, line.next));
        if (line.next == line.end) result.append("\r\n");
        result.append(key);
        result.push_back('=');
        result.append(value);
        result.append("\r\n");
        result.append(content.substr(line.next));
    } else {
        result.append(content);
        if (!content.empty() && !is_line_break(content.back())) result.append("\r\n");
        result.push_back('[');
        result.append(section);
        result.append("]\r\n");
        result.append(key);
        result.push_back('=');
        result.append(value);
        result.append("\r\n");
    }
    return result;
}

} // namespace

Text profile_assign(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value)
{
    assert(names_writable(section, key));
    return assign(content, section, key, value, gbk_char_length);
}

std::optional<Text> profile_read(const std::string& path, std::string_view section, std::string_view key)
{
    std::string bytes;
    if (read_profile_file(path, bytes) != ProfileFileRead::ok) return std::nullopt;
    return lookup_decoded(decode(std::move(bytes)), section, key);
}

int profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback, char* buffer, int size)
{
    if (size <= 0) return 0;
    assert(buffer != nullptr);
    const std::optional<Text> value = profile_read(path, section, key);
    const std::string_view result = value ? std::string_view(*value) : fallback;
    const std::size_t count = std::min(result.size(), static_cast<std::size_t>(size) - 1);
    if (count > 0) std::memcpy(buffer, result.data(), count); // an empty view may hold no pointer
    buffer[count] = '\0';
    return static_cast<int>(count);
}

bool profile_write_string(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value)
{
    const ProfileAssignment assignment{section, key, value};
    return profile_write_strings(path, {&assignment, 1});
}

bool profile_write_strings(const std::string& path, std::span<const ProfileAssignment> assignments)
{
    if (assignments.empty()) return true;
    for ([[maybe_unused]] const ProfileAssignment& assignment : assignments)
        assert(names_writable(assignment.section, assignment.key));
    return update_profile_file(
        path, [&](const std::string& bytes, bool created) -> std::optional<std::string> {
            const Decoded decoded = decode(bytes);
            Text updated = decoded.content;
            for (const ProfileAssignment& assignment : assignments)
                updated = assign(updated, in_encoding_of(decoded, assignment.section),
                                 in_encoding_of(decoded, assignment.key),
                                 in_encoding_of(decoded, assignment.value), char_length_of(decoded));
            // A value the file holds already needs no rewrite: the synced replace costs two disk flushes,
            // and every press of the print button saves values that rarely change.
            if (updated == decoded.content && !created) return std::nullopt;
            return encode(decoded, updated);
        });
}

} // namespace vorsa::runtime
