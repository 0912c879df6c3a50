// Runs the text commands on arbitrary bytes and checks what must hold for any input: results stay in
// range, matches begin at character boundaries, split parts join back to the text.

#include "runtime/text/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using namespace vorsa::runtime;

void require(bool condition)
{
    if (!condition) std::abort();
}

// Positions (0-based) where characters begin, counted from the start of the text.
std::vector<bool> boundaries(std::string_view text)
{
    std::vector<bool> starts(text.size() + 1, false);
    std::size_t i = 0;
    while (i < text.size()) {
        starts[i] = true;
        i += gbk_char_length(text, i);
    }
    starts[text.size()] = true;
    return starts;
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    return compare_text(a, b, false) == 0;
}

void check_find(std::string_view text, std::string_view sought, int start, bool ignore_case)
{
    const int found = find_text(text, sought, start, ignore_case);
    if (found == -1) {
        // Nothing may match exactly at a boundary at or after start.
        if (!ignore_case && !sought.empty()) {
            const std::vector<bool> starts = boundaries(text);
            const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
            for (std::size_t i = from; i + sought.size() <= text.size(); ++i)
                require(!(starts[i] && text.substr(i, sought.size()) == sought));
        }
        return;
    }
    require(!sought.empty());
    require(found >= 1 && found >= start);
    const auto at = static_cast<std::size_t>(found) - 1;
    require(at + sought.size() <= text.size());
    require(boundaries(text)[at]);
    const std::string_view match = text.substr(at, sought.size());
    require(ignore_case ? equal_ignoring_case(match, sought) : match == sought);
}

void check_split(std::string_view text, std::string_view separator, std::optional<int> max_parts)
{
    const TextList parts = split_text(text, separator, max_parts);
    if (max_parts) require(parts.size() <= static_cast<std::size_t>(std::max(*max_parts, 0)));
    if (text.empty() || (max_parts && *max_parts <= 0)) {
        require(parts.empty());
        return;
    }
    if (separator.empty()) {
        require(parts.size() == 1 && parts[0] == text);
        return;
    }
    Text joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) joined += separator;
        joined += parts[i];
    }
    // The parts and separators reproduce the start of the text.
    require(text.substr(0, joined.size()) == joined);
    if (!max_parts) {
        // Without a limit only a final separator can be left over.
        require(joined == text || Text(joined).append(separator) == text);
    }
}

void check_trim(std::string_view text)
{
    const Text trimmed = trim_trailing_blanks(text);
    require(text.substr(0, trimmed.size()) == trimmed);
    require(trim_trailing_blanks(trimmed) == trimmed);
    // What was removed is blanks only.
    const std::string_view removed = text.substr(trimmed.size());
    for (std::size_t i = 0; i < removed.size();) {
        if (removed[i] == ' ') {
            ++i;
        } else {
            require(removed.substr(i, 2) == "\xA1\xA1");
            i += 2;
        }
    }
}

void check_cases(std::string_view text)
{
    const Text upper = to_upper_text(text);
    const Text lower = to_lower_text(text);
    require(upper.size() == text.size() && lower.size() == text.size());
    require(to_lower_text(upper) == lower);
    require(compare_text(upper, lower, false) == 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) require(upper[i] == text[i] && lower[i] == text[i]);
    }
}

void check_cutting(std::string_view text, int start, int count, std::string_view replacement)
{
    const Text mid = mid_text(text, start, count);
    require(mid.size() <= static_cast<std::size_t>(std::max(count, 0)));
    if (!mid.empty()) require(text.substr(static_cast<std::size_t>(start) - 1, mid.size()) == mid);

    const Text left = left_text(text, count);
    const Text right = right_text(text, count);
    require(left.size() == right.size());
    require(text.substr(0, left.size()) == left);
    require(text.substr(text.size() - right.size()) == right);

    const Text replaced = replace_text(text, start, count, replacement);
    if (text.empty()) {
        require(replaced == replacement);
    } else if (start < 0 || start > static_cast<int>(text.size()) || count < 1) {
        require(replaced == text);
    } else {
        const std::size_t from = start == 0 ? 0 : static_cast<std::size_t>(start) - 1;
        require(replaced.substr(0, from) == text.substr(0, from));
        const std::size_t removed = std::min(text.size() - from, static_cast<std::size_t>(count));
        require(replaced.size() == text.size() - removed + replacement.size());
        require(replaced.substr(from, replacement.size()) == replacement);
        require(replaced.substr(from + replacement.size()) == text.substr(from + removed));
    }

    const int code = char_code_at(text, start);
    if (start >= 1 && start <= static_cast<int>(text.size()))
        require(code == static_cast<signed char>(text[static_cast<std::size_t>(start) - 1]));
    else
        require(code == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    // Header: separator length, start, count, flags; then the separator, then the text.
    const std::size_t separator_length = data[0] % 4;
    const int start = static_cast<int>(data[1]) - 8;
    const int count = static_cast<int>(data[2]) - 8;
    const std::uint8_t flags = data[3];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
    const std::string_view separator = rest.substr(0, std::min(separator_length, rest.size()));
    const std::string_view text = rest.substr(separator.size());

    const std::optional<int> max_parts = flags & 1 ? std::optional<int>(count) : std::nullopt;
    check_split(text, separator, max_parts);
    check_split(text, ",", std::nullopt);
    check_find(text, separator, start, flags & 2);
    check_find(text, text.substr(text.size() / 2, 3), start, flags & 2);
    check_trim(text);
    check_cases(text);
    check_cutting(text, start, count, separator);
    return 0;
}
