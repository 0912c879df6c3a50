#include "runtime/text/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace vorsa::runtime {

namespace {

// Applies `change` to every single-byte character; both bytes of a double-byte character stay as they
// are, since a trail byte may look like an ASCII letter.
template <class Change> Text map_single_bytes(std::string_view text, Change change)
{
    Text result(text);
    for (std::size_t i = 0; i < result.size();) {
        const std::size_t length = gbk_char_length(text, i);
        if (length == 1) result[i] = change(result[i]);
        i += length;
    }
    return result;
}

Text fold_case(std::string_view text)
{
    return map_single_bytes(text, to_lower_ascii);
}

int sign_of(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int byte_length(std::string_view text)
{
    return static_cast<int>(text.size());
}

Text blank_text(int n)
{
    return n < 1 ? Text() : Text(static_cast<std::size_t>(n), ' ');
}

Text trim_trailing_blanks(std::string_view text)
{
    // Blanks are recognised only at character boundaries, which are known only from the start: the
    // bytes A1 A1 at the end may be the trail of one character and the lead of a cut-off one.
    std::size_t keep = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = gbk_char_length(text, i);
        const bool blank =
            (length == 1 && text[i] == ' ') || (length == 2 && text[i] == '\xA1' && text[i + 1] == '\xA1');
        i += length;
        if (!blank) keep = i;
    }
    return Text(text.substr(0, keep));
}

int find_text(std::string_view text, std::string_view sought, int start, bool ignore_case)
{
    if (text.empty() || sought.empty() || sought.size() > text.size()) return -1;
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size() || text.size() - from < sought.size()) return -1;

    Text folded_text;
    Text folded_sought;
    if (ignore_case) {
        folded_text = fold_case(text);
        folded_sought = fold_case(sought);
        text = folded_text;
        sought = folded_sought;
    }
    const std::size_t last = text.size() - sought.size();
    for (std::size_t i = 0; i <= last; i += gbk_char_length(text, i)) {
        if (i >= from && text.compare(i, sought.size(), sought) == 0) return static_cast<int>(i) + 1;
    }
    return -1;
}

Text mid_text(std::string_view text, int start, int count)
{
    if (start < 1 || count < 1 || static_cast<std::size_t>(start) > text.size()) return Text();
    return Text(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count)));
}

Text left_text(std::string_view text, int n)
{
    if (n < 1) return Text();
    return Text(text.substr(0, static_cast<std::size_t>(n)));
}

Text right_text(std::string_view text, int n)
{
    if (n < 1) return Text();
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(n));
    return Text(text.substr(text.size() - length));
}

Text replace_text(std::string_view text, int start, int count, std::string_view replacement)
{
    if (text.empty()) return Text(replacement);
    if (start == 0) start = 1;
    if (start < 0 || static_cast<std::size_t>(start) > text.size() || count < 1) return Text(text);
    const std::size_t from = static_cast<std::size_t>(start) - 1;
    const std::size_t removed = std::min(text.size() - from, static_cast<std::size_t>(count));
    Text result;
    result.reserve(text.size() - removed + replacement.size());
    result.append(text.substr(0, from));
    result.append(replacement);
    result.append(text.substr(from + removed));
    return result;
}

TextList split_text(std::string_view text, std::string_view separator, std::optional<int> max_parts)
{
    TextList parts;
    const std::size_t limit =
        max_parts ? static_cast<std::size_t>(std::max(*max_parts, 0)) : static_cast<std::size_t>(-1);
    if (text.empty() || limit == 0) return parts;
    if (separator.empty()) {
        parts.emplace_back(text);
        return parts;
    }
    std::size_t part_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, separator.size(), separator) == 0) {
            parts.emplace_back(text.substr(part_start, i - part_start));
            if (parts.size() == limit) return parts;
            i += separator.size();
            part_start = i;
        } else {
            i += gbk_char_length(text, i);
        }
    }
    if (part_start < text.size()) parts.emplace_back(text.substr(part_start));
    return parts;
}

Text to_upper_text(std::string_view text)
{
    return map_single_bytes(text, to_upper_ascii);
}

Text to_lower_text(std::string_view text)
{
    return map_single_bytes(text, to_lower_ascii);
}

int compare_text(std::string_view a, std::string_view b, bool case_sensitive)
{
    if (case_sensitive) return sign_of(a.compare(b));
    return sign_of(fold_case(a).compare(fold_case(b)));
}

Text char_from_code(int code)
{
    const char byte = static_cast<char>(static_cast<std::uint8_t>(code));
    return byte == '\0' ? Text() : Text(1, byte);
}

int char_code_at(std::string_view text, int position)
{
    if (position < 1 || static_cast<std::size_t>(position) > text.size()) return 0;
    return static_cast<std::int8_t>(text[static_cast<std::size_t>(position) - 1]);
}

Text hex_text(int value)
{
    char buffer[16];
    const int length = std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(value));
    return Text(buffer, static_cast<std::size_t>(length));
}

} // namespace vorsa::runtime
