#include "runtime/qt/page_surface.h"

#include "runtime/qt/qt_paint.h"
#include "runtime/qt/qt_text.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPagedPaintDevice>
#include <QPainter>
#include <cmath>

namespace vorsa::runtime {

namespace {

// The Song face of the printed page. The page is a PDF whose text layer names each glyph by the first
// code point that maps to it in the face, and Noto Serif CJK shares glyphs between code points (the
// ideograph 日 with the radical ⽇) and shapes the digits after Latin letters into glyphs no code point
// maps to: its page would read "⽇期" and "XS" without the number. These faces map their glyphs back
// one to one; Noto Serif CJK SC stays the last choice, as on the screen.
QString page_song_family()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* candidate : {"SimSun", "NSimSun", "AR PL UMing CN", "Noto Serif CJK SC"}) {
            const QString name = QString::fromLatin1(candidate);
            if (!installed.contains(name, Qt::CaseInsensitive)) continue;
            if (QFontInfo(QFont(name)).family().compare(name, Qt::CaseInsensitive) == 0) return name;
        }
        return QString();
    }();
    return family;
}

const Text song_face = gbk_from_utf8("宋体");

} // namespace

PageSurface::~PageSurface() = default;

void PageSurface::attach(QPagedPaintDevice& device, QPainter& painter, int reported_vertical_dpi)
{
    m_device = &device;
    m_painter = &painter;
    m_reported_vertical_dpi = reported_vertical_dpi;
    state_changed();
}

void PageSurface::detach()
{
    m_device = nullptr;
    m_painter = nullptr;
}

bool PageSurface::has_target() const
{
    return m_painter != nullptr && m_painter->isActive();
}

int PageSurface::device_resolution(Axis axis) const
{
    if (!m_device) return 0;
    if (axis == Axis::vertical && m_reported_vertical_dpi > 0) return m_reported_vertical_dpi;
    return axis == Axis::horizontal ? m_device->logicalDpiX() : m_device->logicalDpiY();
}

double PageSurface::unit_scale(Axis axis) const
{
    if (!m_device) return 1.0;
    const double units = physical_units_per_inch(mapping_mode());
    if (units == 0) return 1.0;
    const int dpi = axis == Axis::horizontal ? m_device->logicalDpiX() : m_device->logicalDpiY();
    return dpi / units;
}

Size PageSurface::drawing_area() const
{
    return {static_cast<int>(std::lround(m_device->width() / unit_scale(Axis::horizontal))),
            static_cast<int>(std::lround(m_device->height() / unit_scale(Axis::vertical)))};
}

void PageSurface::render_line(Point from, Point to)
{
    const double sx = unit_scale(Axis::horizontal), sy = unit_scale(Axis::vertical);
    m_painter->save();
    m_painter->setRenderHint(QPainter::Antialiasing, false);
    m_painter->setPen(QPen(Qt::black, 0));
    m_painter->drawLine(QLineF(from.x * sx, from.y * sy, to.x * sx, to.y * sy));
    m_painter->restore();
}

void PageSurface::render_rectangle(int left, int top, int right, int bottom)
{
    const double sx = unit_scale(Axis::horizontal), sy = unit_scale(Axis::vertical);
    const QRectF area = QRectF(QPointF(left * sx, top * sy), QPointF(right * sx, bottom * sy)).normalized();
    m_painter->save();
    m_painter->setPen(QPen(Qt::black, 0));
    m_painter->setBrush(Qt::white);
    // The right and bottom edges lie outside: the outline runs one device pixel inside them.
    m_painter->drawRect(area.adjusted(0, 0, -1, -1));
    m_painter->restore();
}

void PageSurface::render_text(Point at, const Text& text)
{
    m_painter->save();
    m_painter->setFont(m_qfont);
    m_painter->setPen(to_qcolor(text_color()));
    m_painter->translate(at.x * unit_scale(Axis::horizontal), at.y * unit_scale(Axis::vertical));
    if (current_font().escapement != 0) m_painter->rotate(-current_font().escapement / 10.0);
    m_painter->drawText(QPointF(0, cell_ascent(m_qfont)), to_qstring(text));
    m_painter->restore();
}

void PageSurface::render_picture(const Bitmap& bitmap, int x, int y, int w, int h)
{
    const double sx = unit_scale(Axis::horizontal), sy = unit_scale(Axis::vertical);
    QImage image = image_view(bitmap);
    if (w < 0 || h < 0) {
        image = image.mirrored(w < 0, h < 0);
        if (w < 0) x += w, w = -w;
        if (h < 0) y += h, h = -h;
    }
    m_painter->save();
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform);
    m_painter->drawImage(QRectF(x * sx, y * sy, w * sx, h * sy), image);
    m_painter->restore();
}

void PageSurface::render_background(int x, int y, int w, int h)
{
    // Paper has no other background than its own white.
    const double sx = unit_scale(Axis::horizontal), sy = unit_scale(Axis::vertical);
    m_painter->fillRect(QRectF(x * sx, y * sy, w * sx, h * sy).normalized(), Qt::white);
}

void PageSurface::state_changed()
{
    m_qfont = to_qfont(current_font(), unit_scale(Axis::vertical));
    // "宋体" stands for the page's Song face here, not the screen's.
    if (current_font().face == song_face) {
        const QString family = page_song_family();
        if (!family.isEmpty()) m_qfont.setFamily(family);
    }
}

} // namespace vorsa::runtime
