#include "runtime/qt/qt_paint.h"

#include "runtime/qt/qt_text.h"

#include <QFontMetricsF>
#include <cmath>
#include <cstring>

namespace vorsa::runtime {

QColor to_qcolor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
                  static_cast<int>(colour >> 16 & 0xFF));
}

QFont to_qfont(const FontDescription& font, double device_pixels_per_unit)
{
    QFont qfont;
    if (!font.face.empty()) qfont.setFamily(to_qstring(font.face));
    qfont.setWeight(font.is_bold() ? QFont::ExtraBold : QFont::Normal);
    qfont.setItalic(font.italic);
    qfont.setUnderline(font.underline);
    qfont.setStrikeOut(font.strike_out);
    if (font.height < 0) {
        qfont.setPixelSize(std::max(1, static_cast<int>(std::lround(-font.height * device_pixels_per_unit))));
    } else if (font.height > 0) {
        // A cell height: scale the em so that ascent plus descent come out at the height asked for.
        QFont probe = qfont;
        probe.setPixelSize(1000);
        const QFontMetricsF metrics(probe);
        const double cell_per_em = (metrics.ascent() + metrics.descent()) / 1000.0;
        const double em = font.height * device_pixels_per_unit / (cell_per_em > 0 ? cell_per_em : 1.0);
        qfont.setPixelSize(std::max(1, static_cast<int>(std::lround(em))));
    }
    return qfont;
}

QImage image_view(const Bitmap& bitmap)
{
    if (bitmap.empty()) return {};
    return QImage(reinterpret_cast<const uchar*>(bitmap.pixels.data()), bitmap.width, bitmap.height,
                  static_cast<qsizetype>(bitmap.width) * 4, QImage::Format_ARGB32);
}

Bitmap bitmap_from_image(const QImage& image)
{
    if (image.isNull() || image.width() < 1 || image.height() < 1) return {};
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    Bitmap bitmap(argb.width(), argb.height());
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(&bitmap.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.width)],
                    argb.constScanLine(y), static_cast<std::size_t>(bitmap.width) * 4);
    return bitmap;
}

double cell_ascent(const QFont& font)
{
    return QFontMetricsF(font).ascent();
}

} // namespace vorsa::runtime
