#pragma once
// Re-encodes a picture held in memory: any format Qt's image readers decode (GIF, JPEG, PNG, BMP,
// TIFF and more) in, one of five formats out. GIF is written with giflib (Qt writes none), as one
// frame with a palette of at most 256 colours.

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

// The most pixels a picture may have to be converted. A small file can declare a huge picture (a PNG
// of 56 kB decodes to 4000 x 4000 pixels, 64 MB): one beyond this is refused before it is decoded.
// 2048 x 2048 pixels take 16 MB decoded.
inline constexpr long long max_picture_pixels = 2048LL * 2048LL;

// The picture in the given format, with the writers' default settings. Empty for an empty input, a
// value outside the formats above, bytes that do not decode, or a picture of more than
// max_picture_pixels pixels.
Bytes convert_picture(const Bytes& picture, PictureFormat format);

// As convert_picture, with a picture wider than `max_width` or higher than `max_height` scaled down,
// its proportions kept, to the largest size that fits both (at least one pixel each way). Smaller
// pictures keep their size.
Bytes convert_picture_to_fit(const Bytes& picture, PictureFormat format, int max_width, int max_height);

} // namespace vorsa::online
