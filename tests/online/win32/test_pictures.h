#pragma once
// Pictures for the tests of the Windows edge: the built-in logos from the test program's resources,
// and small pictures of every format made here (through WIC's encoders, or written byte by byte for
// the containers the program does not encode).

#include "runtime/surface/picture.h"
#include "runtime/win32/wic_picture.h"

#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

namespace vorsa::online::testing {

using runtime::Bitmap;
using runtime::Bytes;

// The RCDATA resource `id` of the test program (test_pictures.rc).
inline Bytes resource_bytes(int id)
{
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (!found) return {};
    const HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
    if (!data) return {};
    return Bytes(data, data + SizeofResource(nullptr, found));
}

// Built-in logo n (1..5) as the program stores it, and its BMP form as the Linux edition made it.
inline Bytes builtin_gif(int n)
{
    return resource_bytes(n);
}
inline Bytes builtin_bmp(int n)
{
    return resource_bytes(100 + n);
}

inline std::vector<Bytes> builtin_gifs()
{
    std::vector<Bytes> gifs;
    for (int n = 1; n <= 5; ++n)
        gifs.push_back(builtin_gif(n));
    return gifs;
}

// Opaque colour blocks: the left half red and green, the right half blue and a dark grey, split in the
// middle row, so that a flipped, mirrored or swapped picture shows.
inline Bitmap blocks(int width, int height)
{
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool lower = y >= height / 2;
            bitmap.set_pixel(
                x, y, right ? (lower ? 0xFF102030u : 0xFF0000FFu) : (lower ? 0xFF00FF00u : 0xFFFF0000u));
        }
    return bitmap;
}

inline Bitmap plain(int width, int height, std::uint32_t argb = 0xFFC81E1Eu)
{
    return Bitmap(width, height, argb);
}

inline void put16(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void put32(Bytes& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A 24-bit BMP with the common 40-byte header, rows bottom-up.
inline Bytes bmp24_of(const Bitmap& bitmap)
{
    const auto width = static_cast<std::uint32_t>(bitmap.width);
    const auto height = static_cast<std::uint32_t>(bitmap.height);
    const std::uint32_t row = (width * 3 + 3) / 4 * 4;
    Bytes out = {'B', 'M'};
    put32(out, 54 + row * height);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, width);
    put32(out, height);
    put16(out, 1);
    put16(out, 24);
    for (int i = 0; i < 6; ++i)
        put32(out, i == 1 ? row * height : 0);
    for (int y = bitmap.height - 1; y >= 0; --y) {
        for (int x = 0; x < bitmap.width; ++x) {
            const std::uint32_t pixel = bitmap.pixel(x, y);
            out.push_back(static_cast<std::uint8_t>(pixel));
            out.push_back(static_cast<std::uint8_t>(pixel >> 8));
            out.push_back(static_cast<std::uint8_t>(pixel >> 16));
        }
        out.resize(out.size() + (row - width * 3));
    }
    return out;
}

// An icon file of one image held as PNG, as icons of 256 pixels are stored.
inline Bytes ico_of(const Bitmap& bitmap)
{
    const Bytes png = runtime::wic_encode_picture(bitmap, runtime::WicContainer::png);
    Bytes out;
    put16(out, 0);
    put16(out, 1);
    put16(out, 1);
    out.push_back(static_cast<std::uint8_t>(bitmap.width));
    out.push_back(static_cast<std::uint8_t>(bitmap.height));
    out.push_back(0); // no palette
    out.push_back(0);
    put16(out, 1);  // planes
    put16(out, 32); // bits per pixel
    put32(out, static_cast<std::uint32_t>(png.size()));
    put32(out, 22);
    out.insert(out.end(), png.begin(), png.end());
    return out;
}

// The picture as the given container holds it.
inline Bytes encoded(const Bitmap& bitmap, runtime::WicContainer container)
{
    switch (container) {
    case runtime::WicContainer::bmp:
        return bmp24_of(bitmap);
    case runtime::WicContainer::ico:
        return ico_of(bitmap);
    default:
        return runtime::wic_encode_picture(bitmap, container);
    }
}

inline int channel_difference(std::uint32_t a, std::uint32_t b)
{
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8)
        most = std::max(
            most, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return most;
}

// The largest difference of a channel between the two bitmaps' pixels (both of one size).
inline int largest_difference(const Bitmap& a, const Bitmap& b)
{
    int most = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        most = std::max(most, channel_difference(a.pixels[i], b.pixels[i]));
    return most;
}

} // namespace vorsa::online::testing
