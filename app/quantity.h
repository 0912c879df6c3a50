#pragma once
// Stepping the quantity with the spin control, between 1 and 999.

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"

#include <optional>
#include <string_view>

namespace vorsa::app {

inline constexpr int quantity_minimum = 1;
inline constexpr int quantity_maximum = 999;

// The quantity after the spin control proposed `delta` (-1 from the upper arrow, +1 from the lower):
// the text's leading integer (full-width digits read as digits, anything else as 0) minus delta,
// written as a plain decimal integer; nothing when that leaves 1..999.
std::optional<runtime::Text> stepped_quantity(std::string_view quantity_text, int delta);

// The spin control's handler: replaces the text of `quantity_edit` by the stepped quantity, or leaves
// it as it is at a bound.
void step_quantity(runtime::EditBox& quantity_edit, int delta);

} // namespace vorsa::app
