#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorsa::runtime {
namespace {

// A surface over a pretend device whose resolution and presence the test sets; it writes down every
// primitive that reaches the device.
class FakeSurface : public DrawingSurface
{
public:
    bool attached = true;
    int horizontal_dpi = 96;
    int vertical_dpi = 96;
    std::vector<std::string> calls;

protected:
    bool has_target() const override { return attached; }
    int device_resolution(Axis axis) const override
    {
        return axis == Axis::horizontal ? horizontal_dpi : vertical_dpi;
    }
    Size drawing_area() const override { return {340, 400}; }
    void render_line(Point from, Point to) override
    {
        calls.push_back("line " + point(from) + " " + point(to));
    }
    void render_rectangle(int left, int top, int right, int bottom) override
    {
        calls.push_back("rect " + point({left, top}) + " " + point({right, bottom}));
    }
    void render_text(Point at, const Text& text) override
    {
        calls.push_back("text " + point(at) + " " + text);
    }
    void render_picture(const Bitmap& bitmap, int x, int y, int width, int height) override
    {
        calls.push_back("picture " + std::to_string(bitmap.width) + "x" + std::to_string(bitmap.height) +
                        " at " + point({x, y}) + " " + std::to_string(width) + "x" + std::to_string(height));
    }
    void render_background(int x, int y, int width, int height) override
    {
        calls.push_back("clear " + point({x, y}) + " " + std::to_string(width) + "x" +
                        std::to_string(height));
    }

private:
    static std::string point(Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }
};

class ScreenDpi : public ::testing::Test
{
protected:
    void TearDown() override { set_screen_dpi_source(nullptr); }
};

using MakeFontTest = ScreenDpi;

TEST_F(MakeFontTest, HeightIsNegativePointsAtTheScreenResolutionRounded)
{
    struct Case
    {
        int dpi;
        double points;
        int height;
    };
    const Case cases[] = {
        {96, 8, -11},  {96, 9, -12},  {96, 10, -13}, {96, 12, -16}, {96, 13, -17},
        {96, 15, -20}, {96, 17, -23}, {120, 9, -15}, {144, 8, -16}, {72, 8, -8},
    };
    for (const Case& c : cases) {
        set_screen_dpi_source([dpi = c.dpi] { return dpi; });
        EXPECT_EQ(make_font("SimSun", c.points)->height, c.height)
            << c.points << " pt at " << c.dpi << " dpi";
    }
}

TEST_F(MakeFontTest, WithoutAScreenTheResolutionIs96)
{
    set_screen_dpi_source(nullptr);
    EXPECT_EQ(screen_vertical_dpi(), 96);
    set_screen_dpi_source([] { return 0; });
    EXPECT_EQ(screen_vertical_dpi(), 96);
}

TEST_F(MakeFontTest, CarriesTheOptionsAndCutsTheFaceAt31Bytes)
{
    const auto plain = make_font("Face", 9);
    EXPECT_EQ(plain->weight, weight_default);
    EXPECT_FALSE(plain->italic || plain->underline || plain->strike_out);
    EXPECT_EQ(plain->escapement, 0);

    const auto all = make_font(std::string(40, 'f'), 9, true, true, true, true, 900);
    EXPECT_EQ(all->face, std::string(31, 'f'));
    EXPECT_EQ(all->weight, weight_bold);
    EXPECT_TRUE(all->italic && all->underline && all->strike_out);
    EXPECT_EQ(all->escapement, 900);
}

TEST(ToLogicalUnits, FactorTableRoundedHalfAwayFromZero)
{
    struct Case
    {
        int mode;
        int dpi;
        int length;
        int expected;
    };
    const Case cases[] = {
        {2, 203, -12, -20}, {2, 300, -12, -14}, {2, 600, -12, -7}, {2, 203, -16, -27}, {2, 203, -17, -28},
        {2, 678, 1, 1},     {2, 678, -1, -1},   {2, 678, 3, 2},    {3, 3387, 5, 5},    {4, 266, 1, 1},
        {5, 1333, 7, 7},    {6, 3840, 1, 1},    {6, 3840, -3, -2}, {1, 203, -12, -12}, {1, 600, 1234, 1234},
    };
    for (const Case& c : cases) {
        FakeSurface surface;
        surface.vertical_dpi = c.dpi;
        surface.set_mapping_mode(c.mode);
        EXPECT_EQ(surface.to_logical_units(c.length, Axis::vertical), c.expected)
            << "mode " << c.mode << ", " << c.length << " px at " << c.dpi << " dpi";
    }
}

TEST(ToLogicalUnits, EachAxisUsesItsOwnResolution)
{
    FakeSurface surface;
    surface.horizontal_dpi = 600;
    surface.vertical_dpi = 203;
    surface.set_mapping_mode(mapping_tenth_mm);
    EXPECT_EQ(surface.to_logical_units(-12, Axis::horizontal), -7);
    EXPECT_EQ(surface.to_logical_units(-12, Axis::vertical), -20);
}

TEST(ToLogicalUnits, WithoutATargetTheLengthIsUnchanged)
{
    FakeSurface surface;
    surface.attached = false;
    surface.vertical_dpi = 203;
    EXPECT_EQ(surface.mapping_mode(), mapping_tenth_mm);
    EXPECT_EQ(surface.to_logical_units(-12, Axis::vertical), -12);
}

TEST(SetFont, ConvertsTheScreenHeightIntoTheSurfaceUnits)
{
    struct Case
    {
        int mode;
        int dpi;
        double points;
        int height;
    };
    // Screen at 96 dpi: 9 pt is -12 px, 13 pt is -17 px.
    const Case cases[] = {
        {1, 96, 9, -12},  {2, 203, 9, -20},  {2, 300, 9, -14},  {2, 600, 9, -7},
        {1, 96, 13, -17}, {2, 203, 13, -28}, {2, 300, 13, -19}, {2, 600, 13, -10},
    };
    set_screen_dpi_source([] { return 96; });
    for (const Case& c : cases) {
        FakeSurface surface;
        surface.vertical_dpi = c.dpi;
        surface.set_mapping_mode(c.mode);
        surface.set_font(make_font("SimSun", c.points, true));
        EXPECT_EQ(surface.current_font().height, c.height)
            << c.points << " pt, mode " << c.mode << ", " << c.dpi;
        EXPECT_EQ(surface.current_font().weight, weight_bold);
    }
    set_screen_dpi_source(nullptr);
}

TEST(SetFont, WeightsFrom401AreBoldAndOthersTheDefault)
{
    const std::pair<int, int> cases[] = {{0, 0}, {400, 0}, {401, 800}, {700, 800}, {800, 800}, {1000, 800}};
    for (auto [weight, expected] : cases) {
        FakeSurface surface;
        auto font = std::make_unique<FontDescription>();
        font->weight = weight;
        surface.set_font(std::move(font));
        EXPECT_EQ(surface.current_font().weight, expected) << weight;
    }
}

TEST(SetFont, AFontCurrentAcrossAModeChangeIsConvertedAgain)
{
    FakeSurface surface;
    surface.vertical_dpi = 203;
    surface.set_mapping_mode(mapping_pixels);
    auto font = std::make_unique<FontDescription>();
    font->height = -12;
    surface.set_font(std::move(font));
    EXPECT_EQ(surface.current_font().height, -12);
    surface.set_mapping_mode(mapping_tenth_mm);
    EXPECT_EQ(surface.current_font().height, -20);
    // Mode 1 converts nothing, so going back keeps the scaled height.
    surface.set_mapping_mode(mapping_pixels);
    EXPECT_EQ(surface.current_font().height, -20);
}

TEST(SetFont, BeforeATargetExistsTheHeightStaysInScreenPixels)
{
    FakeSurface surface;
    surface.attached = false;
    surface.vertical_dpi = 203;
    auto font = std::make_unique<FontDescription>();
    font->height = -12;
    surface.set_font(std::move(font));
    EXPECT_EQ(surface.current_font().height, -12);
}

TEST(TextColour, KeepsTheLow24Bits)
{
    FakeSurface surface;
    EXPECT_EQ(surface.text_color(), colour_black);
    surface.set_text_color(0x7F123456);
    EXPECT_EQ(surface.text_color(), 0x123456u);
}

TEST(CurrentPosition, MovedByLinesAndClearingButNotByTextOrPictures)
{
    FakeSurface surface;
    surface.set_mapping_mode(mapping_pixels);
    EXPECT_EQ(surface.current_position(), (Point{0, 0}));
    surface.draw_line(0, 100, 300, 100);
    EXPECT_EQ(surface.current_position(), (Point{300, 100}));
    surface.draw_string(std::nullopt, 120, "abc");
    surface.draw_string(std::nullopt, std::nullopt, "def");
    surface.draw_picture(Bitmap(2, 2), 5, 5, 10, 10);
    EXPECT_EQ(surface.current_position(), (Point{300, 100}));
    surface.clear_board(7, 9, 20, 30);
    EXPECT_EQ(surface.current_position(), (Point{7, 9}));
    surface.clear_board();
    EXPECT_EQ(surface.current_position(), (Point{0, 0}));

    const std::vector<std::string> expected = {
        "line 0,100 300,100",       "text 300,120 abc", "text 300,100 def",
        "picture 2x2 at 5,5 10x10", "clear 7,9 20x30",  "clear 0,0 340x400",
    };
    EXPECT_EQ(surface.calls, expected);
}

TEST(Primitives, ClearingDefaultsToTheWholeAreaFromTheGivenCorner)
{
    FakeSurface surface;
    surface.clear_board(std::nullopt, 15);
    surface.clear_board(4, std::nullopt, std::nullopt, 8);
    const std::vector<std::string> expected = {"clear 0,15 340x400", "clear 4,0 340x8"};
    EXPECT_EQ(surface.calls, expected);
}

TEST(Primitives, AnOmittedPictureSizeIsThePixelSizeConverted)
{
    FakeSurface surface;
    surface.horizontal_dpi = 203;
    surface.vertical_dpi = 300;
    surface.draw_picture(Bitmap(203, 300), 0, 0);
    surface.set_mapping_mode(mapping_pixels);
    surface.draw_picture(Bitmap(203, 300), 1, 2, std::nullopt, 50);
    const std::vector<std::string> expected = {"picture 203x300 at 0,0 339x339",
                                               "picture 203x300 at 1,2 203x50"};
    EXPECT_EQ(surface.calls, expected);
}

TEST(Primitives, NothingReachesADeviceThatIsNotThere)
{
    FakeSurface surface;
    surface.attached = false;
    surface.draw_line(0, 0, 10, 10);
    surface.draw_rectangle(0, 0, 10, 10);
    surface.draw_string(1, 1, "x");
    surface.draw_picture(Bitmap(1, 1), 0, 0, 1, 1);
    surface.clear_board();
    EXPECT_TRUE(surface.calls.empty());
}

TEST(Primitives, EmptyTextsAndPicturesDrawNothing)
{
    FakeSurface surface;
    surface.draw_string(1, 1, "");
    surface.draw_picture(Bitmap(), 0, 0, 10, 10);
    surface.draw_picture(Bitmap(3, 3), 0, 0, 0, 10);
    EXPECT_TRUE(surface.calls.empty());
}

} // namespace
} // namespace vorsa::runtime
