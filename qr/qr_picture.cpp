// The symbol as a BMP file image: 24 bits per pixel, rows bottom up, each padded to four bytes.

#include "qr/qr_code.h"

#include <array>
#include <cstring>

namespace vorsa::qr {

namespace {

constexpr int quiet_zone = 4;
constexpr int file_header_bytes = 14;
constexpr int info_header_bytes = 40;

void put16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* p, std::uint32_t value)
{
    put16(p, value);
    put16(p + 2, value >> 16);
}

} // namespace

std::vector<std::uint8_t> symbol_picture(const QrSymbol& symbol, std::uint32_t dark, std::uint32_t light)
{
    // The module layer of (size + 3) squared pixels sits at (4, 4) on a light square of size + 8.
    const int side = symbol.size() + 2 * quiet_zone;
    const int row_bytes = (side * 3 + 3) / 4 * 4;
    const int pixel_offset = file_header_bytes + info_header_bytes;
    const auto image_bytes = static_cast<std::uint32_t>(row_bytes * side);
    std::vector<std::uint8_t> file(static_cast<std::size_t>(pixel_offset) + image_bytes);
    std::uint8_t* p = file.data();

    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, static_cast<std::uint32_t>(file.size()));
    put32(p + 6, 0);
    put32(p + 10, static_cast<std::uint32_t>(pixel_offset));
    p += file_header_bytes;
    put32(p, info_header_bytes);
    put32(p + 4, static_cast<std::uint32_t>(side));
    put32(p + 8, static_cast<std::uint32_t>(side)); // positive height: bottom-up rows
    put16(p + 12, 1);                               // planes
    put16(p + 14, 24);                              // bits per pixel
    put32(p + 16, 0);                               // uncompressed
    put32(p + 20, image_bytes);
    put32(p + 24, 2835); // 72 dots per inch, in dots per metre
    put32(p + 28, 2835);
    put32(p + 32, 0);
    put32(p + 36, 0);

    // Pixel bytes in file order (blue, green, red) for light and dark, with a fourth byte so that a
    // pixel is one four-byte store; the next pixel, or the light pixels after the row, overwrite it.
    const auto pixel = [](std::uint32_t colour) {
        return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(colour >> 16),
                                           static_cast<std::uint8_t>(colour >> 8),
                                           static_cast<std::uint8_t>(colour), 0};
    };
    const std::array<std::uint8_t, 4> colours[2] = {pixel(light), pixel(dark)};
    std::uint8_t* const pixels = file.data() + pixel_offset;
    std::uint8_t* const light_row = pixels; // the bottom row lies in the quiet zone
    for (int x = 0; x < side; ++x)
        std::memcpy(light_row + 3 * x, colours[0].data(), 3);

    const int size = symbol.size();
    const std::uint8_t* modules = symbol.matrix().data();
    for (int y = 0; y < side - 1; ++y) {
        std::uint8_t* row =
            pixels + static_cast<std::size_t>(side - 1 - y) * static_cast<std::size_t>(row_bytes);
        const int module_y = y - quiet_zone;
        if (module_y < 0 || module_y >= size) {
            std::memcpy(row, light_row, static_cast<std::size_t>(side * 3));
            continue;
        }
        std::memcpy(row, light_row, quiet_zone * 3);
        std::uint8_t* out = row + quiet_zone * 3;
        for (int x = 0; x < size; ++x, out += 3)
            std::memcpy(out, colours[modules[x]].data(), 4);
        std::memcpy(out, light_row, quiet_zone * 3); // the row padding after it stays zero
        modules += symbol.stride();
    }
    return file;
}

} // namespace vorsa::qr
