#include "qt_test_app.h"
#include "runtime/qt/page_surface.h"
#include "runtime/text/gbk.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <gtest/gtest.h>

namespace vorsa::runtime {
namespace {

using namespace literals;

// A 120 x 140 mm page without margins, painted into memory at `dpi`.
class Page
{
public:
    explicit Page(int dpi) : m_writer(&m_buffer)
    {
        m_buffer.open(QIODevice::WriteOnly);
        m_writer.setResolution(dpi);
        m_writer.setPageLayout(QPageLayout(QPageSize(QSizeF(120, 140), QPageSize::Millimeter),
                                           QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        m_painter.begin(&m_writer);
    }
    ~Page() { m_painter.end(); }

    QPdfWriter& writer() { return m_writer; }
    QPainter& painter() { return m_painter; }

private:
    QApplication& m_application = testing::test_application();
    QBuffer m_buffer;
    QPdfWriter m_writer;
    QPainter m_painter;
};

TEST(PageSurface, FontHeightsFollowThePrinterResolution)
{
    struct Case
    {
        int dpi;
        double points;
        int height;
    };
    const Case cases[] = {
        {203, 9, -20}, {300, 9, -14}, {600, 9, -7}, {203, 13, -28}, {300, 13, -19}, {600, 13, -10},
    };
    for (const Case& c : cases) {
        Page page(c.dpi);
        PageSurface surface;
        surface.attach(page.writer(), page.painter());
        surface.set_mapping_mode(mapping_tenth_mm);
        surface.set_font(make_font("宋体"_gbk, c.points, true));
        EXPECT_EQ(surface.current_font().height, c.height) << c.points << " pt at " << c.dpi << " dpi";
        EXPECT_EQ(surface.current_font().weight, weight_bold);
    }
}

TEST(PageSurface, TheReportedResolutionDecidesTheFontConversion)
{
    Page page(1200);
    PageSurface surface;
    surface.attach(page.writer(), page.painter(), 203);
    surface.set_mapping_mode(mapping_tenth_mm);
    surface.set_font(make_font("宋体"_gbk, 9, true));
    EXPECT_EQ(surface.current_font().height, -20);
    // Widths keep the device's own resolution.
    EXPECT_EQ(surface.to_logical_units(1200, Axis::horizontal), 339);
}

TEST(PageSurface, WithoutABindingNothingIsConverted)
{
    testing::test_application();
    PageSurface surface;
    EXPECT_FALSE(surface.attached());
    surface.set_mapping_mode(mapping_tenth_mm);
    EXPECT_EQ(surface.to_logical_units(-12, Axis::vertical), -12);
    // Drawing without a page is harmless.
    surface.draw_line(0, 0, 100, 100);
    surface.draw_string(0, 0, "x");
    surface.clear_board();

    Page page(300);
    surface.attach(page.writer(), page.painter());
    EXPECT_EQ(surface.to_logical_units(-12, Axis::vertical), -14);
    surface.detach();
    EXPECT_EQ(surface.to_logical_units(-12, Axis::vertical), -12);
}

} // namespace
} // namespace vorsa::runtime
