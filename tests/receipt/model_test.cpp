#include "receipt/model.h"
#include "receipt/receipt_platform.h"
#include "runtime/text/gbk.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorsa::receipt {
namespace {

using namespace runtime::literals;

TEST(FormatMoney, KeepsTheIntegerPartOfTheLeadingNumber)
{
    struct Case
    {
        Text input;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"199.9", "199.00"},
        {"", "0.00"},
        {"abc", "0.00"},
        {"12abc", "12.00"},
        {"-5", "-5.00"},
        {"-3.7", "-3.00"},
        {"+7", "7.00"},
        {"  42", "42.00"},
        {"１９９"_gbk, "199.00"},        // full-width digits as an input method types them
        {"１９．９"_gbk, "19.00"},       // full-width point
        {"3000000000", "3000000000.00"}, // beyond 32 bits, kept whole
        {"-3000000000", "-3000000000.00"},
        {"99999999999999999999", "9223372036854775807.00"}, // beyond 64 bits saturates
        {"1e3", "1.00"},                                    // an integer reading stops at the letter
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_money(c.input), c.expected) << c.input;
}

TEST(AddLine, StoresUnitPriceAndAmountAsMoneyTexts)
{
    struct Case
    {
        LineInput input;
        Text unit_price;
        Text amount;
    };
    const std::vector<Case> cases = {
        {{"跑鞋"_gbk, "42", "199.9", "2"}, "199.00", "398.00"},
        {{"短袖"_gbk, "L", "19.9", "3"}, "19.00", "57.00"},
        {{"袜子"_gbk, "M", "10", "2.99999999"}, "10.00", "30.00"}, // product rounded by the to-text step
        {{"外套"_gbk, "XL", "99.9", "2.5"}, "99.00", "247.00"},    // price cut before multiplying
        {{"帽子"_gbk, "F", "59", ""}, "59.00", "0.00"},            // empty quantity
        {{"短裤"_gbk, "S", "abc", "2"}, "0.00", "0.00"},           // not a number counts 0
        {{"长裤"_gbk, "30", "１９９"_gbk, "１"_gbk}, "199.00", "199.00"},
        {{"大单"_gbk, "1", "3000000000", "2"}, "3000000000.00", "6000000000.00"},
    };
    for (const auto& c : cases) {
        ReceiptLines lines;
        const AddOutcome outcome = add_line(lines, c.input);
        ASSERT_EQ(outcome.result, AddResult::added) << c.input.price;
        EXPECT_EQ(lines.cell(1, Column::product), c.input.product);
        EXPECT_EQ(lines.cell(1, Column::size), c.input.size);
        EXPECT_EQ(lines.cell(1, Column::unit_price), c.unit_price);
        EXPECT_EQ(lines.cell(1, Column::quantity), c.input.quantity) << "the quantity is kept as typed";
        EXPECT_EQ(lines.cell(1, Column::amount), c.amount);
        EXPECT_EQ(outcome.history_entry, c.input.product + "|" + c.input.size + "|" + c.amount);
    }
}

TEST(AddLine, RefusesEmptyInputsSilentlyAndASixthLineWithTheMessage)
{
    ReceiptLines lines;
    EXPECT_EQ(add_line(lines, {"", "42", "1", "1"}).result, AddResult::ignored);
    EXPECT_EQ(add_line(lines, {"跑鞋"_gbk, "", "1", "1"}).result, AddResult::ignored);
    EXPECT_EQ(lines.used_rows(), 0);

    // A product of blanks is still a product; only the empty text is refused.
    EXPECT_EQ(add_line(lines, {"  ", "42", "1", "1"}).result, AddResult::added);
    for (int i = 2; i <= 5; ++i)
        EXPECT_EQ(add_line(lines, {"P" + std::to_string(i), "S", "1", "1"}).result, AddResult::added);
    EXPECT_TRUE(lines.is_full());

    const AddOutcome sixth = add_line(lines, {"P6", "S", "1", "1"});
    EXPECT_EQ(sixth.result, AddResult::table_full);
    EXPECT_TRUE(sixth.history_entry.empty());
    EXPECT_EQ(lines.cell(5, Column::product), "P5");
    // A half-typed sixth line is ignored before the limit is looked at.
    EXPECT_EQ(add_line(lines, {"P6", "", "1", "1"}).result, AddResult::ignored);

    lines.clear();
    EXPECT_EQ(lines.used_rows(), 0);
    EXPECT_TRUE(lines.cell(5, Column::product).empty());
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(add_line(lines, {"Q", "S", "1", "1"}).result, AddResult::added);
    EXPECT_EQ(table_full_message(), "最多5条，已满5条，清除重来吧"_gbk);
    EXPECT_EQ(table_full_caption(), "已满5条"_gbk);
}

TEST(Totals, SumTheLineAmounts)
{
    struct Case
    {
        std::vector<LineInput> inputs;
        Text total;
    };
    const std::vector<Case> cases = {
        {{}, "0.00"},
        {{{"A", "1", "199.9", "2"}, {"B", "2", "59", "1"}}, "457.00"},
        {{{"A", "1", "1234", "1"}}, "1234.00"},
        {{{"A", "1", "-5", "1"}, {"B", "1", "3", "1"}}, "-2.00"},
        {{{"A", "1", "3000000000", "3"}, {"B", "1", "1", "1"}}, "9000000001.00"},
    };
    for (const auto& c : cases) {
        ReceiptLines lines;
        for (const auto& input : c.inputs)
            add_line(lines, input);
        EXPECT_EQ(total_text(lines), c.total);
    }
}

TEST(CodeText, NamesTheBrandAndEveryUsedLine)
{
    ReceiptLines lines;
    EXPECT_EQ(make_code_text("耐克"_gbk, lines), "正品 耐克"_gbk);
    EXPECT_EQ(make_code_text("", lines), "正品 "_gbk);
    add_line(lines, {"跑鞋"_gbk, "42", "399", "1"});
    add_line(lines, {"短袖"_gbk, "L", "89", "1"});
    EXPECT_EQ(make_code_text("耐克"_gbk, lines), "正品 耐克\r\n跑鞋 Size 42\r\n短袖 Size L"_gbk);
}

TEST(ReceiptNumber, HasThePrefixAndTenDigitsThatChange)
{
    ReceiptPlatformGuard platform; // puts the generator and the last seed back
    for (const Text& number :
         {make_receipt_number(0), make_receipt_number(123456789), next_receipt_number()}) {
        ASSERT_EQ(number.size(), 20u);
        EXPECT_EQ(number.substr(0, 10), "XS80000035");
        EXPECT_EQ(number.find_first_not_of("0123456789", 10), Text::npos) << number;
    }
    EXPECT_EQ(make_receipt_number(42), make_receipt_number(42));
    EXPECT_NE(make_receipt_number(42), make_receipt_number(43));
    // Back to back, within the same millisecond, the numbers still differ.
    const Text first = next_receipt_number();
    EXPECT_NE(next_receipt_number(), first);
}

TEST(ReceiptNumber, GuardPutsBackTheLastSeed)
{
    ReceiptPlatformGuard outer;
    install_receipt_state({});
    {
        ReceiptPlatformGuard inner;
        next_receipt_number();
        EXPECT_TRUE(current_receipt_state().last_number_seed.has_value());
    }
    EXPECT_FALSE(current_receipt_state().last_number_seed.has_value());
    install_receipt_state({7});
    {
        ReceiptPlatformGuard inner;
        install_receipt_state({});
    }
    EXPECT_EQ(current_receipt_state().last_number_seed, 7u);
}

TEST(Logo, ComesFromTheSelectedTickedBrandOrIsAbsent)
{
    const std::vector<Bytes> logos = {{1, 2}, {3}, {}};
    struct Case
    {
        int selection;
        Bytes expected;
    };
    const std::vector<Case> cases = {{0, {1, 2}}, {1, {3}}, {2, {}}, {-1, {}}, {3, {}}, {-7, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(logo_for_selection(logos, c.selection), c.expected) << c.selection;
}

TEST(CollectReceiptData, FillsTheRecordFromFieldsAndLines)
{
    ReceiptLines lines;
    add_line(lines, {"跑鞋"_gbk, "42", "199.9", "2"});
    const ReceiptFields fields{"东方商场"_gbk, "店员甲"_gbk, "新世界百货购物广场店"_gbk,
                               "2015-03-05",   "耐克"_gbk,   1};
    Text code_text;
    const ReceiptData data = collect_receipt_data(fields, lines, {{9}, {7, 7}}, code_text);
    EXPECT_EQ(data.shop_name, fields.shop_name);
    EXPECT_EQ(data.clerk_name, fields.clerk_name);
    EXPECT_EQ(data.shop_address, fields.shop_address);
    EXPECT_EQ(data.sale_date, "2015-03-05");
    EXPECT_EQ(data.total_text, "398.00");
    EXPECT_EQ(data.logo_picture, (Bytes{7, 7}));
    EXPECT_TRUE(data.code_picture.empty()) << "the code picture is the preview's to make";
    EXPECT_EQ(data.receipt_number.substr(0, 10), "XS80000035");
    EXPECT_EQ(code_text, "正品 耐克\r\n跑鞋 Size 42"_gbk);
}

} // namespace
} // namespace vorsa::receipt
