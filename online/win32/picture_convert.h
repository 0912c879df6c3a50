#pragma once
// Re-encodes a picture held in memory through the Windows Imaging Component: BMP, PNG, JPEG, GIF, TIFF
// and icons in, one of five formats out. BMP comes out in the program's own form (bitmap_to_bmp of
// runtime/surface/picture.h: 32 bits, the picture laid on white), the other four as WIC's encoders write
// them with their default settings. Windows only.

#include "runtime/text/bytes.h"

namespace vorsa::online {

using runtime::Bytes;

enum class PictureFormat
{
    bmp = 1,
    jpeg = 2,
    gif = 3,
    tiff = 4,
    png = 5
};

// The most pixels a picture may have to be converted: one beyond is refused from the size in its
// header, before it is decoded (a PNG of 56 kB can declare 4000 x 4000 pixels, 64 MB).
inline constexpr long long max_picture_pixels = 2048LL * 2048LL;

// The picture in the given format. Empty for an empty input, a value outside the formats above, bytes
// that do not decode, or a picture of more than max_picture_pixels pixels.
Bytes convert_picture(const Bytes& picture, PictureFormat format);

// As convert_picture, with a picture wider than `max_width` or higher than `max_height` scaled down,
// its proportions kept, to the largest size that fits both (at least one pixel each way). Smaller
// pictures keep their size.
Bytes convert_picture_to_fit(const Bytes& picture, PictureFormat format, int max_width, int max_height);

} // namespace vorsa::online
