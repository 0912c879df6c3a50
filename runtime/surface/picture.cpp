#include "runtime/surface/picture.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace vorsa::runtime {

namespace {

PictureDecoder& installed_decoder()
{
    static PictureDecoder decoder;
    return decoder;
}

constexpr std::size_t file_header_size = 14;
constexpr std::uint32_t bmp_header_size = 44;
constexpr std::uint32_t bmp_pixel_offset = file_header_size + bmp_header_size;

// Largest picture decoded: 64 Mi pixels (256 MiB of bitmap) keeps a hostile header from asking for
// more memory than any receipt picture needs.
constexpr std::int64_t max_pixels = std::int64_t{1} << 26;
constexpr std::int64_t max_side = 1 << 16;

// Byte arrays are counted in 32 bits, as the BMP fields that describe them.
constexpr std::int64_t max_byte_array = 0x7FFFFFFF;

// Bounds-checked little-endian reads.
class Reader
{
public:
    explicit Reader(const Bytes& bytes) : m_bytes(bytes) {}

    bool has(std::size_t offset, std::size_t count) const
    {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    std::uint32_t u8(std::size_t offset) const { return m_bytes[offset]; }
    std::uint32_t u16(std::size_t offset) const { return u8(offset) | u8(offset + 1) << 8; }
    std::uint32_t u32(std::size_t offset) const { return u16(offset) | u16(offset + 2) << 16; }
    std::int32_t s32(std::size_t offset) const { return static_cast<std::int32_t>(u32(offset)); }
    std::size_t size() const { return m_bytes.size(); }

private:
    const Bytes& m_bytes;
};

// A colour channel described by a bit mask, scaled to 8 bits.
class Channel
{
public:
    Channel() = default;
    explicit Channel(std::uint32_t mask)
        : m_mask(mask), m_shift(mask ? std::countr_zero(mask) : 0), m_max(mask ? mask >> m_shift : 0)
    {
    }
    bool present() const { return m_mask != 0; }
    std::uint32_t read(std::uint32_t value) const
    {
        if (!m_mask) return 0;
        const std::uint64_t v = (value & m_mask) >> m_shift;
        return static_cast<std::uint32_t>((v * 255 + m_max / 2) / m_max);
    }

private:
    std::uint32_t m_mask = 0;
    int m_shift = 0;
    std::uint64_t m_max = 0;
};

enum class BmpOutcome
{
    decoded,
    invalid,
    unsupported
};

std::uint32_t argb(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a = 0xFF)
{
    return a << 24 | r << 16 | g << 8 | b;
}

// Reads a BMP file. "unsupported" leaves the bytes to the installed decoder (compressed rows, headers
// of other writers); "invalid" means the file cannot be read by anyone.
BmpOutcome decode_bmp(const Bytes& bytes, Bitmap& out)
{
    const Reader in(bytes);
    if (!in.has(0, file_header_size + 4)) return BmpOutcome::invalid;
    const std::uint32_t pixel_offset = in.u32(10);
    const std::uint32_t header_size = in.u32(14);

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    std::uint32_t colours_used = 0;
    std::size_t palette_entry = 4;
    switch (header_size) {
    case 12:
        palette_entry = 3;
        break;
    case 40:
    case 44:
    case 52:
    case 56:
    case 108:
    case 124:
        break;
    default:
        return BmpOutcome::unsupported;
    }
    if (!in.has(file_header_size, header_size)) return BmpOutcome::invalid;
    const std::size_t h = file_header_size;
    if (header_size == 12) {
        width = in.u16(h + 4);
        height = in.u16(h + 6);
        bits = in.u16(h + 10);
    } else {
        width = in.s32(h + 4);
        height = in.s32(h + 8);
        bits = in.u16(h + 14);
        compression = in.u32(h + 16);
        colours_used = in.u32(h + 32);
    }
    const bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0 || width > max_side || height > max_side || width * height > max_pixels)
        return BmpOutcome::invalid;

    // Masks of bit-field files: inside headers of 52 bytes and more, after the shorter ones.
    constexpr std::uint32_t bi_rgb = 0, bi_bitfields = 3, bi_alphabitfields = 6;
    std::size_t table_offset = h + header_size;
    Channel red, green, blue, alpha;
    if (compression == bi_bitfields || compression == bi_alphabitfields) {
        if (bits != 16 && bits != 32) return BmpOutcome::invalid;
        const bool with_alpha = compression == bi_alphabitfields;
        std::size_t masks = h + 40;
        if (header_size < 52) {
            masks = table_offset;
            table_offset += with_alpha ? 16 : 12;
        }
        if (!in.has(masks, with_alpha ? 16 : 12)) return BmpOutcome::invalid;
        red = Channel(in.u32(masks));
        green = Channel(in.u32(masks + 4));
        blue = Channel(in.u32(masks + 8));
        if (with_alpha || header_size >= 56) alpha = Channel(in.u32(masks + 12));
    } else if (compression != bi_rgb) {
        return BmpOutcome::unsupported;
    } else if (bits == 16) {
        red = Channel(0x7C00);
        green = Channel(0x03E0);
        blue = Channel(0x001F);
    } else if (bits == 32) {
        red = Channel(0x00FF0000);
        green = Channel(0x0000FF00);
        blue = Channel(0x000000FF);
    }

    const bool indexed = bits == 1 || bits == 4 || bits == 8;
    if (!indexed && bits != 16 && bits != 24 && bits != 32) return BmpOutcome::invalid;

    const std::int64_t stride = (width * bits + 31) / 32 * 4;
    if (pixel_offset < table_offset || !in.has(pixel_offset, static_cast<std::size_t>(stride * height)))
        return BmpOutcome::invalid;

    // The colour table lies between the headers and the pixels; writers that declare more colours than
    // they store get the ones stored, and indices beyond the table are black.
    std::vector<std::uint32_t> palette;
    if (indexed) {
        const std::uint32_t full = 1u << bits;
        const std::size_t declared = colours_used != 0 && colours_used < full ? colours_used : full;
        const std::size_t count = std::min(declared, (pixel_offset - table_offset) / palette_entry);
        palette.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = table_offset + i * palette_entry;
            palette.push_back(argb(in.u8(at + 2), in.u8(at + 1), in.u8(at)));
        }
    }

    Bitmap bitmap(static_cast<int>(width), static_cast<int>(height));
    for (std::int64_t row = 0; row < height; ++row) {
        const std::size_t source = pixel_offset + static_cast<std::size_t>(row * stride);
        const int y = static_cast<int>(top_down ? row : height - 1 - row);
        std::uint32_t* target = &bitmap.pixels[static_cast<std::size_t>(y * width)];
        for (std::int64_t x = 0; x < width; ++x) {
            std::uint32_t value = 0;
            switch (bits) {
            case 1:
            case 4:
            case 8: {
                const std::int64_t bit = x * bits;
                const std::uint32_t byte = in.u8(source + static_cast<std::size_t>(bit / 8));
                const std::uint32_t index = byte >> (8 - bits - bit % 8) & ((1u << bits) - 1);
                target[x] = index < palette.size() ? palette[index] : argb(0, 0, 0);
                continue;
            }
            case 24: {
                const std::size_t at = source + static_cast<std::size_t>(x * 3);
                target[x] = argb(in.u8(at + 2), in.u8(at + 1), in.u8(at));
                continue;
            }
            case 16:
                value = in.u16(source + static_cast<std::size_t>(x * 2));
                break;
            default:
                value = in.u32(source + static_cast<std::size_t>(x * 4));
                break;
            }
            target[x] = argb(red.read(value), green.read(value), blue.read(value),
                             alpha.present() ? alpha.read(value) : 0xFF);
        }
    }
    out = std::move(bitmap);
    return BmpOutcome::decoded;
}

void put16(Bytes& out, std::size_t at, std::uint32_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& out, std::size_t at, std::uint32_t value)
{
    put16(out, at, value & 0xFFFF);
    put16(out, at + 2, value >> 16);
}

} // namespace

Bitmap::Bitmap(int columns, int rows, std::uint32_t fill)
{
    if (columns < 1 || rows < 1) return;
    width = columns;
    height = rows;
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
}

std::uint32_t Bitmap::pixel(int x, int y) const
{
    assert(x >= 0 && x < width && y >= 0 && y < height);
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
}

void Bitmap::set_pixel(int x, int y, std::uint32_t value)
{
    assert(x >= 0 && x < width && y >= 0 && y < height);
    pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
        value;
}

void set_picture_decoder(PictureDecoder decoder)
{
    installed_decoder() = std::move(decoder);
}

PictureDecoder picture_decoder()
{
    return installed_decoder();
}

std::optional<Bitmap> picture_from_bytes(const Bytes& bytes)
{
    if (bytes.empty()) return std::nullopt;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        Bitmap bitmap;
        switch (decode_bmp(bytes, bitmap)) {
        case BmpOutcome::decoded:
            return bitmap;
        case BmpOutcome::invalid:
            return std::nullopt;
        case BmpOutcome::unsupported:
            break;
        }
    }
    const auto& decoder = installed_decoder();
    if (!decoder) return std::nullopt;
    auto decoded = decoder(bytes);
    if (!decoded || decoded->empty() ||
        decoded->pixels.size() !=
            static_cast<std::size_t>(decoded->width) * static_cast<std::size_t>(decoded->height))
        return std::nullopt;
    return decoded;
}

Bitmap stretch_bitmap(const Bitmap& bitmap, int width, int height)
{
    if (bitmap.empty() || width < 1 || height < 1) return {};
    if (width == bitmap.width && height == bitmap.height) return bitmap;
    Bitmap scaled(width, height);
    for (int y = 0; y < height; ++y) {
        const int source_y = static_cast<int>(std::int64_t{y} * bitmap.height / height);
        for (int x = 0; x < width; ++x) {
            const int source_x = static_cast<int>(std::int64_t{x} * bitmap.width / width);
            scaled.set_pixel(x, y, bitmap.pixel(source_x, source_y));
        }
    }
    return scaled;
}

Bytes bitmap_to_bmp(const Bitmap& bitmap)
{
    const bool empty = bitmap.empty();
    const std::uint32_t width = empty ? 0 : static_cast<std::uint32_t>(bitmap.width);
    const std::uint32_t height = empty ? 0 : static_cast<std::uint32_t>(bitmap.height);
    const std::uint64_t image_size = std::uint64_t{width} * height * 4;
    if (image_size > 0xFFFFFFFFu - bmp_pixel_offset) return {};

    Bytes out = zeroed_bytes(static_cast<std::int64_t>(bmp_pixel_offset + image_size));
    if (out.empty()) return {};
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, static_cast<std::uint32_t>(out.size()));
    put32(out, 10, bmp_pixel_offset);
    put32(out, 14, bmp_header_size);
    if (empty) return out;

    put32(out, 18, width);
    put32(out, 22, height);
    put16(out, 26, 1);
    put16(out, 28, 32);
    put32(out, 34, static_cast<std::uint32_t>(image_size));
    // Resolutions, colour counts and the one colour entry stay 0.
    std::size_t at = bmp_pixel_offset;
    for (int y = bitmap.height - 1; y >= 0; --y) {
        for (int x = 0; x < bitmap.width; ++x) {
            const std::uint32_t pixel = bitmap.pixel(x, y);
            out[at++] = static_cast<std::uint8_t>(pixel);
            out[at++] = static_cast<std::uint8_t>(pixel >> 8);
            out[at++] = static_cast<std::uint8_t>(pixel >> 16);
            out[at++] = 0;
        }
    }
    return out;
}

Bytes fit_picture(const Bytes& picture, int width, int height)
{
    const auto bitmap = picture_from_bytes(picture);
    if (!bitmap) return bitmap_to_bmp({});
    return bitmap_to_bmp(stretch_bitmap(*bitmap, width, height));
}

Bytes zeroed_bytes(std::int64_t n)
{
    if (n < 1 || n > max_byte_array) return {};
    try {
        return Bytes(static_cast<std::size_t>(n), 0);
    } catch (const std::bad_alloc&) {
        return {};
    } catch (const std::length_error&) {
        return {};
    }
}

} // namespace vorsa::runtime
