// The board on a screen with two device pixels per logical pixel: the copy keeps the logical units
// and holds twice the pixels, and the outlines stay one device pixel wide on the outer edge.
#include "qt_test_app.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/text/gbk.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace vorsa::runtime {
namespace {

using namespace literals;

class HighDpiBoard : public ::testing::Test
{
protected:
    HighDpiBoard()
    {
        window.resize(540, 420);
        board.create_board(&window, 180, 8, 340, 400);
        board.set_auto_redraw(true);
        window.show();
    }

    static QApplication& application_at_twice_the_pixels()
    {
        qputenv("QT_SCALE_FACTOR", "2");
        return testing::test_application();
    }

    QApplication& application = application_at_twice_the_pixels();
    QWidget window;
    DrawingBoard board;
};

TEST_F(HighDpiBoard, KeepsLogicalUnitsAtTheDevicePixelRatio)
{
    ASSERT_EQ(board.devicePixelRatioF(), 2.0);
    const QImage& copy = board.off_screen_copy();
    EXPECT_EQ(copy.size(), QSize(680, 800));

    board.clear_board();
    board.draw_rectangle(0, 0, 340, 400);
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
    EXPECT_EQ(copy.pixel(0, 0), black);
    EXPECT_EQ(copy.pixel(679, 400), black);
    EXPECT_EQ(copy.pixel(340, 799), black);
    EXPECT_EQ(copy.pixel(1, 400), white);
    EXPECT_EQ(copy.pixel(678, 400), white);

    board.draw_line(0, 100, 300, 100);
    EXPECT_EQ(copy.pixel(1, 200), black);
    EXPECT_EQ(copy.pixel(599, 200), black);
    EXPECT_EQ(copy.pixel(600, 200), white);
    EXPECT_EQ(copy.pixel(300, 201), white);

    // Fonts keep their sizes in logical pixels; the glyphs are drawn with twice the pixels.
    board.set_font(make_font("宋体"_gbk, 9));
    EXPECT_EQ(board.current_font().height, -12);
    board.draw_string(10, 20, "国"_gbk);
    int dark_rows = 0;
    for (int y = 40; y < 80; ++y) {
        bool dark = false;
        for (int x = 20; x < 60; ++x)
            dark = dark || qGray(copy.pixel(x, y)) < 128;
        dark_rows += dark ? 1 : 0;
    }
    EXPECT_GE(dark_rows, 18);

    // The widget shows it at its logical size.
    const QImage shown = board.grab().toImage();
    EXPECT_EQ(shown.size(), QSize(680, 800));
    EXPECT_EQ(shown.devicePixelRatio(), 2.0);
}

} // namespace
} // namespace vorsa::runtime
