#include "app/quantity.h"

#include "runtime/text/numbers.h"

#include <cstdint>

namespace vorsa::app {

std::optional<runtime::Text> stepped_quantity(std::string_view quantity_text, int delta)
{
    // In 64 bits, so that a saturated reading minus the delta cannot overflow.
    const std::int64_t stepped = std::int64_t{runtime::to_integer(quantity_text)} - delta;
    if (stepped < quantity_minimum || stepped > quantity_maximum) return std::nullopt;
    return runtime::to_text(stepped);
}

void step_quantity(runtime::EditBox& quantity_edit, int delta)
{
    if (auto text = stepped_quantity(quantity_edit.get_control_text(), delta))
        quantity_edit.set_control_text(*text);
}

} // namespace vorsa::app
