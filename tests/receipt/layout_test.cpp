#include "receipt/layout.h"
#include "recording_surface.h"
#include "runtime/platform/platform.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vorsa::receipt {
namespace {

using namespace runtime::literals;
using testing::RecordingSurface;

class LayoutTest : public ::testing::Test
{
protected:
    LayoutTest()
    {
        runtime::set_screen_dpi_source([] { return 96; });
        data.shop_name = "新世界百货"_gbk;
        data.receipt_number = "XS800000351234567890"_gbk;
        data.sale_date = "2014-10-06"_gbk;
        data.clerk_name = "店员甲"_gbk;
        data.shop_address = "新世界百货购物广场店"_gbk;
        data.total_text = "457.00"_gbk;
        data.logo_picture = runtime::bitmap_to_bmp(runtime::Bitmap(10, 6));
        data.code_picture = runtime::bitmap_to_bmp(runtime::Bitmap(300, 300));
        lines.append({"跑步鞋"_gbk, "42"_gbk, "199.00"_gbk, "2"_gbk, "398.00"_gbk});
        lines.append({"运动袜"_gbk, "L"_gbk, "59.00"_gbk, ""_gbk, "0.00"_gbk});
    }
    runtime::PlatformGuard m_platform; // puts the dpi source back
    ReceiptData data;
    ReceiptLines lines;
};

// Everything above the item rows, as the preview column gives it.
const std::vector<std::string> preview_head = {
    "clear 0,0 340x400",
    "rect 0,0 340,400",
    "picture 10x6 at 27,30 84x50",
    "picture 300x300 at 21,237 84x84",
    "line 21,152 318,152",
    "line 21,174 318,174",
    "line 21,174 318,174",
    "line 135,240 318,240",
    "line 21,321 318,321",
    "line 21,321 318,321",
    "text 28,157 -11b 商品",
    "text 93,157 -11b 尺码",
    "text 174,157 -11b 单价",
    "text 228,157 -11b 数量",
    "text 282,157 -11b 金额",
    "text 114,30 -13b 授权经销商  新世界百货",
    "text 114,52 -11 单据号         XS800000351234567890",
    "text 114,72 -11 销售单日期     2014-10-06",
    "text 165,93 -11 类别    正常",
    "text 165,123 -11 营业员： 店员甲   班次： C",
    "text 165,138 -11 贵宾： N",
    "text 225,252 -11 合计：",
    "text 24,114 -11 新世界百货购物广场店",
    "text 225,267 -11 收银：",
    "text 225,282 -11 积分：",
    "text 225,297 -11 找零：",
    "text 279,252 -11 457.00",
    "text 279,267 -11 457.00",
    "text 279,282 -11 457.00",
    "text 279,297 -11   0.00",
    "text 60,328 -11 温馨提示：本小票为商品退换货凭证，请妥善保管",
    "text 93,343 -11 THANK YOU! WELCOME BACK AGAIN!",
    "text 63,358 -11 一联存根(白)   二联客户(红)   三联财务(黄)",
};

// The print column, fonts converted for a 203 dpi printer: A 15 pt is -20 px and -33 units, B 17 pt
// -23 px and -38 units, C 13 pt -17 px and -28 units.
const std::vector<std::string> print_head = {
    "picture 10x6 at 90,100 280x168",
    "picture 300x300 at 50,790 280x280",
    "line 50,509 1040,509",
    "line 50,580 1040,580",
    "line 50,582 1040,582",
    "line 430,800 1040,800",
    "line 50,1070 1040,1070",
    "line 50,1072 1040,1072",
    "text 75,525 -33b 商品",
    "text 290,525 -33b 尺码",
    "text 560,525 -33b 单价",
    "text 740,525 -33b 数量",
    "text 920,525 -33b 金额",
    "text 360,100 -38b 授权经销商  新世界百货",
    "text 360,175 -28 单据号         XS800000351234567890",
    "text 360,240 -28 销售单日期     2014-10-06",
    "text 530,310 -28 类别    正常",
    "text 530,410 -28 营业员： 店员甲   班次： C",
    "text 530,460 -28 贵宾： N",
    "text 730,840 -28 合计：",
    "text 60,380 -28 新世界百货购物广场店",
    "text 730,890 -28 收银：",
    "text 730,940 -28 积分：",
    "text 730,990 -28 找零：",
    "text 910,840 -28 457.00",
    "text 910,890 -28 457.00",
    "text 910,940 -28 457.00",
    "text 910,990 -28   0.00",
    "text 180,1095 -28 温馨提示：本小票为商品退换货凭证，请妥善保管",
    "text 290,1145 -28 THANK YOU! WELCOME BACK AGAIN!",
    "text 192,1195 -28 一联存根(白)   二联客户(红)   三联财务(黄)",
};

std::vector<std::string> joined(std::vector<std::string> head, const std::vector<std::string>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(LayoutTest, PreviewDrawsEveryElementInOrder)
{
    RecordingSurface board(runtime::mapping_pixels, 96);
    board.set_text_color(0x0000FF);
    draw_receipt_preview(board, data, lines);
    // The second row's empty quantity draws nothing.
    EXPECT_EQ(board.calls, joined(preview_head, {
                                                    "text 22,178 -11 跑步鞋",
                                                    "text 100,178 -11 42",
                                                    "text 171,178 -11 199.00",
                                                    "text 237,178 -11 2",
                                                    "text 279,178 -11 398.00",
                                                    "text 22,190 -11 运动袜",
                                                    "text 100,190 -11 L",
                                                    "text 171,190 -11 59.00",
                                                    "text 279,190 -11 0.00",
                                                }));
}

// The page is the same whatever the screen's resolution: its letters follow the printer's alone.
TEST_F(LayoutTest, PrintDrawsEveryElementInOrder)
{
    for (const int screen_dpi : {96, 120, 192}) {
        SCOPED_TRACE(screen_dpi);
        runtime::set_screen_dpi_source([screen_dpi] { return screen_dpi; });
        RecordingSurface page(runtime::mapping_tenth_mm, 203);
        draw_receipt_print(page, data, lines);
        EXPECT_EQ(page.calls, joined(print_head, {
                                                     "text 55,595 -28 跑步鞋",
                                                     "text 315,595 -28 42",
                                                     "text 550,595 -28 199.00",
                                                     "text 770,595 -28 2",
                                                     "text 910,595 -28 398.00",
                                                     "text 55,635 -28 运动袜",
                                                     "text 315,635 -28 L",
                                                     "text 550,635 -28 59.00",
                                                     "text 910,635 -28 0.00",
                                                 }));
    }
}

TEST_F(LayoutTest, EveryItemRowHasItsOwnPosition)
{
    ReceiptLines full;
    for (int i = 1; i <= 5; ++i) {
        const std::string n = std::to_string(i);
        full.append({"p" + n, "s" + n, "u" + n, "q" + n, "a" + n});
    }
    struct Output
    {
        int mode;
        int dpi;
        void (*draw)(runtime::DrawingSurface&, const ReceiptData&, const ReceiptLines&);
        std::array<int, 5> x;
        std::array<int, 5> y;
        std::string font;
    };
    const Output outputs[] = {
        {runtime::mapping_pixels,
         96,
         draw_receipt_preview,
         {22, 100, 171, 237, 279},
         {178, 190, 202, 214, 226},
         "-11"},
        {runtime::mapping_tenth_mm,
         203,
         draw_receipt_print,
         {55, 315, 550, 770, 910},
         {595, 635, 675, 715, 755},
         "-28"},
    };
    const char column_letters[] = "psuqa";
    for (const Output& output : outputs) {
        RecordingSurface surface(output.mode, output.dpi);
        output.draw(surface, data, full);
        std::vector<std::string> expected;
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 5; ++column)
                expected.push_back("text " + std::to_string(output.x[column]) + "," +
                                   std::to_string(output.y[row]) + " " + output.font + " " +
                                   column_letters[column] + std::to_string(row + 1));
        ASSERT_GE(surface.calls.size(), 25u);
        EXPECT_EQ(std::vector<std::string>(surface.calls.end() - 25, surface.calls.end()), expected);
    }
}

TEST_F(LayoutTest, BeforeAnyBuildOnlyLiteralsAndRulesArePrinted)
{
    RecordingSurface page(runtime::mapping_tenth_mm, 203);
    draw_receipt_print(page, ReceiptData{}, ReceiptLines{});
    const std::vector<std::string> expected = {
        "line 50,509 1040,509",
        "line 50,580 1040,580",
        "line 50,582 1040,582",
        "line 430,800 1040,800",
        "line 50,1070 1040,1070",
        "line 50,1072 1040,1072",
        "text 75,525 -33b 商品",
        "text 290,525 -33b 尺码",
        "text 560,525 -33b 单价",
        "text 740,525 -33b 数量",
        "text 920,525 -33b 金额",
        "text 360,100 -38b 授权经销商  ",
        "text 360,175 -28 单据号         ",
        "text 360,240 -28 销售单日期     ",
        "text 530,310 -28 类别    正常",
        "text 530,410 -28 营业员：    班次： C",
        "text 530,460 -28 贵宾： N",
        "text 730,840 -28 合计：",
        "text 730,890 -28 收银：",
        "text 730,940 -28 积分：",
        "text 730,990 -28 找零：",
        "text 910,990 -28   0.00",
        "text 180,1095 -28 温馨提示：本小票为商品退换货凭证，请妥善保管",
        "text 290,1145 -28 THANK YOU! WELCOME BACK AGAIN!",
        "text 192,1195 -28 一联存根(白)   二联客户(红)   三联财务(黄)",
    };
    EXPECT_EQ(page.calls, expected);
}

TEST_F(LayoutTest, PicturesThatDoNotDecodeAreLeftOut)
{
    const Bytes undecodable[] = {Bytes{}, runtime::bytes_of("GIF89a but not really"),
                                 runtime::fit_picture({}, 300, 300)};
    for (const Bytes& bytes : undecodable) {
        data.logo_picture = bytes;
        data.code_picture = bytes;
        RecordingSurface board(runtime::mapping_pixels, 96);
        draw_receipt_preview(board, data, lines);
        EXPECT_EQ(std::count_if(board.calls.begin(), board.calls.end(),
                                [](const std::string& call) { return call.starts_with("picture"); }),
                  0);
        EXPECT_EQ(board.calls[2], "line 21,152 318,152");
    }
}

TEST_F(LayoutTest, ThePreviewsDoubleRulesFallOnOneRowAndThePrintsDoNot)
{
    RecordingSurface board(runtime::mapping_pixels, 96);
    draw_receipt_preview(board, data, lines);
    EXPECT_EQ(board.calls[5], board.calls[6]);
    EXPECT_EQ(board.calls[8], board.calls[9]);

    RecordingSurface page(runtime::mapping_tenth_mm, 203);
    draw_receipt_print(page, data, lines);
    EXPECT_NE(page.calls[3], page.calls[4]);
    EXPECT_NE(page.calls[6], page.calls[7]);
}

TEST_F(LayoutTest, ALongNameIsDrawnWhole)
{
    data.shop_name = std::string(200, 'W');
    RecordingSurface board(runtime::mapping_pixels, 96);
    draw_receipt_preview(board, data, lines);
    EXPECT_EQ(board.calls[15], "text 114,30 -13b 授权经销商  " + std::string(200, 'W'));
}

} // namespace
} // namespace vorsa::receipt
