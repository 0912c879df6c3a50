#pragma once
// Pictures: decoding picture files held in byte arrays into bitmaps, scaling them, and storing a
// bitmap as BMP bytes. BMP is read here (including the 44-byte-header form that bitmap_to_bmp writes,
// which common readers refuse); every other format goes to a replaceable decoder that the Qt layer
// installs. No input, however short or garbled, makes a decoder read outside its bytes.

#include "runtime/text/bytes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vorsa::runtime {

// Pixels as 0xAARRGGBB, rows top-down (the byte order in memory is that of a 32-bit BMP row).
struct Bitmap
{
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    Bitmap() = default;
    // A width x height bitmap filled with `fill`; sizes below 1 give the empty bitmap.
    Bitmap(int width, int height, std::uint32_t fill = 0xFF000000);

    bool empty() const { return width <= 0 || height <= 0; }
    // x and y inside the bitmap (asserted).
    std::uint32_t pixel(int x, int y) const;
    void set_pixel(int x, int y, std::uint32_t argb);

    friend bool operator==(const Bitmap&, const Bitmap&) = default;
};

// Decodes picture bytes that are not a BMP this module reads itself. Returns none for bytes it cannot
// read. Must not throw.
using PictureDecoder = std::function<std::optional<Bitmap>(const Bytes& bytes)>;

// Installs the decoder for formats other than BMP (JPEG, GIF, icons, PNG); an empty one restores the
// default, which reads nothing.
void set_picture_decoder(PictureDecoder decoder);
PictureDecoder picture_decoder();

// The bytes as a bitmap, or none when they are empty, cannot be decoded or hold a 0 x 0 picture. BMP
// files with the 12-, 40-, 44-, 52-, 56-, 108- and 124-byte headers, 1, 4, 8, 16, 24 and 32 bits per
// pixel, bottom-up and top-down, uncompressed or with bit fields, are read here; 32-bit pixels without
// bit fields are opaque (the fourth byte is reserved). Anything else goes to the installed decoder.
std::optional<Bitmap> picture_from_bytes(const Bytes& bytes);

// A copy of the bitmap stretched to width x height by nearest-neighbour sampling; empty when the
// bitmap is empty or a size is below 1.
Bitmap stretch_bitmap(const Bitmap& bitmap, int width, int height);

// The bitmap as a 32-bit BMP file with a 44-byte header: "BM", file size 58 + image size, offset 58,
// header size 44, width, positive height (rows bottom-up), 1 plane, 32 bits, no compression, image size
// height * width * 4, 16 zero bytes of resolutions and colour counts, one colour entry 0, then the rows
// (B, G, R and a reserved 0 byte per pixel). The empty bitmap gives the 58-byte file of a 0 x 0 picture
// whose header fields other than the size field 44 are all 0.
Bytes bitmap_to_bmp(const Bitmap& bitmap);

// The picture scaled to width x height pixels (nearest neighbour) as bitmap_to_bmp writes it; bytes
// that decode to nothing, or a size below 1, give the 58-byte 0 x 0 file.
Bytes fit_picture(const Bytes& picture, int width, int height);

// n zero bytes; n below 1, above 2^31 - 1 or a failed allocation gives the empty array.
Bytes zeroed_bytes(std::int64_t n);

} // namespace vorsa::runtime
