#pragma once
// Pictures through the Windows Imaging Component (WIC), which every Windows has: the program's picture
// decoder on Windows (set_picture_decoder, Platform::picture_decoder) and the codec under the picture
// conversion of online/win32/picture_convert.h. Windows only.
//
// Only the six containers below are read, each recognised by its signature and handed to WIC's own
// decoder for it: no other codec installed on the machine is ever asked to guess at the bytes. A
// picture's size is read from its header before any pixel is decoded, and one beyond
// max_decoded_pixels is refused, so that a small file cannot make the program decode gigabytes. Each
// call initialises COM on the calling thread for its own duration (a thread that has COM already keeps
// it as it was), and keeps nothing between calls.

#include "runtime/surface/picture.h"

#include <optional>

namespace vorsa::runtime {

enum class WicContainer
{
    bmp,
    png,
    jpeg,
    gif,
    tiff,
    ico
};

// The most pixels a picture may have to be decoded. 2048 x 2048 pixels take 16 MB decoded.
inline constexpr long long max_decoded_pixels = 2048LL * 2048LL;

// The container the bytes' signature names, or none.
std::optional<WicContainer> wic_container_of(const Bytes& bytes);

// The largest size of the picture's proportions within max_width x max_height, at least one pixel each
// way (rounded down, as Qt's QSize::scaled does with KeepAspectRatio).
struct PictureSize
{
    int width = 0;
    int height = 0;
    friend bool operator==(const PictureSize&, const PictureSize&) = default;
};
PictureSize fitted_size(PictureSize size, int max_width, int max_height);

// The first frame (of a GIF or TIFF; an icon's first image) as a bitmap of straight-alpha 0xAARRGGBB
// pixels. With max_width and max_height above 0, a picture wider or higher than that is scaled down to
// fitted_size first; a smaller one keeps its size. None for bytes of no container above, bytes WIC
// cannot decode, and a picture of no pixels or more than max_decoded_pixels.
std::optional<Bitmap> wic_decode_picture(const Bytes& bytes, int max_width = 0, int max_height = 0);

// The picture decoder the program installs on Windows: wic_decode_picture at the picture's own size.
std::optional<Bitmap> decode_with_wic(const Bytes& bytes);

// The bitmap encoded by WIC's encoder for the container with its default settings: PNG and TIFF keep
// the alpha channel; JPEG and GIF, which have none here, get the picture laid on white, and GIF a palette
// of at most 256 colours made from the picture. Empty for the empty bitmap, for BMP and ICO (the
// program writes its BMP files itself, bitmap_to_bmp) and when the encoder fails.
Bytes wic_encode_picture(const Bitmap& bitmap, WicContainer container);

// The bitmap laid on white: every pixel opaque, a transparent one white, a half-transparent one mixed.
Bitmap flattened_on_white(const Bitmap& bitmap);

} // namespace vorsa::runtime
