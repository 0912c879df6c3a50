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

// The picture in the given format, with the writers' default settings. Empty for an empty input, a
// value outside the formats above or bytes that do not decode.
Bytes convert_picture(const Bytes& picture, PictureFormat format);

} // namespace vorsa::online
