#include "online/qt/picture_convert.h"
#include "online/qt/qt_sources.h"
#include "runtime/settings/settings.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"
#include "tests/online/local_http_server.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace vorsa::online {
namespace {

using namespace runtime::literals;
using namespace std::chrono_literals;
using testing::Behaviour;
using testing::LocalHttpServer;
using testing::Reply;

class QtSourcesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device seed;
        m_dir = std::filesystem::temp_directory_path() / ("vorsa_sources_" + std::to_string(seed()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string settings_path() const { return (m_dir / "dy.cfg").string(); }

    std::filesystem::path m_dir;
};

std::string path_of(const Text& url, const LocalHttpServer& server)
{
    return url.substr(server.address().size());
}

// The picture's size as the program's own reader sees it; 0 x 0 for nothing.
std::pair<int, int> bmp_size(const Bytes& bmp)
{
    const auto bitmap = runtime::picture_from_bytes(bmp);
    return bitmap ? std::make_pair(bitmap->width, bitmap->height) : std::make_pair(0, 0);
}

TEST(BuiltinLogosTest, AreFiveGifsOf200By120)
{
    const std::vector<Bytes> logos = builtin_logos();
    ASSERT_EQ(logos.size(), 5u);
    for (const Bytes& logo : logos) {
        EXPECT_EQ(runtime::text_of(Bytes(logo.begin(), logo.begin() + 6)), "GIF89a");
        QImage image;
        image.loadFromData(logo.data(), static_cast<int>(logo.size()));
        EXPECT_EQ(image.size(), QSize(200, 120));
    }
}

// The BMP with its resolution fields (pixels per metre, which Qt's writer takes from the converting
// process's screen and no reader of ours looks at) set to 0.
Bytes without_resolution(Bytes bmp)
{
    if (bmp.size() >= 46) std::fill(bmp.begin() + 38, bmp.begin() + 46, 0);
    return bmp;
}

// The built-in logos' BMPs ship with the program; they must be what the converter makes of the GIFs (a
// GIF redrawn without its BMP made again would otherwise show the old logo), and the refresh's
// conversion of a built-in logo must hand out that stored BMP.
TEST(BuiltinLogosTest, StoredConversionsAreWhatTheConverterMakes)
{
    const std::vector<Bytes> logos = builtin_logos();
    ASSERT_EQ(logos.size(), 5u);
    QtOnlineSources sources(nullptr);
    for (std::size_t i = 0; i < logos.size(); ++i) {
        SCOPED_TRACE(i + 1);
        QFile stored_file(QStringLiteral(":/logos/builtin_%1.bmp").arg(i + 1));
        ASSERT_TRUE(stored_file.open(QIODevice::ReadOnly));
        const QByteArray data = stored_file.readAll();
        const Bytes stored(data.begin(), data.end());
        const Bytes converted = convert_picture(logos[i], PictureFormat::bmp);
        ASSERT_FALSE(converted.empty());
        EXPECT_EQ(without_resolution(stored), without_resolution(converted));
        EXPECT_EQ(sources.convert_to_bmp(logos[i]), stored);
    }
    // Any other picture is converted as it comes.
    const Bytes changed_gif = [&] {
        QImage image;
        image.loadFromData(logos[0].data(), static_cast<int>(logos[0].size()));
        image.setPixelColor(0, 0, Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return convert_picture(Bytes(png.begin(), png.end()), PictureFormat::gif);
    }();
    ASSERT_FALSE(changed_gif.empty());
    EXPECT_EQ(sources.convert_to_bmp(changed_gif), convert_picture(changed_gif, PictureFormat::bmp));
}

// The Windows edition shows the title picture from resources/title.bmp, which its own reader draws
// without the system's imaging component: it must show the pixels of the JPEG both editions share (a
// title redrawn without its BMP made again would otherwise look different on Windows).
TEST(BuiltinLogosTest, StoredTitleBmpIsTheTitleJpeg)
{
    QFile jpeg_file(QStringLiteral(VORSA_SOURCE_DIR "/resources/title.jpg"));
    QFile bmp_file(QStringLiteral(VORSA_SOURCE_DIR "/resources/title.bmp"));
    ASSERT_TRUE(jpeg_file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(bmp_file.open(QIODevice::ReadOnly));
    const QImage jpeg = QImage::fromData(jpeg_file.readAll()).convertToFormat(QImage::Format_RGB32);
    const QByteArray bmp_data = bmp_file.readAll();
    const auto bmp = runtime::picture_from_bytes(Bytes(bmp_data.begin(), bmp_data.end()));
    ASSERT_TRUE(bmp);
    ASSERT_EQ(QSize(bmp->width, bmp->height), jpeg.size());
    int differing = 0;
    for (int y = 0; y < jpeg.height(); ++y)
        for (int x = 0; x < jpeg.width(); ++x)
            differing += bmp->pixel(x, y) != jpeg.pixel(x, y);
    EXPECT_EQ(differing, 0);
}

TEST_F(QtSourcesTest, RefreshesFromALiveServer)
{
    LocalHttpServer server;
    const Text page = "<!--飞岩,云途,坏图-->\r\n<html><body>公告</body></html>"_gbk;
    Reply notice;
    notice.headers = {{"Content-Type", "text/html; charset=gbk"}};
    notice.body = page;
    server.set_reply("/tarnwick/plendor/xiaopiao.htm", notice);
    Reply logo;
    logo.body = runtime::text_of(builtin_logos().at(2));
    server.set_reply(path_of(logo_url(server.address(), "飞岩"_gbk), server), logo);
    // 云途 has no logo (404 page); 坏图's logo is not a picture.
    Reply not_a_picture;
    not_a_picture.body = "<html>not a picture</html>";
    server.set_reply(path_of(logo_url(server.address(), "坏图"_gbk), server), not_a_picture);

    std::vector<Text> shown;
    QtOnlineSources sources([&](const Text& notice_page) { shown.push_back(notice_page); });
    const OnlineBrands brands = online_refresh(sources, settings_path(), server.address(), builtin_logos());

    EXPECT_EQ(brands.notice_page, page);
    EXPECT_EQ(shown, std::vector<Text>{page});
    ASSERT_EQ(brands.brand_names.size(), 8u);
    EXPECT_EQ(brands.brand_names[5], "飞岩"_gbk);
    EXPECT_EQ(brands.brand_names[7], "坏图"_gbk);
    ASSERT_EQ(brands.brand_logos.size(), 8u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bmp_size(brands.brand_logos[static_cast<std::size_t>(i)]), std::make_pair(200, 120)) << i;
    EXPECT_TRUE(brands.brand_logos[6].empty());
    EXPECT_TRUE(brands.brand_logos[7].empty());
    EXPECT_EQ(runtime::read_setting(settings_path(), "pingpai", "onlinepingpai"), ",飞岩,云途,坏图"_gbk);
    // The page and three logos, nothing more.
    EXPECT_EQ(server.request_count(), 4u);
}

TEST_F(QtSourcesTest, ASilentServerCostsTwoTimeoutsWhateverTheBrands)
{
    runtime::write_setting(settings_path(), "pingpai", "onlinepingpai", ",甲,乙,丙,丁,戊,己"_gbk);
    LocalHttpServer server;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    server.set_fallback(silent);
    HttpSettings settings;
    settings.inactivity_timeout = 1500ms;
    bool shown = false;
    QtOnlineSources sources([&](const Text&) { shown = true; }, settings);

    const OnlineBrands brands = online_refresh(sources, settings_path(), server.address(), builtin_logos());
    // One time-out for the page, one for all six logos together, as they wait side by side (the page's
    // connection may not be seen closed yet when they come); one for each logo would be seven.
    EXPECT_GE(server.most_open_connections(), 6u);
    EXPECT_FALSE(shown);
    EXPECT_EQ(brands.brand_names.size(), 11u);
    for (std::size_t i = 5; i < 11; ++i)
        EXPECT_TRUE(brands.brand_logos[i].empty());
    EXPECT_EQ(server.request_count(), 7u);
}

Bytes picture_file(int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(20, 90, 160));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

// Whatever a server sends, a start takes a bounded number of brands, bounded logos and a bounded
// number of bytes.
TEST_F(QtSourcesTest, BoundsWhatAHostileServerCosts)
{
    Text many_names;
    for (int i = 0; i < 20000; ++i)
        many_names += (i ? "," : "") + std::string("b") + std::to_string(i);
    struct Case
    {
        const char* what;
        Text names;
        Bytes logo;
        std::size_t byte_limit;
        std::size_t brands;            // online brands offered and logos asked for
        std::pair<int, int> logo_size; // of every logo that came; (0, 0): none comes
        std::size_t at_most_logos;     // logos that came
    };
    const std::vector<Case> cases = {
        {"20 000 names, each logo a PNG of 4000 x 4000 pixels",
         many_names,
         picture_file(4000, 4000, "PNG"),
         refresh_byte_limit,
         max_online_brands,
         {0, 0},
         0},
        {"logos of 1000 x 600 pixels come scaled down",
         "甲,乙,丙"_gbk,
         picture_file(1000, 600, "PNG"),
         refresh_byte_limit,
         3,
         {400, 240},
         3},
        // A logo here is a BMP of 72 kB: one fits the start's bytes with the page, two do not.
        {"logos beyond the start's bytes",
         "甲,乙,丙"_gbk,
         picture_file(200, 120, "BMP"),
         100 * 1024,
         3,
         {200, 120},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(settings_path());
        LocalHttpServer server;
        Reply notice;
        notice.body = "<!--" + c.names + "-->";
        server.set_reply("/tarnwick/plendor/xiaopiao.htm", notice);
        Reply logo;
        logo.body = runtime::text_of(c.logo);
        server.set_fallback(logo);

        QtOnlineSources sources(nullptr, HttpSettings{}, c.byte_limit);
        const OnlineBrands brands =
            online_refresh(sources, settings_path(), server.address(), builtin_logos());
        ASSERT_EQ(brands.brand_names.size(), builtin_brand_count + c.brands);
        ASSERT_EQ(brands.brand_logos.size(), brands.brand_names.size());
        EXPECT_EQ(server.request_count(), 1 + c.brands);
        std::size_t came = 0;
        for (std::size_t i = builtin_brand_count; i < brands.brand_logos.size(); ++i) {
            if (brands.brand_logos[i].empty()) continue;
            ++came;
            EXPECT_EQ(bmp_size(brands.brand_logos[i]), c.logo_size) << i;
        }
        EXPECT_LE(came, c.at_most_logos);
    }
}

} // namespace
} // namespace vorsa::online
