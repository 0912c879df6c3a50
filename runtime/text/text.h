#pragma once
// Text commands. A text is a byte string in the GBK code page (Windows code page 936): lengths and
// positions count bytes, positions are 1-based, and a byte of 0x81 to 0xFE followed by one of 0x40 or
// above is one double-byte character (runtime/text/chars.h) that searching and splitting never cut; 0x80 is
// the single-byte euro sign. The empty text and a missing text are the same.
// Every command returns a new value and leaves its arguments alone.

#include "runtime/text/chars.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsa::runtime {

using Text = std::string;
using TextList = std::vector<Text>;

int byte_length(std::string_view text);

// n blanks; n < 1 gives the empty text.
Text blank_text(int n);

// Removes blanks (0x20) and full-width blanks (0xA1 0xA1) from the end.
Text trim_trailing_blanks(std::string_view text);

// 1-based byte position of the first occurrence of `sought` at or after `start` (values below 1 count as
// 1), or -1. A match never begins on the second byte of a double-byte character. Ignoring case folds
// ASCII letters only. -1 when either text is empty or `sought` cannot fit from `start` on.
int find_text(std::string_view text, std::string_view sought, int start = 1, bool ignore_case = false);

// `count` bytes from position `start`, clipped at the end; empty when start < 1, start is beyond the
// end or count < 1.
Text mid_text(std::string_view text, int start, int count);
Text left_text(std::string_view text, int n);
Text right_text(std::string_view text, int n);

// The text with `count` bytes from `start` replaced by `replacement`. Start 0 counts as 1; a count
// running past the end replaces everything from start on; unchanged when start is negative or beyond
// the end, or count < 1; an empty text gives the replacement.
Text replace_text(std::string_view text, int start, int count, std::string_view replacement = {});

// Cuts the text at every occurrence of the separator. Empty parts at the start and in the middle are
// kept, an empty part after a final separator is dropped: "a,,b" gives a, "", b; "a,b," gives a, b.
// An empty text or max_parts <= 0 gives no parts; an empty separator gives the whole text.
// When max_parts is reached the rest of the text is dropped.
TextList split_text(std::string_view text, std::string_view separator = ",",
                    std::optional<int> max_parts = std::nullopt);

// ASCII letters changed; double-byte characters copied unchanged.
Text to_upper_text(std::string_view text);
Text to_lower_text(std::string_view text);

// -1, 0 or 1: byte order when case-sensitive, ASCII letters folded otherwise.
int compare_text(std::string_view a, std::string_view b, bool case_sensitive);

// A one-byte text; code 0 gives the empty text.
Text char_from_code(int code);

// The byte at `position` as a signed 8-bit value widened; 0 outside the text.
int char_code_at(std::string_view text, int position = 1);

// Upper-case hexadecimal without leading zeros ("%X"); negative values show their 32-bit pattern.
Text hex_text(int value);

} // namespace vorsa::runtime
