// The GDI drawing surface on a page in memory: where each primitive puts its pixels in both mapping
// modes, the font it selects, and the receipt's layout drawn where the layout says.

#include "../../receipt/recording_surface.h"
#include "memory_page.h"
#include "receipt/layout.h"
#include "runtime/platform/platform.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"
#include "runtime/win32/gdi_surface.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace vorsa::runtime {
namespace {

using namespace literals;
using test::MemoryPage;

constexpr std::uint32_t grey = 0xC0C0C0; // the page before drawing, 0x00RRGGBB
constexpr std::uint32_t black = 0x000000;
constexpr std::uint32_t white = 0xFFFFFF;
constexpr std::uint32_t red = 0xFF0000;
constexpr std::uint32_t green = 0x00FF00;
constexpr std::uint32_t blue = 0x0000FF;

// Top-left red, top-right green, bottom-left blue, bottom-right white (pixels are 0xAARRGGBB).
Bitmap quadrants()
{
    Bitmap bitmap(2, 2);
    bitmap.set_pixel(0, 0, 0xFFFF0000);
    bitmap.set_pixel(1, 0, 0xFF00FF00);
    bitmap.set_pixel(0, 1, 0xFF0000FF);
    bitmap.set_pixel(1, 1, 0xFFFFFFFF);
    return bitmap;
}

// The screen of the tests' machine: 96 dots per inch, so 254 units of 0.1 mm are 96 pixels.
class GdiSurfaceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(page.valid());
        ASSERT_EQ(GetDeviceCaps(page.dc(), LOGPIXELSY), 96) << "the positions below assume 96 dpi";
        set_screen_dpi_source([] { return 96; });
    }
    PlatformGuard m_platform;
    MemoryPage page{340, 400, grey};
};

// Halftone stretching smooths a picture's colours a little; every channel within a quarter counts.
bool looks_like(std::uint32_t pixel, std::uint32_t colour)
{
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((pixel >> shift) & 0xFF),
                  b = static_cast<int>((colour >> shift) & 0xFF);
        if (std::abs(a - b) > 64) return false;
    }
    return pixel != 0xFFFFFFFF;
}

struct PixelCase
{
    const char* name;
    int mode;
    std::function<void(GdiSurface&)> draw;
    std::vector<std::tuple<int, int, std::uint32_t>> pixels; // device x, y and 0x00RRGGBB
};

TEST_F(GdiSurfaceTest, PrimitivesCoverTheirPixels)
{
    const PixelCase cases[] = {
        {"a line covers its start point, not its end point",
         mapping_pixels,
         [](GdiSurface& s) { s.draw_line(0, 100, 300, 100); },
         {{0, 100, black}, {299, 100, black}, {300, 100, grey}, {150, 99, grey}, {150, 101, grey}}},
        {"a rectangle leaves out its right column and bottom row",
         mapping_pixels,
         [](GdiSurface& s) { s.draw_rectangle(0, 0, 340, 400); },
         {{0, 0, black},
          {339, 0, black},
          {0, 399, black},
          {339, 399, black},
          {170, 0, black},
          {0, 200, black},
          {1, 1, white},
          {170, 200, white},
          {338, 398, white}}},
        {"a small rectangle",
         mapping_pixels,
         [](GdiSurface& s) { s.draw_rectangle(10, 10, 20, 20); },
         {{10, 10, black}, {19, 19, black}, {15, 15, white}, {20, 20, grey}, {9, 9, grey}}},
        {"a picture is stretched into its box",
         mapping_pixels,
         [](GdiSurface& s) { s.draw_picture(quadrants(), 20, 30, 40, 40); },
         {{22, 32, red},
          {57, 32, green},
          {22, 67, blue},
          {57, 67, white},
          {19, 32, grey},
          {60, 32, grey},
          {22, 29, grey},
          {22, 70, grey}}},
        {"a negative width mirrors the picture",
         mapping_pixels,
         [](GdiSurface& s) { s.draw_picture(quadrants(), 60, 30, -40, 40); },
         {{22, 32, green}, {57, 32, red}, {22, 67, white}, {57, 67, blue}, {19, 32, grey}, {61, 32, grey}}},
        {"clearing fills its box with the background colour",
         mapping_pixels,
         [](GdiSurface& s) {
             s.set_background_colour(0x0000FF); // red as 0x00BBGGRR
             s.clear_board(10, 10, 20, 20);
         },
         {{10, 10, red}, {29, 29, red}, {30, 30, grey}, {9, 9, grey}}},
        {"clearing with nothing given covers the whole page",
         mapping_pixels,
         [](GdiSurface& s) {
             s.set_background_colour(0xFF0000); // blue as 0x00BBGGRR
             s.clear_board();
         },
         {{0, 0, blue}, {339, 399, blue}}},
        {"0.1 mm units from the top-left corner, y downward",
         mapping_tenth_mm,
         [](GdiSurface& s) { s.draw_line(0, 254, 254, 254); },
         {{0, 96, black}, {95, 96, black}, {96, 96, grey}, {50, 95, grey}, {50, 97, grey}}},
        {"a picture in 0.1 mm",
         mapping_tenth_mm,
         [](GdiSurface& s) { s.draw_picture(quadrants(), 254, 254, 254, 254); },
         {{98, 98, red},
          {189, 98, green},
          {98, 189, blue},
          {189, 189, white},
          {95, 98, grey},
          {98, 95, grey}}},
        {"clearing in 0.1 mm covers the whole page",
         mapping_tenth_mm,
         [](GdiSurface& s) {
             s.set_background_colour(0x0000FF);
             s.clear_board();
         },
         {{0, 0, red}, {339, 399, red}}},
    };
    for (const PixelCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryPage fresh(340, 400, grey);
        GdiSurface surface;
        surface.set_mapping_mode(c.mode);
        surface.attach(fresh.dc());
        c.draw(surface);
        surface.detach();
        for (const auto& [x, y, colour] : c.pixels)
            EXPECT_PRED2(looks_like, fresh.pixel(x, y), colour) << "at " << x << "," << y;
    }
}

TEST_F(GdiSurfaceTest, TextHangsFromItsPointInTheTextColourWithoutBackground)
{
    struct TextCase
    {
        const char* name;
        int mode;
        Point at;
        POINT device; // where the top-left corner of the cell lands
    };
    const TextCase cases[] = {
        {"pixels", mapping_pixels, {10, 20}, {10, 20}},
        {"0.1 mm", mapping_tenth_mm, {254, 508}, {96, 192}},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryPage fresh(340, 400, grey);
        GdiSurface surface;
        surface.set_mapping_mode(c.mode);
        surface.attach(fresh.dc());
        surface.set_font(make_font("Tahoma"_gbk, 20, true));
        surface.set_text_color(0x0000FF); // red
        TEXTMETRICW metrics{};
        ASSERT_TRUE(GetTextMetricsW(fresh.dc(), &metrics));
        POINT cell[2] = {{c.at.x, c.at.y}, {c.at.x + 200, c.at.y + metrics.tmHeight}};
        LPtoDP(fresh.dc(), cell, 2);
        surface.draw_string(c.at.x, c.at.y, "HIH"_gbk);
        surface.detach();

        const RECT around{c.device.x - 10, c.device.y - 10, c.device.x + 150, cell[1].y + 10};
        const RECT box = fresh.ink(around, grey);
        ASSERT_GE(box.left, 0) << "no text drawn";
        // The cell hangs from the point: capitals start below its top and within its height.
        EXPECT_GE(box.top, c.device.y);
        EXPECT_LT(box.top, cell[1].y);
        EXPECT_LE(box.bottom, cell[1].y);
        EXPECT_GE(box.left, c.device.x);
        EXPECT_LT(box.left, c.device.x + 8);
        // Red ink, and no opaque background anywhere in the cell.
        int red_pixels = 0;
        for (int y = c.device.y; y < cell[1].y; ++y)
            for (int x = c.device.x; x < box.right; ++x) {
                const std::uint32_t p = fresh.pixel(x, y);
                red_pixels += p == red;
                EXPECT_NE(p, white) << "background at " << x << "," << y;
            }
        EXPECT_GT(red_pixels, 20);
    }
}

TEST_F(GdiSurfaceTest, FontsAreSelectedInTheSurfacesUnits)
{
    struct FontCase
    {
        const char* name;
        int mode;
        double points;
        bool bold;
        int height;       // of the selected font, in the surface's units
        double em_pixels; // on the device
    };
    const FontCase cases[] = {
        // 13 points at 96 dpi are 17 pixels.
        {"pixels", mapping_pixels, 13, false, -17, 17},
        // 17 pixels are 17 * 339 / 96 = 60 units of 0.1 mm (the conversion's four thirds), 22.7 pixels.
        {"0.1 mm", mapping_tenth_mm, 13, false, -60, 22.7},
        {"0.1 mm, bold", mapping_tenth_mm, 9, true, -42, 15.9}, // -12 px
    };
    for (const FontCase& c : cases) {
        SCOPED_TRACE(c.name);
        GdiSurface surface;
        surface.set_mapping_mode(c.mode);
        surface.attach(page.dc());
        surface.set_font(make_font("宋体"_gbk, c.points, c.bold));
        LOGFONTW font{};
        ASSERT_EQ(GetObjectW(GetCurrentObject(page.dc(), OBJ_FONT), sizeof font, &font), int{sizeof font});
        EXPECT_EQ(font.lfHeight, c.height);
        EXPECT_EQ(font.lfWeight, c.bold ? 800 : 0);
        EXPECT_STREQ(font.lfFaceName, L"宋体");
        // The device sizes it in the surface's units: the em is as high as asked, give or take the
        // rasteriser's rounding.
        TEXTMETRICW metrics{};
        ASSERT_TRUE(GetTextMetricsW(page.dc(), &metrics));
        POINT em[2] = {{0, 0}, {0, metrics.tmHeight - metrics.tmInternalLeading}};
        LPtoDP(page.dc(), em, 2);
        EXPECT_NEAR(em[1].y - em[0].y, c.em_pixels, 2);
        surface.detach();
    }
}

TEST_F(GdiSurfaceTest, DetachingGivesTheDeviceItsOwnStateBack)
{
    HGDIOBJ own_font = GetCurrentObject(page.dc(), OBJ_FONT);
    GdiSurface surface;
    surface.attach(page.dc());
    surface.set_font(make_font("Tahoma"_gbk, 13));
    EXPECT_EQ(GetMapMode(page.dc()), MM_ANISOTROPIC);
    EXPECT_NE(GetCurrentObject(page.dc(), OBJ_FONT), own_font);
    surface.detach();
    EXPECT_EQ(GetMapMode(page.dc()), MM_TEXT);
    EXPECT_EQ(GetCurrentObject(page.dc(), OBJ_FONT), own_font);
    EXPECT_EQ(GetBkMode(page.dc()), OPAQUE);
    // Without a device nothing is drawn.
    surface.draw_line(0, 0, 300, 300);
    EXPECT_EQ(page.pixel(100, 100), grey);
}

// A surface that draws every primitive alone on a blank page and notes where its ink went.
class MeasuringSurface : public GdiSurface
{
public:
    explicit MeasuringSurface(MemoryPage& page) : m_page(page) {}

    struct Element
    {
        std::string what;
        int x, y, right, bottom; // the layout's values in 0.1 mm (for texts right and bottom unused)
        int height;              // texts: the font's height in 0.1 mm
        RECT ink;                // device pixels
    };
    std::vector<Element> elements;

protected:
    void render_line(Point from, Point to) override
    {
        blank();
        GdiSurface::render_line(from, to);
        note("line", from.x, from.y, to.x, to.y);
    }
    void render_text(Point at, const Text& text) override
    {
        blank();
        GdiSurface::render_text(at, text);
        note("text " + utf8_from_gbk(text), at.x, at.y, 0, 0);
    }
    void render_picture(const Bitmap& bitmap, int x, int y, int width, int height) override
    {
        blank();
        GdiSurface::render_picture(bitmap, x, y, width, height);
        note("picture", x, y, x + width, y + height);
    }

private:
    void blank()
    {
        GdiFlush();
        for (int y = 0; y < m_page.height(); ++y)
            for (int x = 0; x < m_page.width(); ++x)
                m_page.set_pixel(x, y, white);
    }
    void note(std::string what, int x, int y, int right, int bottom)
    {
        GdiFlush();
        elements.push_back({std::move(what), x, y, right, bottom, -current_font().height,
                            m_page.ink({0, 0, m_page.width(), m_page.height()}, white)});
    }
    MemoryPage& m_page;
};

// The receipt's print layout drawn on a page of 120 x 140 mm at 96 dpi lands where the layout puts it:
// every rule on its row and columns, the two pictures filling their boxes, every text hanging from its
// point (the ink of its cell starts below and right of it, within the cell's upper half).
TEST_F(GdiSurfaceTest, ReceiptLandsWhereTheLayoutPutsIt)
{
    receipt::ReceiptData data;
    data.shop_name = "新世界百货"_gbk;
    data.receipt_number = "XS800000351234567890"_gbk;
    data.sale_date = "2014-10-06"_gbk;
    data.clerk_name = "店员甲"_gbk;
    data.shop_address = "新世界百货购物广场店"_gbk;
    data.total_text = "457.00"_gbk;
    data.logo_picture = bitmap_to_bmp(Bitmap(10, 6, 0xFF0000FF));
    data.code_picture = bitmap_to_bmp(Bitmap(30, 30, 0xFF00FF00));
    receipt::ReceiptLines lines;
    lines.append({"跑步鞋"_gbk, "42"_gbk, "199.00"_gbk, "2"_gbk, "398.00"_gbk});
    lines.append({"运动袜"_gbk, "L"_gbk, "59.00"_gbk, "1"_gbk, "59.00"_gbk});

    MemoryPage paper(454, 529, white); // 120 x 140 mm
    MeasuringSurface surface(paper);
    surface.set_mapping_mode(mapping_tenth_mm);
    surface.attach(paper.dc());
    receipt::draw_receipt_print(surface, data, lines);
    surface.detach();

    const auto device = [](int units) { return static_cast<LONG>(std::lround(units * 96.0 / 254.0)); };
    int counts[3] = {};
    for (const auto& e : surface.elements) {
        SCOPED_TRACE(e.what + " at " + std::to_string(e.x) + "," + std::to_string(e.y));
        ASSERT_GE(e.ink.left, 0) << "nothing drawn";
        if (e.what == "line" || e.what == "picture") {
            ++counts[e.what == "line" ? 0 : 1];
            const LONG bottom = e.what == "line" ? device(e.y) + 1 : device(e.bottom);
            EXPECT_NEAR(e.ink.left, device(e.x), 1);
            EXPECT_NEAR(e.ink.top, device(e.y), 1);
            EXPECT_NEAR(e.ink.right, device(e.right), 1);
            EXPECT_NEAR(e.ink.bottom, bottom, 1);
        } else {
            ++counts[2];
            const LONG em = device(e.height);
            EXPECT_GE(e.ink.top, device(e.y));
            EXPECT_LT(e.ink.top, device(e.y) + em / 2);
            EXPECT_GE(e.ink.left, device(e.x));
            EXPECT_LT(e.ink.left, device(e.x) + em); // "  0.00" starts with two blanks
        }
    }
    EXPECT_EQ(counts[0], 6);  // rules
    EXPECT_EQ(counts[1], 2);  // logo and QR code
    EXPECT_EQ(counts[2], 33); // literal texts, values and the two item rows
}

} // namespace
} // namespace vorsa::runtime
