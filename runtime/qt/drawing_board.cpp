#include "runtime/qt/drawing_board.h"

#include "runtime/qt/qt_paint.h"
#include "runtime/qt/qt_text.h"
#include "runtime/surface/picture.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vorsa::runtime {

namespace {

// Device pixel edge of a logical coordinate.
int to_device(int logical, double scale)
{
    return static_cast<int>(std::lround(logical * scale));
}

// The board for assistive technologies: a picture, described by the text it shows unless the program
// gave it a description of its own.
class AccessibleBoard : public QAccessibleWidget
{
public:
    explicit AccessibleBoard(DrawingBoard* board) : QAccessibleWidget(board, QAccessible::Graphic) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Description && widget()->accessibleDescription().isEmpty())
            return static_cast<const DrawingBoard*>(widget())->shown_text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* make_accessible_board(const QString& class_name, QObject* object)
{
    if (class_name != QLatin1StringView(DrawingBoard::staticMetaObject.className())) return nullptr;
    auto* board = qobject_cast<DrawingBoard*>(object);
    return board ? new AccessibleBoard(board) : nullptr;
}

} // namespace

DrawingBoard::DrawingBoard()
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    static const bool accessible = [] {
        QAccessible::installFactory(make_accessible_board);
        return true;
    }();
    (void)accessible;
}

DrawingBoard::~DrawingBoard() = default;

bool DrawingBoard::create_board(QWidget* parent, int x, int y, int width, int height)
{
    setParent(parent);
    setGeometry(x, y, width, height);
    setCursor(Qt::ArrowCursor);
    m_background = palette().color(QPalette::Button);
    m_created = true;
    set_mapping_mode(mapping_pixels);
    make_copy();
    show();
    return true;
}

bool DrawingBoard::set_auto_redraw(bool on)
{
    m_auto_redraw = on;
    if (on && m_created) make_copy();
    return !m_copy.isNull();
}

void DrawingBoard::set_visible(bool shown)
{
    if (m_created) setVisible(shown);
}

bool DrawingBoard::is_visible() const
{
    return m_created && !isHidden();
}

void DrawingBoard::make_copy()
{
    const double ratio = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(width() * ratio)),
                       static_cast<int>(std::ceil(height() * ratio)));
    if (pixels.isEmpty()) return;
    if (m_copy.size() == pixels && m_copy_ratio == ratio) return;
    QImage copy(pixels, QImage::Format_RGB32);
    copy.fill(m_background);
    if (!m_copy.isNull()) {
        // Keep what was drawn: same device pixels when only the size changed, rescaled when the ratio did.
        QPainter painter(&copy);
        const double factor = ratio / m_copy_ratio;
        if (factor == 1.0) {
            painter.drawImage(QPoint(0, 0), m_copy);
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(0, 0, m_copy.width() * factor, m_copy.height() * factor), m_copy);
        }
    }
    m_copy = std::move(copy);
    m_copy_ratio = ratio;
    // The font's device size follows the copy's pixel ratio.
    state_changed();
    update();
}

double DrawingBoard::unit_scale(Axis axis) const
{
    const double ratio = m_copy.isNull() ? devicePixelRatioF() : m_copy_ratio;
    const double units = physical_units_per_inch(mapping_mode());
    if (units == 0) return ratio;
    const int dpi = axis == Axis::horizontal ? logicalDpiX() : logicalDpiY();
    return ratio * dpi / units;
}

void DrawingBoard::damage(int x, int y, int w, int h)
{
    // Device pixels back to widget pixels, widened to whole pixels.
    const double ratio = m_copy_ratio;
    const int left = static_cast<int>(std::floor(x / ratio)) - 1;
    const int top = static_cast<int>(std::floor(y / ratio)) - 1;
    const int right = static_cast<int>(std::ceil((x + w) / ratio)) + 1;
    const int bottom = static_cast<int>(std::ceil((y + h) / ratio)) + 1;
    update(QRect(left, top, right - left, bottom - top));
}

void DrawingBoard::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = event->rect();
    if (m_copy.isNull()) {
        painter.fillRect(area, m_background);
        return;
    }
    const double ratio = m_copy_ratio;
    painter.drawImage(
        QRectF(area), m_copy,
        QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
}

void DrawingBoard::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_created) make_copy();
}

bool DrawingBoard::has_target() const
{
    return m_created && !m_copy.isNull();
}

int DrawingBoard::device_resolution(Axis axis) const
{
    return axis == Axis::horizontal ? logicalDpiX() : logicalDpiY();
}

Size DrawingBoard::drawing_area() const
{
    return {static_cast<int>(std::lround(m_copy.width() / unit_scale(Axis::horizontal))),
            static_cast<int>(std::lround(m_copy.height() / unit_scale(Axis::vertical)))};
}

void DrawingBoard::render_line(Point from, Point to)
{
    const double sx = unit_scale(Axis::horizontal);
    const double sy = unit_scale(Axis::vertical);
    int x = to_device(from.x, sx);
    int y = to_device(from.y, sy);
    const int x_end = to_device(to.x, sx);
    const int y_end = to_device(to.y, sy);
    // Bresenham from the start point up to, not including, the end point: one device pixel wide.
    const int dx = std::abs(x_end - x);
    const int dy = -std::abs(y_end - y);
    const int step_x = x < x_end ? 1 : -1;
    const int step_y = y < y_end ? 1 : -1;
    int error = dx + dy;
    const QRgb black = qRgb(0, 0, 0);
    const int left = std::min(x, x_end), top = std::min(y, y_end);
    while (x != x_end || y != y_end) {
        if (x >= 0 && y >= 0 && x < m_copy.width() && y < m_copy.height())
            reinterpret_cast<QRgb*>(m_copy.scanLine(y))[x] = black;
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += step_x;
        }
        if (twice <= dx) {
            error += dx;
            y += step_y;
        }
    }
    damage(left, top, dx + 1, -dy + 1);
}

void DrawingBoard::render_rectangle(int left, int top, int right, int bottom)
{
    const double sx = unit_scale(Axis::horizontal);
    const double sy = unit_scale(Axis::vertical);
    int l = to_device(std::min(left, right), sx), r = to_device(std::max(left, right), sx);
    int t = to_device(std::min(top, bottom), sy), b = to_device(std::max(top, bottom), sy);
    if (r <= l || b <= t) return;
    QPainter painter(&m_copy);
    // Interior white, then the outline on the outermost device pixels: the right column and the bottom
    // row of the given rectangle lie outside it.
    painter.fillRect(QRect(l, t, r - l, b - t), Qt::black);
    if (r - l > 2 && b - t > 2) painter.fillRect(QRect(l + 1, t + 1, r - l - 2, b - t - 2), Qt::white);
    painter.end();
    painted_over(QRect(l, t, r - l, b - t));
    damage(l, t, r - l, b - t);
}

void DrawingBoard::render_text(Point at, const Text& text)
{
    const double sx = unit_scale(Axis::horizontal);
    const double sy = unit_scale(Axis::vertical);
    QPainter painter(&m_copy);
    painter.setFont(m_qfont);
    painter.setPen(to_qcolor(text_color()));
    painter.translate(at.x * sx, at.y * sy);
    if (current_font().escapement != 0) painter.rotate(-current_font().escapement / 10.0);
    const QString shown = to_qstring(text);
    painter.drawText(QPointF(0, cell_ascent(m_qfont)), shown);
    painter.end();
    text_drawn(QPoint(to_device(at.x, sx), to_device(at.y, sy)), shown);
    update();
}

void DrawingBoard::render_picture(const Bitmap& bitmap, int x, int y, int w, int h)
{
    const double sx = unit_scale(Axis::horizontal);
    const double sy = unit_scale(Axis::vertical);
    QImage image = image_view(bitmap);
    if (w < 0 || h < 0) {
        image = image.mirrored(w < 0, h < 0);
        if (w < 0) x += w, w = -w;
        if (h < 0) y += h, h = -h;
    }
    const int l = to_device(x, sx), t = to_device(y, sy);
    const QRect target(l, t, to_device(x + w, sx) - l, to_device(y + h, sy) - t);
    if (target.isEmpty()) return;
    QPainter painter(&m_copy);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    painter.end();
    painted_over(target);
    damage(target.x(), target.y(), target.width(), target.height());
}

void DrawingBoard::render_background(int x, int y, int w, int h)
{
    const double sx = unit_scale(Axis::horizontal);
    const double sy = unit_scale(Axis::vertical);
    const int l = to_device(x, sx), t = to_device(y, sy);
    const QRect area = QRect(l, t, to_device(x + w, sx) - l, to_device(y + h, sy) - t).normalized();
    QPainter painter(&m_copy);
    painter.fillRect(area, m_background);
    painter.end();
    painted_over(area);
    damage(area.x(), area.y(), area.width(), area.height());
}

void DrawingBoard::text_drawn(QPoint at, const QString& text)
{
    if (text.isEmpty()) return;
    m_texts.push_back({at, text});
    announce_text_change();
}

void DrawingBoard::painted_over(const QRect& area)
{
    const auto covered = std::remove_if(m_texts.begin(), m_texts.end(),
                                        [&area](const ShownText& shown) { return area.contains(shown.at); });
    if (covered == m_texts.end()) return;
    m_texts.erase(covered, m_texts.end());
    announce_text_change();
}

void DrawingBoard::announce_text_change()
{
    // Drawing the receipt puts a few dozen texts on the board; screen readers hear of it once, after
    // the drawing, and nothing is done when none is listening.
    if (m_text_change_announced || !QAccessible::isActive()) return;
    m_text_change_announced = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_text_change_announced = false;
            QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&changed);
        },
        Qt::QueuedConnection);
}

QString DrawingBoard::shown_text() const
{
    std::vector<ShownText> texts = m_texts;
    std::stable_sort(texts.begin(), texts.end(), [](const ShownText& a, const ShownText& b) {
        return a.at.y() != b.at.y() ? a.at.y() < b.at.y() : a.at.x() < b.at.x();
    });
    QString shown;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) shown += texts[i - 1].at.y() == texts[i].at.y() ? u' ' : u'\n';
        shown += texts[i].text;
    }
    return shown;
}

void DrawingBoard::state_changed()
{
    m_qfont = to_qfont(current_font(), unit_scale(Axis::vertical));
}

} // namespace vorsa::runtime
