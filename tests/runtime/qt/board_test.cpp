#include "qt_test_app.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/qt/qt_paint.h"
#include "runtime/qt/qt_text.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace vorsa::runtime {
namespace {

using namespace literals;

bool is_dark(QRgb pixel)
{
    return qGray(pixel) < 128;
}

// The first row (from the top) or column (from the left) of `image` that holds a dark pixel; none
// when the image has none.
std::optional<int> first_dark_row(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (is_dark(image.pixel(x, y))) return y;
    return std::nullopt;
}

std::optional<int> first_dark_column(const QImage& image)
{
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (is_dark(image.pixel(x, y))) return x;
    return std::nullopt;
}

// The preview's board: 340 x 400 pixels at (180, 8) in a main window, auto-redraw on, mode 1.
class BoardTest : public ::testing::Test
{
protected:
    BoardTest()
    {
        window.resize(540, 420);
        board.create_board(&window, 180, 8, 340, 400);
        board.set_auto_redraw(true);
        board.set_mapping_mode(mapping_pixels);
        window.show();
    }

    QRgb pixel(int x, int y) const { return board.off_screen_copy().pixel(x, y); }
    QRgb background() const { return board.background_colour().rgb(); }

    QApplication& application = testing::test_application();
    QWidget window;
    DrawingBoard board;
};

TEST_F(BoardTest, IsAChildOfTheGivenSizeInThePixelMode)
{
    EXPECT_EQ(board.parentWidget(), &window);
    EXPECT_EQ(board.geometry(), QRect(180, 8, 340, 400));
    EXPECT_EQ(board.mapping_mode(), mapping_pixels);
    EXPECT_EQ(board.off_screen_copy().size(), QSize(340, 400));
    EXPECT_EQ(board.background_colour(), window.palette().color(QPalette::Button));
    EXPECT_TRUE(board.is_visible());
    EXPECT_TRUE(board.auto_redraw());
}

TEST_F(BoardTest, ALineDrawsItsStartButNotItsEnd)
{
    struct Case
    {
        int x1, y1, x2, y2;
        std::vector<QPoint> drawn;
        QPoint not_drawn;
    };
    const Case cases[] = {
        {0, 100, 300, 100, {{0, 100}, {150, 100}, {299, 100}}, {300, 100}},
        {10, 10, 10, 20, {{10, 10}, {10, 19}}, {10, 20}},
        {50, 50, 45, 45, {{50, 50}, {49, 49}, {46, 46}}, {45, 45}},
        {200, 300, 220, 300, {{200, 300}, {219, 300}}, {220, 300}},
    };
    for (const Case& c : cases) {
        board.clear_board();
        board.draw_line(c.x1, c.y1, c.x2, c.y2);
        for (QPoint p : c.drawn)
            EXPECT_EQ(pixel(p.x(), p.y()), qRgb(0, 0, 0)) << p.x() << "," << p.y();
        EXPECT_EQ(pixel(c.not_drawn.x(), c.not_drawn.y()), background())
            << c.not_drawn.x() << "," << c.not_drawn.y();
    }
    // One pixel wide: the rows beside a horizontal line stay untouched.
    board.clear_board();
    board.draw_line(0, 100, 300, 100);
    for (int x = 0; x < 340; ++x) {
        EXPECT_EQ(pixel(x, 99), background());
        EXPECT_EQ(pixel(x, 101), background());
    }
}

TEST_F(BoardTest, TextWithAnOmittedXStartsWhereTheLastLineEnded)
{
    board.clear_board();
    board.set_font(make_font("宋体"_gbk, 9));
    board.draw_line(0, 100, 300, 100);
    board.draw_string(std::nullopt, 150, "THANK"_gbk);
    const QImage below = board.off_screen_copy().copy(0, 120, 340, 80);
    const auto column = first_dark_column(below);
    ASSERT_TRUE(column);
    EXPECT_GE(*column, 300);
    EXPECT_LE(*column, 303);
}

TEST_F(BoardTest, TheSheetRectangleCoversTheWholeBoard)
{
    board.clear_board();
    board.draw_rectangle(0, 0, 340, 400);
    const QImage& copy = board.off_screen_copy();
    int outline = 0, interior = 0;
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 340; ++x) {
            const bool edge = x == 0 || x == 339 || y == 0 || y == 399;
            const QRgb expected = edge ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            ASSERT_EQ(copy.pixel(x, y), expected) << x << "," << y;
            (edge ? outline : interior)++;
        }
    }
    EXPECT_EQ(outline, 2 * 340 + 2 * 398);
    EXPECT_EQ(interior, 338 * 398);
}

TEST_F(BoardTest, ARectangleLeavesItsRightColumnAndBottomRowOutside)
{
    board.clear_board();
    board.draw_rectangle(10, 20, 30, 25);
    EXPECT_EQ(pixel(10, 20), qRgb(0, 0, 0));
    EXPECT_EQ(pixel(29, 24), qRgb(0, 0, 0));
    EXPECT_EQ(pixel(15, 22), qRgb(255, 255, 255));
    EXPECT_EQ(pixel(30, 22), background());
    EXPECT_EQ(pixel(15, 25), background());
    EXPECT_EQ(pixel(9, 22), background());
    EXPECT_EQ(pixel(15, 19), background());
}

TEST_F(BoardTest, ClearingPaintsTheBackgroundAndResetsThePosition)
{
    board.draw_rectangle(0, 0, 340, 400);
    board.draw_line(5, 5, 100, 100);
    board.clear_board(10, 20, 30, 40);
    EXPECT_EQ(board.current_position(), (Point{10, 20}));
    EXPECT_EQ(pixel(10, 20), background());
    EXPECT_EQ(pixel(39, 59), background());
    EXPECT_EQ(pixel(40, 59), qRgb(255, 255, 255));
    EXPECT_EQ(pixel(9, 20), qRgb(255, 255, 255));

    board.clear_board();
    EXPECT_EQ(board.current_position(), (Point{0, 0}));
    const QImage& copy = board.off_screen_copy();
    for (int y = 0; y < copy.height(); ++y)
        for (int x = 0; x < copy.width(); ++x)
            ASSERT_EQ(copy.pixel(x, y), background()) << x << "," << y;
}

TEST_F(BoardTest, TheTopOfATextsCharacterCellIsAtTheGivenRow)
{
    struct Case
    {
        double points;
        bool bold;
        const char* text;
    };
    const Case cases[] = {{9, false, "授权经销商"}, {8, true, "THANK YOU"}, {17, true, "单据号"}};
    for (const Case& c : cases) {
        board.clear_board();
        board.draw_rectangle(0, 0, 340, 400);
        board.set_font(make_font("宋体"_gbk, c.points, c.bold));
        board.draw_string(10, 20, gbk_from_utf8(c.text));
        const QImage inside = board.off_screen_copy().copy(1, 1, 338, 398);

        // The ink starts where the glyphs' tops lie below the cell top: cell top + ascent + glyph top.
        QFont font = to_qfont(board.current_font(), 1.0);
        const QRectF ink = QFontMetricsF(font).tightBoundingRect(to_qstring(gbk_from_utf8(c.text)));
        const double expected_top = 20 + QFontMetricsF(font).ascent() + ink.top();
        const auto row = first_dark_row(inside);
        const auto column = first_dark_column(inside);
        ASSERT_TRUE(row && column) << c.text;
        EXPECT_NEAR(*row + 1, expected_top, 1.5) << c.text;
        EXPECT_GE(*row + 1, 20) << c.text;
        EXPECT_GE(*column + 1, 10) << c.text;
        EXPECT_LE(*column + 1, 13) << c.text;
    }
}

TEST_F(BoardTest, TextIsTransparentAndInTheTextColour)
{
    // On the grey background: an opaque text would leave a box of its own background colour.
    board.clear_board();
    board.set_font(make_font("宋体"_gbk, 17, true));
    board.set_text_color(0x0000FF); // red as 0x00BBGGRR
    board.draw_string(10, 20, "国国国"_gbk);
    int red = 0, untouched = 0, foreign = 0;
    for (int y = 20; y < 45; ++y)
        for (int x = 10; x < 80; ++x) {
            const QRgb p = pixel(x, y);
            if (p == background()) {
                ++untouched;
            } else if (qRed(p) > 200 && qGreen(p) < 40 && qBlue(p) < 40) {
                ++red;
            } else if (qRed(p) < qGreen(p) || qGreen(p) > qRed(background())) {
                ++foreign; // neither background, red nor a blend of the two
            }
        }
    EXPECT_GT(red, 100);
    EXPECT_GT(untouched, 500);
    EXPECT_EQ(foreign, 0);
    EXPECT_EQ(pixel(11, 20), background());
}

TEST_F(BoardTest, TextIsNeitherClippedNorWrapped)
{
    board.clear_board();
    board.set_font(make_font("宋体"_gbk, 9));
    const Text long_line = "一联存根(白)   二联客户(红)   三联财务(黄)一联存根(白)   二联客户(红)"_gbk;
    board.draw_string(200, 380, long_line);
    // It runs to the right edge and never comes back on a second line.
    int dark_at_edge = 0;
    for (int y = 380; y < 395; ++y)
        dark_at_edge += is_dark(pixel(339, y)) || is_dark(pixel(338, y)) ? 1 : 0;
    EXPECT_GT(dark_at_edge, 0);
    const QImage above = board.off_screen_copy().copy(0, 0, 340, 378);
    EXPECT_FALSE(first_dark_row(above));
}

TEST_F(BoardTest, PicturesAreStretchedToExactlyTheGivenSize)
{
    Bitmap quarters(2, 2);
    quarters.set_pixel(0, 0, 0xFFFF0000);
    quarters.set_pixel(1, 0, 0xFF00FF00);
    quarters.set_pixel(0, 1, 0xFF0000FF);
    quarters.set_pixel(1, 1, 0xFFFFFFFF);
    board.clear_board();
    board.draw_picture(quarters, 100, 100, 40, 60);
    const auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) < 16 && std::abs(qGreen(a) - qGreen(b)) < 16 &&
               std::abs(qBlue(a) - qBlue(b)) < 16;
    };
    EXPECT_TRUE(near(pixel(100, 100), qRgb(255, 0, 0)));
    EXPECT_TRUE(near(pixel(139, 100), qRgb(0, 255, 0)));
    EXPECT_TRUE(near(pixel(100, 159), qRgb(0, 0, 255)));
    EXPECT_TRUE(near(pixel(139, 159), qRgb(255, 255, 255)));
    EXPECT_EQ(pixel(99, 100), background());
    EXPECT_EQ(pixel(140, 100), background());
    EXPECT_EQ(pixel(100, 99), background());
    EXPECT_EQ(pixel(100, 160), background());
}

// What the board tells screen readers: the texts it shows, a line for each height from the top and
// the texts of a line from the left; a text whose start is painted over by a clearing, a rectangle or a
// picture is gone, a line crossing it is not.
TEST_F(BoardTest, ScreenReadersHearTheTextsTheBoardShows)
{
    const Bitmap grey(4, 4);
    const struct
    {
        const char* what;
        std::function<void()> paint_over;
        const char* shown;
    } rows[] = {
        {"nothing painted over", [] {}, "授权经销商 单据号\n合计："},
        {"cleared", [this] { board.clear_board(); }, ""},
        {"the lower line cleared", [this] { board.clear_board(0, 25, 340, 20); }, "授权经销商 单据号"},
        {"a rectangle over the upper line's start", [this] { board.draw_rectangle(0, 0, 60, 20); },
         "单据号\n合计："},
        {"a picture over the lower line", [&] { board.draw_picture(grey, 5, 28, 40, 10); },
         "授权经销商 单据号"},
        {"a line across every text", [this] { board.draw_line(0, 12, 340, 32); },
         "授权经销商 单据号\n合计："},
    };
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&board);
    ASSERT_NE(accessible, nullptr);
    board.setAccessibleName(QStringLiteral("小票预览"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        board.clear_board();
        board.set_font(make_font("宋体"_gbk, 9));
        // Drawn out of order, and an empty text that shows nothing.
        board.draw_string(10, 30, "合计："_gbk);
        board.draw_string(100, 10, "单据号"_gbk);
        board.draw_string(200, 60, "");
        board.draw_string(10, 10, "授权经销商"_gbk);
        row.paint_over();
        EXPECT_EQ(board.shown_text(), QString::fromUtf8(row.shown));
        EXPECT_EQ(accessible->role(), QAccessible::Graphic);
        EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("小票预览"));
        EXPECT_EQ(accessible->text(QAccessible::Description), QString::fromUtf8(row.shown));
    }
    // A description of the program's own takes the texts' place.
    board.setAccessibleDescription(QStringLiteral("title"));
    EXPECT_EQ(accessible->text(QAccessible::Description), QStringLiteral("title"));
}

TEST_F(BoardTest, DrawingWhileHiddenShowsAfterwards)
{
    board.clear_board();
    board.set_visible(false);
    EXPECT_FALSE(board.is_visible());
    board.draw_rectangle(0, 0, 340, 400);
    board.draw_line(0, 200, 340, 200);
    board.set_visible(true);
    EXPECT_TRUE(board.is_visible());

    // What the widget paints is the copy, whole or in part.
    const QImage shown = board.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, board.off_screen_copy());
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(170, 200), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(170, 100), qRgb(255, 255, 255));
    const QImage part = board.grab(QRect(150, 190, 40, 20)).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(part, board.off_screen_copy().copy(150, 190, 40, 20));
}

TEST_F(BoardTest, ASecondAutoRedrawKeepsThePicture)
{
    board.clear_board();
    board.draw_rectangle(0, 0, 340, 400);
    const QImage before = board.off_screen_copy();
    EXPECT_TRUE(board.set_auto_redraw(true));
    EXPECT_EQ(board.off_screen_copy(), before);
    board.resize(360, 410);
    EXPECT_EQ(board.off_screen_copy().size(), QSize(360, 410));
    EXPECT_EQ(board.off_screen_copy().copy(0, 0, 340, 400), before);
    EXPECT_EQ(board.off_screen_copy().pixel(350, 405), background());
}

TEST_F(BoardTest, FontHeightsStayInScreenPixels)
{
    ASSERT_EQ(screen_vertical_dpi(), 96);
    const std::pair<double, int> cases[] = {{8, -11}, {9, -12}, {10, -13}, {13, -17}, {15, -20}, {17, -23}};
    for (auto [points, height] : cases) {
        board.set_font(make_font("宋体"_gbk, points, true));
        EXPECT_EQ(board.current_font().height, height) << points;
        EXPECT_EQ(board.current_font().weight, weight_bold);
    }
}

TEST(BoardWithoutWindow, DrawsNothingAndConvertsNothing)
{
    testing::test_application();
    DrawingBoard board;
    EXPECT_EQ(board.to_logical_units(-12, Axis::vertical), -12);
    board.draw_rectangle(0, 0, 10, 10);
    board.set_visible(true);
    EXPECT_FALSE(board.is_visible());
    EXPECT_TRUE(board.off_screen_copy().isNull());
}

} // namespace
} // namespace vorsa::runtime
