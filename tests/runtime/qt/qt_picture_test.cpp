#include "qt_test_app.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/qt/qt_text.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <QBuffer>
#include <QFont>
#include <QFontInfo>
#include <QImage>
#include <QImageWriter>
#include <gtest/gtest.h>
#include <random>

namespace vorsa::runtime {
namespace {

using namespace literals;

Bytes encode_with_qt(const QImage& image, const char* format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return Bytes(data.begin(), data.end());
}

// A 2 x 2 GIF with a four-colour table (red, green, blue, white) whose pixels are the indices given,
// row by row. Qt writes no GIF, so the test writes one: 3-bit LZW codes, a clear code after every two
// pixels so that the code size never grows.
Bytes make_gif(const std::array<int, 4>& indices)
{
    Bytes out = bytes_of("GIF89a");
    const auto u16 = [&](int v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    u16(2);
    u16(2);
    out.insert(out.end(), {0x91, 0, 0});                                           // 4-colour global table
    out.insert(out.end(), {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}); // red green blue white
    out.push_back(',');
    u16(0);
    u16(0);
    u16(2);
    u16(2);
    out.push_back(0);
    out.push_back(2); // LZW minimum code size
    const int codes[] = {4, indices[0], indices[1], 4, indices[2], indices[3], 5};
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        count += 3;
        while (count >= 8) {
            packed.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) packed.push_back(static_cast<std::uint8_t>(bits));
    out.push_back(static_cast<std::uint8_t>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    out.push_back(0);
    out.push_back(';');
    return out;
}

bool near(std::uint32_t a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class QtPictures : public ::testing::Test
{
protected:
    QtPictures() { testing::test_application(); }

    // 16 x 12, left half red, right half blue, with a white top-left pixel for the orientation.
    static QImage halves()
    {
        QImage image(16, 12, QImage::Format_RGB32);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                image.setPixel(x, y, x < 8 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
        image.setPixel(0, 0, qRgb(255, 255, 255));
        return image;
    }
};

TEST_F(QtPictures, DecodesJpegPngAndIcons)
{
    struct Case
    {
        const char* format;
        int tolerance;
    };
    const Case cases[] = {{"jpeg", 60}, {"png", 0}, {"ico", 0}};
    for (const Case& c : cases) {
        const auto bitmap = picture_from_bytes(encode_with_qt(halves(), c.format, 100));
        ASSERT_TRUE(bitmap) << c.format;
        EXPECT_EQ(bitmap->width, 16) << c.format;
        EXPECT_EQ(bitmap->height, 12) << c.format;
        EXPECT_TRUE(near(bitmap->pixel(4, 6), qRgb(255, 0, 0), c.tolerance)) << c.format;
        EXPECT_TRUE(near(bitmap->pixel(12, 6), qRgb(0, 0, 255), c.tolerance)) << c.format;
        EXPECT_TRUE(near(bitmap->pixel(0, 0), qRgb(255, 255, 255), c.tolerance)) << c.format;
    }
}

TEST_F(QtPictures, DecodesGif)
{
    const auto bitmap = picture_from_bytes(make_gif({0, 1, 2, 3}));
    ASSERT_TRUE(bitmap);
    ASSERT_EQ(bitmap->width, 2);
    ASSERT_EQ(bitmap->height, 2);
    EXPECT_EQ(bitmap->pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(bitmap->pixel(1, 0), 0xFF00FF00u);
    EXPECT_EQ(bitmap->pixel(0, 1), 0xFF0000FFu);
    EXPECT_EQ(bitmap->pixel(1, 1), 0xFFFFFFFFu);
}

TEST_F(QtPictures, ABmpThatQtRefusesStillDecodes)
{
    // The 44-byte header form: our reader takes it whatever Qt makes of it.
    Bitmap bitmap(3, 3, 0xFF00FF00);
    bitmap.set_pixel(2, 2, 0xFFFF0000);
    const auto decoded = picture_from_bytes(bitmap_to_bmp(bitmap));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, bitmap);
    // And fit_picture of a JPEG gives a BMP of the asked size.
    const auto fitted = picture_from_bytes(fit_picture(encode_with_qt(halves(), "jpeg", 100), 300, 300));
    ASSERT_TRUE(fitted);
    EXPECT_EQ(fitted->width, 300);
    EXPECT_EQ(fitted->height, 300);
}

TEST_F(QtPictures, CutAndGarbledFilesGiveNone)
{
    const Bytes files[] = {encode_with_qt(halves(), "jpeg", 100), make_gif({0, 1, 2, 3}),
                           encode_with_qt(halves(), "png"), encode_with_qt(halves(), "ico")};
    for (const Bytes& file : files) {
        // Cut inside the headers.
        for (std::size_t n : {1u, 4u, 10u})
            EXPECT_FALSE(picture_from_bytes(Bytes(file.begin(), file.begin() + n)));
    }
    // Random bytes behind every signature, and random bytes alone (no reader guesses at those).
    std::mt19937 random(129);
    const Bytes signatures[] = {
        {},           {0xFF, 0xD8, 0xFF}, bytes_of("GIF89a"),
        {0, 0, 1, 0}, {0, 0, 2, 0},       {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}};
    for (const Bytes& signature : signatures) {
        for (int i = 0; i < 100; ++i) {
            Bytes bytes = signature;
            const std::size_t n = random() % 300;
            for (std::size_t k = 0; k < n; ++k)
                bytes.push_back(static_cast<std::uint8_t>(random()));
            if (bytes.empty()) continue;
            const auto bitmap = picture_from_bytes(bytes);
            if (signature.empty()) {
                EXPECT_FALSE(bitmap) << "case " << i;
            } else if (bitmap) {
                EXPECT_FALSE(bitmap->empty());
            }
        }
    }
}

TEST(QtText, ConvertsThroughGbk)
{
    const std::pair<Text, QString> cases[] = {
        {"授权经销商  "_gbk, QString::fromUtf8("授权经销商  ")},
        {"THANK YOU! WELCOME BACK AGAIN!", QStringLiteral("THANK YOU! WELCOME BACK AGAIN!")},
        {"温馨提示：本小票"_gbk, QString::fromUtf8("温馨提示：本小票")},
        {"", QString()},
    };
    for (const auto& [gbk, qstring] : cases) {
        EXPECT_EQ(to_qstring(gbk), qstring);
        EXPECT_EQ(from_qstring(qstring), gbk);
    }
    // A character GBK cannot hold.
    EXPECT_EQ(from_qstring(QString::fromUtf8("a\u0E01b")), "a?b");
}

TEST(QtPlatform, SongFaceResolvesToAnInstalledFace)
{
    testing::test_application();
    const QString song = song_face_family();
    ASSERT_FALSE(song.isEmpty()) << "no Song face installed (fonts-noto-cjk)";
    EXPECT_EQ(QFontInfo(QFont(to_qstring("宋体"_gbk))).family(), song);
}

} // namespace
} // namespace vorsa::runtime
