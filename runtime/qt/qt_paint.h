#pragma once
// Conversions between the drawing surface's values and Qt's painting types, shared by the drawing
// board, the page surface and the picture decoder.

#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"

#include <QColor>
#include <QFont>
#include <QImage>

namespace vorsa::runtime {

QColor to_qcolor(Colour colour);

// The Qt font for a description whose height is in logical units, at `device_pixels_per_unit` device
// pixels per unit: a negative height is the em size, a positive one the cell height (ascent plus
// descent), 0 the face's default size.
QFont to_qfont(const FontDescription& font, double device_pixels_per_unit);

// The bitmap's pixels seen as an image without copying; valid while the bitmap is unchanged.
QImage image_view(const Bitmap& bitmap);
// A copy of the image as a bitmap; the null image gives the empty bitmap.
Bitmap bitmap_from_image(const QImage& image);

// Where a text's character cell starts, relative to its baseline: the font's ascent.
double cell_ascent(const QFont& font);

} // namespace vorsa::runtime
