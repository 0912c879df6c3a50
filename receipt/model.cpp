#include "receipt/model.h"

#include "receipt/receipt_platform.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/fatal.h"
#include "runtime/text/gbk.h"
#include "runtime/text/numbers.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace vorsa::receipt {

using namespace runtime::literals;

const Text& ReceiptLines::cell(int row, Column column) const
{
    return runtime::element(runtime::element(m_rows, row), static_cast<int>(column));
}

int ReceiptLines::used_rows() const
{
    int used = 0;
    while (used < rows && !m_rows[used][0].empty())
        ++used;
    return used;
}

bool ReceiptLines::is_full() const
{
    return !m_rows[rows - 1][0].empty();
}

bool ReceiptLines::append(Row row)
{
    const int free_row = used_rows();
    if (free_row == rows) return false;
    m_rows[free_row] = std::move(row);
    return true;
}

void ReceiptLines::clear()
{
    m_rows = {};
}

Text table_full_message()
{
    return "最多5条，已满5条，清除重来吧"_gbk;
}
Text table_full_caption()
{
    return "已满5条"_gbk;
}

Text format_money(std::string_view text)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%" PRId64 ".00", runtime::to_integer64(text));
    return buffer;
}

Text line_amount(std::string_view price, std::string_view quantity)
{
    return format_money(runtime::to_text(runtime::to_number(price) * runtime::to_number(quantity)));
}

AddOutcome add_line(ReceiptLines& lines, const LineInput& input)
{
    // The emptiness test comes before the limit: a half-typed line never shows the full-table message.
    if (input.product.empty() || input.size.empty()) return {};
    if (lines.is_full()) return {AddResult::table_full, {}};

    Text price = format_money(input.price);
    Text amount = line_amount(price, input.quantity);
    const Text field_separator(history_field_separator);
    Text history_entry = input.product + field_separator + input.size + field_separator + amount;
    lines.append({input.product, input.size, std::move(price), input.quantity, std::move(amount)});
    return {AddResult::added, std::move(history_entry)};
}

Text total_text(const ReceiptLines& lines)
{
    double sum = 0;
    for (int row = 1; row <= ReceiptLines::rows; ++row)
        sum += runtime::to_number(lines.cell(row, Column::amount));
    return format_money(runtime::to_text(sum));
}

namespace {

// The fixed prefix and ten digits drawn from the generator as it stands.
Text draw_receipt_number()
{
    Text number = "XS80000035";
    for (int digit = 0; digit < 10; ++digit)
        number += static_cast<char>('0' + runtime::random_in_range(0, 9));
    return number;
}

} // namespace

Text make_receipt_number(std::uint32_t seed)
{
    runtime::set_random_seed(seed);
    return draw_receipt_number();
}

Text next_receipt_number()
{
    // Seeding from the clock repeats the number when two builds fall in the same millisecond; then the
    // generator simply goes on from where the last number left it.
    const std::uint32_t seed = runtime::tick_count();
    if (current_receipt_state().last_number_seed == seed) return draw_receipt_number();
    install_receipt_state({seed});
    return make_receipt_number(seed);
}

Text make_code_text(std::string_view brand, const ReceiptLines& lines)
{
    Text code = "正品 "_gbk;
    code += brand;
    for (int row = 1; row <= lines.used_rows(); ++row) {
        code += "\r\n";
        code += lines.cell(row, Column::product);
        code += " Size ";
        code += lines.cell(row, Column::size);
    }
    return code;
}

Bytes logo_for_selection(const std::vector<Bytes>& ticked_logos, int selection)
{
    if (selection < 0 || static_cast<std::size_t>(selection) >= ticked_logos.size()) return {};
    return ticked_logos[static_cast<std::size_t>(selection)];
}

ReceiptData collect_receipt_data(const ReceiptFields& fields, const ReceiptLines& lines,
                                 const std::vector<Bytes>& ticked_logos, Text& code_text)
{
    ReceiptData data;
    data.receipt_number = next_receipt_number();
    data.shop_name = fields.shop_name;
    data.clerk_name = fields.clerk_name;
    data.shop_address = fields.shop_address;
    data.sale_date = fields.sale_date;
    code_text = make_code_text(fields.brand, lines);
    data.logo_picture = logo_for_selection(ticked_logos, fields.brand_selection);
    data.total_text = total_text(lines);
    return data;
}

} // namespace vorsa::receipt
