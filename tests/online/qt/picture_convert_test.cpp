#include "online/qt/picture_convert.h"
#include "online/qt/qt_sources.h"
#include "runtime/surface/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>

namespace vorsa::online {
namespace {

QImage image_of(const Bytes& bytes)
{
    QImage image;
    image.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
    return image;
}

Bytes png_of(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(data.begin(), data.end());
}

bool starts_with(const Bytes& bytes, std::string_view magic)
{
    return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

int read_from_memory(GifFileType* gif, GifByteType* out, int length)
{
    auto* source = static_cast<std::pair<const Bytes*, std::size_t>*>(gif->UserData);
    const int n = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(length), source->first->size() - source->second));
    std::memcpy(out, source->first->data() + source->second, static_cast<std::size_t>(n));
    source->second += static_cast<std::size_t>(n);
    return n;
}

// What giflib itself makes of a GIF: width, height and frame count, or nothing.
std::optional<std::tuple<int, int, int>> giflib_reads(const Bytes& gif_bytes)
{
    std::pair<const Bytes*, std::size_t> source{&gif_bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, read_from_memory, &error);
    if (!gif) return std::nullopt;
    const bool ok = DGifSlurp(gif) == GIF_OK;
    const auto result = std::make_tuple(gif->SWidth, gif->SHeight, gif->ImageCount);
    DGifCloseFile(gif, &error);
    if (!ok) return std::nullopt;
    return result;
}

TEST(PictureConvertTest, WritesEveryFormatKeepingTheSize)
{
    const Bytes logo = builtin_logos().at(0);
    ASSERT_FALSE(logo.empty());
    struct Case
    {
        PictureFormat format;
        std::string_view magic;
    };
    const std::vector<Case> cases = {
        {PictureFormat::bmp, "BM"},   {PictureFormat::jpeg, "\xFF\xD8\xFF"}, {PictureFormat::gif, "GIF89a"},
        {PictureFormat::tiff, "II*"}, {PictureFormat::png, "\x89PNG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        const Bytes out = convert_picture(logo, c.format);
        EXPECT_TRUE(starts_with(out, c.magic));
        EXPECT_EQ(image_of(out).size(), QSize(200, 120));
    }
}

TEST(PictureConvertTest, GifToBmpKeepsEveryPixel)
{
    for (const Bytes& logo : builtin_logos()) {
        const Bytes bmp = convert_picture(logo, PictureFormat::bmp);
        // The program's own BMP reader takes it.
        const auto bitmap = runtime::picture_from_bytes(bmp);
        ASSERT_TRUE(bitmap.has_value());
        ASSERT_EQ(bitmap->width, 200);
        ASSERT_EQ(bitmap->height, 120);
        const QImage gif = image_of(logo).convertToFormat(QImage::Format_RGB32);
        int differing = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 200; ++x)
                differing += (bitmap->pixel(x, y) & 0xFFFFFF) != (gif.pixel(x, y) & 0xFFFFFF);
        EXPECT_EQ(differing, 0);
    }
}

TEST(PictureConvertTest, GifKeepsFewColoursExactlyAndTransparency)
{
    QImage image(5, 3, QImage::Format_ARGB32);
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 128, 0), qRgb(10, 20, 30), qRgba(0, 0, 0, 0)};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, colours[(x + y) % 4]);
    const Bytes gif = convert_picture(png_of(image), PictureFormat::gif);
    EXPECT_EQ(giflib_reads(gif), std::make_tuple(5, 3, 1));
    const QImage back = image_of(gif).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(back.size(), QSize(5, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const QRgb want = colours[(x + y) % 4];
            if (qAlpha(want) == 0)
                EXPECT_EQ(qAlpha(back.pixel(x, y)), 0) << x << "," << y;
            else
                EXPECT_EQ(back.pixel(x, y), want) << x << "," << y;
        }
}

TEST(PictureConvertTest, GifQuantisesManyColours)
{
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 4, (x + y) * 2));
    const Bytes gif = convert_picture(png_of(image), PictureFormat::gif);
    EXPECT_EQ(giflib_reads(gif), std::make_tuple(64, 64, 1));
    const QImage back = image_of(gif).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), QSize(64, 64));
    double error = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QRgb a = image.pixel(x, y);
            const QRgb b = back.pixel(x, y);
            error +=
                std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
        }
    EXPECT_LT(error / (64 * 64 * 3), 24.0);
}

TEST(PictureConvertTest, GivesNothingForWhatItCannotConvert)
{
    const Bytes logo = builtin_logos().at(0);
    struct Case
    {
        const char* what;
        Bytes input;
        PictureFormat format;
    };
    const std::vector<Case> cases = {
        {"empty input", {}, PictureFormat::bmp},
        {"format 0", logo, PictureFormat{0}},
        {"format 6", logo, PictureFormat{6}},
        {"negative format", logo, PictureFormat{-1}},
        {"an HTML error page", runtime::bytes_of("<html><body>404 Not Found</body></html>"),
         PictureFormat::bmp},
        {"a GIF cut after its signature", runtime::bytes_of("GIF89a"), PictureFormat::bmp},
        {"half a GIF", Bytes(logo.begin(), logo.begin() + 20), PictureFormat::png},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(convert_picture(c.input, c.format).empty()) << c.what;
}

Bytes encoded(const QImage& image, const char* format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

Bytes plain_picture(int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(200, 30, 30));
    return encoded(image, format);
}

// A picture costs memory by its pixels, not by its file: a small file declaring too many pixels is
// refused, and a logo larger than its bound is scaled down to fit it, its proportions kept.
TEST(PictureConvertTest, BoundsThePixelsOfWhatItDecodes)
{
    struct Case
    {
        const char* what;
        Bytes input;
        std::optional<QSize> fit; // none: convert_picture
        QSize expected;           // empty: refused
    };
    const Bytes bomb = plain_picture(4000, 4000, "PNG");
    ASSERT_LT(bomb.size(), 200u * 1024);
    const Bytes large_jpeg = plain_picture(4000, 3000, "JPEG");
    ASSERT_FALSE(large_jpeg.empty());
    const std::vector<Case> cases = {
        {"a PNG of 4000 x 4000 in a small file", bomb, std::nullopt, QSize()},
        {"the same, to fit a logo", bomb, QSize(400, 240), QSize()},
        {"a JPEG of 4000 x 3000", large_jpeg, QSize(400, 240), QSize()},
        {"at the bound", plain_picture(2048, 2048, "PNG"), std::nullopt, QSize(2048, 2048)},
        {"at the bound, to fit a logo", plain_picture(2048, 2048, "PNG"), QSize(400, 240), QSize(240, 240)},
        {"a logo's size stays", builtin_logos().at(0), QSize(400, 240), QSize(200, 120)},
        {"a larger picture of the same shape", plain_picture(1000, 600, "PNG"), QSize(400, 240),
         QSize(400, 240)},
        {"a tall one", plain_picture(300, 1000, "PNG"), QSize(400, 240), QSize(72, 240)},
        {"a JPEG photo", plain_picture(1600, 1200, "JPEG"), QSize(400, 240), QSize(320, 240)},
        {"a line", plain_picture(2000, 1, "PNG"), QSize(400, 240), QSize(400, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bmp =
            c.fit ? convert_picture_to_fit(c.input, PictureFormat::bmp, c.fit->width(), c.fit->height())
                  : convert_picture(c.input, PictureFormat::bmp);
        if (c.expected.isEmpty()) {
            EXPECT_TRUE(bmp.empty());
            continue;
        }
        const auto bitmap = runtime::picture_from_bytes(bmp);
        ASSERT_TRUE(bitmap.has_value());
        EXPECT_EQ(QSize(bitmap->width, bitmap->height), c.expected);
    }
}

} // namespace
} // namespace vorsa::online
