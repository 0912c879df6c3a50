#include "receipt/preview.h"
#include "receipt/receipt_platform.h"
#include "recording_surface.h"
#include "runtime/controls/interaction.h"
#include "runtime/platform/platform.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vorsa::receipt {
namespace {

using namespace runtime::literals;
using testing::RecordingSurface;

// The main window as the preview build sees it.
class FakeWindow : public PreviewContext
{
public:
    RecordingSurface board_surface{runtime::mapping_pixels, 96};
    bool board_shown = true;
    bool web_view_shown = false;
    int visibility_changes = 0;
    ReceiptFields fields;
    std::vector<Bytes> logos;
    ReceiptLines lines;
    ReceiptData record;

    runtime::DrawingSurface& board() override { return board_surface; }
    void set_board_visible(bool shown) override
    {
        board_shown = shown;
        ++visibility_changes;
    }
    bool web_view_visible() const override { return web_view_shown; }
    void set_web_view_visible(bool shown) override
    {
        web_view_shown = shown;
        ++visibility_changes;
    }
    ReceiptFields receipt_fields() const override { return fields; }
    const std::vector<Bytes>& ticked_logos() const override { return logos; }
    const ReceiptLines& receipt_lines() const override { return lines; }
    ReceiptData& receipt_data() override { return record; }
};

// Counts event dispatches and what the board had drawn when each came.
class EventLoop : public runtime::Interaction
{
public:
    explicit EventLoop(const FakeWindow& window) : m_window(window) { runtime::set_interaction(this); }

    std::vector<std::size_t> board_calls_at_dispatch;

    int message_box(const runtime::Text&, int, const runtime::Text&) override { return 0; }
    int cursor_x() override { return 0; }
    int cursor_y() override { return 0; }
    void process_pending_events() override
    {
        board_calls_at_dispatch.push_back(m_window.board_surface.calls.size());
    }

private:
    runtime::PlatformGuard m_platform; // uninstalls this loop
    const FakeWindow& m_window;
};

class PreviewTest : public ::testing::Test
{
protected:
    PreviewTest()
    {
        runtime::set_screen_dpi_source([] { return 96; });
        window.fields = {"新世界百货"_gbk, "店员甲"_gbk, "新世界百货购物广场店"_gbk,
                         "2014-10-06"_gbk, "adidas"_gbk, 1};
        window.logos = {runtime::bitmap_to_bmp(runtime::Bitmap(4, 4)),
                        runtime::bitmap_to_bmp(runtime::Bitmap(10, 6))};
        window.lines.append({"跑步鞋"_gbk, "42"_gbk, "199.00"_gbk, "2"_gbk, "398.00"_gbk});
        window.lines.append({"运动袜"_gbk, "L"_gbk, "59.00"_gbk, "1"_gbk, "59.00"_gbk});
    }

    bool board_has(const std::string& call) const
    {
        const auto& calls = window.board_surface.calls;
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

    ReceiptPlatformGuard m_platform; // puts the dpi source and the receipt number state back
    FakeWindow window;
};

TEST_F(PreviewTest, FillsTheRecordFromTheWindow)
{
    EventLoop loop(window);
    refresh_preview(window);
    const ReceiptData& record = window.record;
    EXPECT_EQ(record.shop_name, "新世界百货"_gbk);
    EXPECT_EQ(record.clerk_name, "店员甲"_gbk);
    EXPECT_EQ(record.shop_address, "新世界百货购物广场店"_gbk);
    EXPECT_EQ(record.sale_date, "2014-10-06"_gbk);
    EXPECT_EQ(record.total_text, "457.00");
    EXPECT_EQ(record.receipt_number.size(), 20u);
    EXPECT_TRUE(record.receipt_number.starts_with("XS80000035"));
    EXPECT_EQ(record.logo_picture, window.logos[1]);
    EXPECT_EQ(record.code_picture, make_code_picture("正品 adidas\r\n跑步鞋 Size 42\r\n运动袜 Size L"_gbk));
}

TEST_F(PreviewTest, DrawsThePreviewAndThenDispatchesWaitingEvents)
{
    EventLoop loop(window);
    refresh_preview(window);
    const auto& calls = window.board_surface.calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "clear 0,0 340x400");
    EXPECT_EQ(calls[1], "rect 0,0 340,400");
    EXPECT_TRUE(board_has("picture 10x6 at 27,30 84x50"));
    EXPECT_TRUE(board_has("text 114,30 -13b 授权经销商  新世界百货"));
    EXPECT_TRUE(board_has("text 114,52 -11 单据号         " + window.record.receipt_number));
    EXPECT_TRUE(board_has("text 279,252 -11 457.00"));
    EXPECT_TRUE(board_has("text 22,190 -11 运动袜"));
    // One dispatch, after everything was drawn.
    EXPECT_EQ(loop.board_calls_at_dispatch, std::vector<std::size_t>{calls.size()});
}

TEST_F(PreviewTest, TheFirstBuildReplacesTheNoticePageForGood)
{
    EventLoop loop(window);
    window.board_shown = false;
    window.web_view_shown = true;
    refresh_preview(window);
    EXPECT_FALSE(window.web_view_shown);
    EXPECT_TRUE(window.board_shown);
    EXPECT_EQ(window.visibility_changes, 2);

    refresh_preview(window);
    EXPECT_EQ(window.visibility_changes, 2);
    EXPECT_FALSE(window.web_view_shown);
}

TEST_F(PreviewTest, EveryBuildMakesANewNumberAndRedrawsWhole)
{
    EventLoop loop(window);
    refresh_preview(window);
    const Text first = window.record.receipt_number;
    window.board_surface.calls.clear();
    window.lines.clear();
    refresh_preview(window);
    EXPECT_NE(window.record.receipt_number, first);
    EXPECT_EQ(window.record.total_text, "0.00");
    EXPECT_EQ(window.board_surface.calls[0], "clear 0,0 340x400");
    EXPECT_FALSE(board_has("text 22,178 -11 跑步鞋"));
    EXPECT_TRUE(board_has("text 279,252 -11 0.00"));
}

TEST_F(PreviewTest, NoSelectedBrandDrawsNoLogo)
{
    EventLoop loop(window);
    for (int selection : {-1, 2, 7}) {
        window.fields.brand_selection = selection;
        window.board_surface.calls.clear();
        refresh_preview(window);
        EXPECT_TRUE(window.record.logo_picture.empty()) << selection;
        EXPECT_FALSE(board_has("picture 10x6 at 27,30 84x50")) << selection;
        EXPECT_FALSE(board_has("picture 4x4 at 27,30 84x50")) << selection;
    }
}

TEST(CodePicture, AVersionOneSymbolBecomes300By300Pixels)
{
    const Text text = "正品 adidas"_gbk;
    const auto symbol = runtime::picture_from_bytes(qr_symbol_picture(text));
    ASSERT_TRUE(symbol);
    // 21 modules and a light border of 4 on each side, one pixel per module.
    EXPECT_EQ(symbol->width, 29);
    EXPECT_EQ(symbol->height, 29);

    const auto picture = runtime::picture_from_bytes(make_code_picture(text));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, code_picture_side);
    EXPECT_EQ(picture->height, code_picture_side);
    // Along the diagonal through the top-left finder pattern, each module about 10.3 pixels: border
    // light, outer ring dark, gap light, centre dark, gap light, outer ring dark.
    const std::uint32_t dark = 0xFF000000, light = 0xFFFFFFFF;
    const std::pair<int, std::uint32_t> diagonal[] = {{20, light}, {45, dark},  {55, light},
                                                      {77, dark},  {97, light}, {105, dark}};
    for (auto [at, colour] : diagonal)
        EXPECT_EQ(picture->pixel(at, at), colour) << at;
}

TEST(CodePicture, NoSymbolGivesThePictureOfNothing)
{
    // Far beyond what version 40 holds: the encoder makes no picture and the code is left out.
    const Text too_long(8000, '7');
    EXPECT_TRUE(qr_symbol_picture(too_long).empty());
    EXPECT_EQ(make_code_picture(too_long), runtime::fit_picture({}, 300, 300));
    EXPECT_FALSE(runtime::picture_from_bytes(make_code_picture(too_long)));
}

} // namespace
} // namespace vorsa::receipt
