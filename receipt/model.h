#pragma once
// The receipt's model: the table of product lines that "添加预览" fills and "清除" empties, the
// receipt record that every preview build fills, and the rules for money texts, line amounts, the
// total, the receipt number and the text the QR code carries. All texts are GBK.

#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vorsa::receipt {

using runtime::Bytes;
using runtime::Text;

// Columns of a product line, 1-based as the layout counts them.
enum class Column
{
    product = 1,
    size = 2,
    unit_price = 3,
    quantity = 4,
    amount = 5
};

// The 5 x 5 line table. Rows fill from the first; a row is used when its product is not empty, so the
// used rows are always 1..n, and row 5 used means the table is full.
class ReceiptLines
{
public:
    static constexpr int rows = 5;
    static constexpr int columns = 5;
    using Row = std::array<Text, columns>;

    // Row and column are 1-based; outside the table is a fault of the caller.
    const Text& cell(int row, Column column) const;
    int used_rows() const;
    bool is_full() const;
    // Writes the row into the first free row; false when the table is full.
    bool append(Row row);
    void clear();

private:
    std::array<Row, rows> m_rows{};
};

// The record that the layout draws; every field is empty until the first preview build.
struct ReceiptData
{
    Text shop_name;
    Text receipt_number;
    Text sale_date;
    Text clerk_name;
    Text shop_address;
    Text total_text;
    Bytes logo_picture;
    Bytes code_picture;
};

// What the window holds when a line is added: the four inputs as typed.
struct LineInput
{
    Text product;
    Text size;
    Text price;
    Text quantity;
};

enum class AddResult
{
    ignored,    // product or size empty: nothing happens, no message
    table_full, // a sixth line: the window shows table_full_message()
    added,
};

struct AddOutcome
{
    AddResult result = AddResult::ignored;
    // product|size|amount, handed to the history when a line was added.
    Text history_entry;
};

// The decisions of "添加预览": checks emptiness first, then the limit, then stores the line with its
// unit price and amount as money texts.
AddOutcome add_line(ReceiptLines& lines, const LineInput& input);

// "最多5条，已满5条，清除重来吧" and its caption "已满5条".
Text table_full_message();
Text table_full_caption();

// The integer part of the text's number followed by ".00": "199.9" gives "199.00", "abc" gives "0.00".
// Integers are kept whole up to 64 bits.
Text format_money(std::string_view text);

// format_money(to_text(to_number(price) * to_number(quantity))), price being a money text already.
Text line_amount(std::string_view price, std::string_view quantity);

// The money text of the sum of the line amounts; "0.00" for an empty table.
Text total_text(const ReceiptLines& lines);

// "XS80000035" and ten digits drawn from the generator seeded with `seed`.
Text make_receipt_number(std::uint32_t seed);
// A new receipt number seeded from the tick count; a repeated tick continues the sequence instead of
// repeating it, so two builds never show the same number.
Text next_receipt_number();

// "正品 " + brand, then for every used row CR LF + product + " Size " + size.
Text make_code_text(std::string_view brand, const ReceiptLines& lines);

// The logo at the brand list's selection, or no logo when nothing (or nothing valid) is selected.
Bytes logo_for_selection(const std::vector<Bytes>& ticked_logos, int selection);

// The window's fields as the preview build reads them.
struct ReceiptFields
{
    Text shop_name;
    Text clerk_name;
    Text shop_address;
    Text sale_date;
    Text brand;
    int brand_selection = -1;
};

// Fills the record for a preview build: a new number, the fields, the logo and the total. The code
// picture is the caller's (it needs the QR encoder); `code_text` receives the text to encode.
ReceiptData collect_receipt_data(const ReceiptFields& fields, const ReceiptLines& lines,
                                 const std::vector<Bytes>& ticked_logos, Text& code_text);

} // namespace vorsa::receipt
