#include "online/qt/picture_convert.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cassert>
#include <gif_lib.h>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vorsa::online {

namespace {

int gif_write(GifFileType* gif, const GifByteType* data, int length)
{
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct GifCloser
{
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

struct ColorMapFree
{
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

// The palette size GIF can store for `count` colours: a power of two from 2 to 256.
int gif_palette_size(int count)
{
    int size = 2;
    while (size < count)
        size *= 2;
    return size;
}

// A picture as palette indices: at most 256 colours, one entry set aside for transparency when any
// pixel is mostly transparent.
struct IndexedPicture
{
    int width = 0;
    int height = 0;
    QList<QRgb> colours;
    std::vector<GifPixelType> pixels; // rows top-down
    int transparent = -1;             // palette index of transparent pixels, or -1
};

// Pictures of few colours keep them exactly; others are quantised and dithered by Qt.
IndexedPicture indexed_picture(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    IndexedPicture out{argb.width(), argb.height(), {}, {}, -1};
    out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    const auto is_transparent = [](QRgb pixel) { return qAlpha(pixel) < 128; };

    bool any_transparent = false;
    bool fits = true;
    std::unordered_map<QRgb, GifPixelType> exact;
    for (int y = 0; y < out.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < out.width; ++x) {
            if (is_transparent(line[x])) {
                any_transparent = true;
            } else if (fits && !exact.count(line[x] | 0xFF000000u)) {
                if (exact.size() == 256)
                    fits = false;
                else
                    exact.emplace(line[x] | 0xFF000000u, static_cast<GifPixelType>(exact.size()));
            }
        }
    }
    fits = fits && exact.size() + (any_transparent ? 1 : 0) <= 256;

    QImage quantised;
    if (fits) {
        out.colours.resize(static_cast<qsizetype>(exact.size()));
        for (const auto& [colour, index] : exact)
            out.colours[index] = colour;
    } else {
        const QImage opaque = argb.convertToFormat(QImage::Format_RGB32);
        quantised = opaque.convertToFormat(QImage::Format_Indexed8, Qt::AutoColor | Qt::DiffuseDither);
        if (any_transparent && quantised.colorCount() >= 256)
            quantised = opaque.convertToFormat(QImage::Format_Indexed8, quantised.colorTable().mid(0, 255),
                                               Qt::AutoColor | Qt::DiffuseDither);
        out.colours = quantised.colorTable();
    }
    if (any_transparent) {
        out.transparent = static_cast<int>(out.colours.size());
        out.colours.append(qRgba(0, 0, 0, 0));
    }
    for (int y = 0; y < out.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        const uchar* indices = fits ? nullptr : quantised.constScanLine(y);
        for (int x = 0; x < out.width; ++x) {
            GifPixelType index = 0;
            if (is_transparent(line[x]))
                index = static_cast<GifPixelType>(out.transparent);
            else
                index = fits ? exact.at(line[x] | 0xFF000000u) : indices[x];
            out.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) +
                       static_cast<std::size_t>(x)] = index;
        }
    }
    return out;
}

// One frame, GIF89a, with a transparent colour when the picture has one.
Bytes gif_from_image(const QImage& image)
{
    if (image.width() > 0xFFFF || image.height() > 0xFFFF) return {};
    const IndexedPicture picture = indexed_picture(image);
    if (picture.colours.isEmpty() || picture.colours.size() > 256) return {};

    std::vector<GifColorType> entries(
        static_cast<std::size_t>(gif_palette_size(static_cast<int>(picture.colours.size()))));
    for (qsizetype i = 0; i < picture.colours.size(); ++i)
        entries[static_cast<std::size_t>(i)] = {static_cast<GifByteType>(qRed(picture.colours[i])),
                                                static_cast<GifByteType>(qGreen(picture.colours[i])),
                                                static_cast<GifByteType>(qBlue(picture.colours[i]))};
    std::unique_ptr<ColorMapObject, ColorMapFree> palette(
        GifMakeMapObject(static_cast<int>(entries.size()), entries.data()));
    if (!palette) return {};

    Bytes out;
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpen(&out, gif_write, &error));
    if (!gif) return {};
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), picture.width, picture.height, 8, 0, palette.get()) == GIF_ERROR)
        return {};
    if (picture.transparent != -1) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, picture.transparent};
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
            GIF_ERROR)
            return {};
    }
    if (EGifPutImageDesc(gif.get(), 0, 0, picture.width, picture.height, false, nullptr) == GIF_ERROR)
        return {};
    std::vector<GifPixelType> row(static_cast<std::size_t>(picture.width));
    for (int y = 0; y < picture.height; ++y) {
        const auto first = picture.pixels.begin() + static_cast<std::ptrdiff_t>(y) * picture.width;
        std::copy(first, first + picture.width, row.begin());
        if (EGifPutLine(gif.get(), row.data(), picture.width) == GIF_ERROR) return {};
    }
    // Closing writes the trailer; its failure means the file is incomplete.
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR) return {};
    return out;
}

Bytes written_by_qt(const QImage& image, const char* format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) return {};
    return Bytes(data.begin(), data.end());
}

} // namespace

namespace {

bool too_large(const QSize& size)
{
    return static_cast<long long>(size.width()) * size.height() > max_picture_pixels;
}

// The picture decoded, scaled down to fit `fit` when that is valid; nothing when it does not decode or
// has too many pixels. The size is read from the file's header before anything is decoded; a reader
// that cannot tell it is held to the memory of max_picture_pixels by its allocation limit.
std::optional<QImage> decoded(const Bytes& picture, const QSize& fit)
{
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(picture.data()),
                                                    static_cast<qsizetype>(picture.size()));
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&buffer);
    reader.setAllocationLimit(static_cast<int>(max_picture_pixels * 4 / (1024 * 1024)));
    const QSize size = reader.size();
    if (size.isValid() && (size.isEmpty() || too_large(size))) return std::nullopt;
    const auto fitted = [&fit](const QSize& full) {
        return full.scaled(fit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    };
    // Readers that can decode at a smaller size (JPEG) then do so; the others scale after decoding.
    if (fit.isValid() && size.isValid() && (size.width() > fit.width() || size.height() > fit.height()))
        reader.setScaledSize(fitted(size));
    QImage image = reader.read();
    if (image.isNull() || too_large(image.size())) return std::nullopt;
    if (fit.isValid() && (image.width() > fit.width() || image.height() > fit.height()))
        image = image.scaled(fitted(image.size()), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

Bytes converted(const Bytes& picture, PictureFormat format, const QSize& fit)
{
    if (picture.empty() || format < PictureFormat::bmp || format > PictureFormat::png) return {};
    const std::optional<QImage> image = decoded(picture, fit);
    if (!image) return {};
    switch (format) {
    case PictureFormat::bmp:
        return written_by_qt(*image, "bmp");
    case PictureFormat::jpeg:
        return written_by_qt(*image, "jpeg");
    case PictureFormat::gif:
        return gif_from_image(*image);
    case PictureFormat::tiff:
        return written_by_qt(*image, "tiff");
    case PictureFormat::png:
        return written_by_qt(*image, "png");
    }
    return {};
}

} // namespace

Bytes convert_picture(const Bytes& picture, PictureFormat format)
{
    return converted(picture, format, QSize());
}

Bytes convert_picture_to_fit(const Bytes& picture, PictureFormat format, int max_width, int max_height)
{
    assert(max_width > 0 && max_height > 0);
    return converted(picture, format, QSize(max_width, max_height));
}

} // namespace vorsa::online
