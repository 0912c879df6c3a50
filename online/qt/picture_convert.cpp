#include "online/qt/picture_convert.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <gif_lib.h>
#include <memory>
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

Bytes convert_picture(const Bytes& picture, PictureFormat format)
{
    if (picture.empty() || format < PictureFormat::bmp || format > PictureFormat::png) return {};
    QImage image;
    if (!image.loadFromData(picture.data(),
                            static_cast<int>(std::min<std::size_t>(picture.size(), INT32_MAX))))
        return {};
    switch (format) {
    case PictureFormat::bmp:
        return written_by_qt(image, "bmp");
    case PictureFormat::jpeg:
        return written_by_qt(image, "jpeg");
    case PictureFormat::gif:
        return gif_from_image(image);
    case PictureFormat::tiff:
        return written_by_qt(image, "tiff");
    case PictureFormat::png:
        return written_by_qt(image, "png");
    }
    return {};
}

} // namespace vorsa::online
