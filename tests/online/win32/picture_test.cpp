#include "online/win32/picture_convert.h"
#include "runtime/surface/picture.h"
#include "runtime/win32/wic_picture.h"
#include "tests/online/win32/test_pictures.h"

#include <cstring>
#include <gtest/gtest.h>
#include <objbase.h>
#include <optional>
#include <string_view>
#include <thread>

namespace vorsa::online {
namespace {

using namespace testing;
using runtime::WicContainer;

bool starts_with(const Bytes& bytes, std::string_view magic)
{
    return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

// Installs WIC as the core's picture decoder for one test, as the program does at its start.
class WithWicDecoder
{
public:
    WithWicDecoder() : m_saved(runtime::picture_decoder())
    {
        runtime::set_picture_decoder(runtime::decode_with_wic);
    }
    ~WithWicDecoder() { runtime::set_picture_decoder(m_saved); }
    WithWicDecoder(const WithWicDecoder&) = delete;
    WithWicDecoder& operator=(const WithWicDecoder&) = delete;

private:
    runtime::PictureDecoder m_saved;
};

// The centre pixel of each quadrant of blocks(): what even a lossy format keeps.
std::vector<std::uint32_t> quadrant_centres(const runtime::Bitmap& bitmap)
{
    const int w = bitmap.width;
    const int h = bitmap.height;
    return {bitmap.pixel(w / 4, h / 4), bitmap.pixel(3 * w / 4, h / 4), bitmap.pixel(w / 4, 3 * h / 4),
            bitmap.pixel(3 * w / 4, 3 * h / 4)};
}

// Every container WIC reads here gives back the picture it holds, through the decoder the program
// installs (and so through picture_from_bytes) and through the conversion to the program's BMP.
TEST(WicPictureTest, ReadsEveryContainer)
{
    const WithWicDecoder decoder;
    const runtime::Bitmap original = blocks(32, 24);
    struct Case
    {
        const char* what;
        WicContainer container;
        int tolerance; // of a channel at the quadrants' centres; lossless formats keep every pixel
        bool lossless;
    };
    const std::vector<Case> cases = {
        {"BMP", WicContainer::bmp, 0, true},     {"PNG", WicContainer::png, 0, true},
        {"JPEG", WicContainer::jpeg, 40, false}, {"GIF", WicContainer::gif, 0, true},
        {"TIFF", WicContainer::tiff, 0, true},   {"ICO", WicContainer::ico, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bytes = encoded(original, c.container);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(runtime::wic_container_of(bytes), c.container);

        const auto decoded = runtime::picture_from_bytes(bytes);
        ASSERT_TRUE(decoded.has_value());
        ASSERT_EQ(decoded->width, 32);
        ASSERT_EQ(decoded->height, 24);
        const auto want = quadrant_centres(original);
        const auto got = quadrant_centres(*decoded);
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_LE(channel_difference(want[i], got[i]), c.tolerance) << "quadrant " << i;
        if (c.lossless) {
            EXPECT_EQ(largest_difference(*decoded, original), 0);
        }

        const auto converted = runtime::picture_from_bytes(convert_picture(bytes, PictureFormat::bmp));
        ASSERT_TRUE(converted.has_value());
        EXPECT_EQ(largest_difference(*converted, *decoded), 0);
    }
}

// The program's own pictures decode through the decoder it installs on Windows.
TEST(WicPictureTest, ReadsTheProgramsOwnPictures)
{
    const WithWicDecoder decoder;
    struct Case
    {
        const char* what;
        int resource;
        int width;
        int height;
    };
    const std::vector<Case> cases = {
        {"the title picture (JPEG)", 200, 340, 400},
        {"the small icon (PNG)", 216, 16, 16},
        {"the icon (PNG)", 232, 32, 32},
        {"the large icon (PNG)", 248, 48, 48},
        {"a built-in logo (GIF)", 1, 200, 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bitmap = runtime::picture_from_bytes(resource_bytes(c.resource));
        ASSERT_TRUE(bitmap.has_value());
        EXPECT_EQ(bitmap->width, c.width);
        EXPECT_EQ(bitmap->height, c.height);
    }
}

TEST(WicPictureTest, WritesEveryFormatKeepingTheSize)
{
    const Bytes logo = builtin_gif(1);
    ASSERT_FALSE(logo.empty());
    struct Case
    {
        PictureFormat format;
        std::string_view magic;
    };
    const std::vector<Case> cases = {
        {PictureFormat::bmp, "BM"},   {PictureFormat::jpeg, "\xFF\xD8\xFF"}, {PictureFormat::gif, "GIF8"},
        {PictureFormat::tiff, "II*"}, {PictureFormat::png, "\x89PNG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        const Bytes out = convert_picture(logo, c.format);
        EXPECT_TRUE(starts_with(out, c.magic));
        // The program's BMP form has a header WIC does not read; the core reads it itself.
        const auto back = c.format == PictureFormat::bmp ? runtime::picture_from_bytes(out)
                                                         : runtime::wic_decode_picture(out);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->width, 200);
        EXPECT_EQ(back->height, 120);
    }
    // The program's BMP form: a 44-byte header, which the core reads itself.
    const Bytes bmp = convert_picture(logo, PictureFormat::bmp);
    ASSERT_GE(bmp.size(), 58u);
    EXPECT_EQ(bmp[14], 44);
    EXPECT_EQ(bmp.size(), 58u + 200 * 120 * 4);
}

// The built-in logos convert to the very pixels the Linux edition's converter gave them.
TEST(WicPictureTest, GifToBmpAgreesWithTheLinuxEdition)
{
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        const auto ours = runtime::picture_from_bytes(convert_picture(builtin_gif(n), PictureFormat::bmp));
        const auto linux_edition = runtime::picture_from_bytes(builtin_bmp(n));
        ASSERT_TRUE(ours.has_value());
        ASSERT_TRUE(linux_edition.has_value());
        ASSERT_EQ(ours->width, 200);
        ASSERT_EQ(ours->height, 120);
        ASSERT_EQ(linux_edition->width, 200);
        ASSERT_EQ(linux_edition->height, 120);
        EXPECT_EQ(largest_difference(*ours, *linux_edition), 0);
    }
}

TEST(WicPictureTest, GivesNothingForWhatItCannotConvert)
{
    const Bytes logo = builtin_gif(1);
    Bytes cut_png = encoded(blocks(32, 24), WicContainer::png);
    cut_png.resize(cut_png.size() / 2);
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
        {"half a PNG", cut_png, PictureFormat::bmp},
        {"a format the program does not take", runtime::bytes_of("RIFF\x10\0\0\0WEBPVP8 "),
         PictureFormat::bmp},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(convert_picture(c.input, c.format).empty()) << c.what;
        if (c.input != logo) {
            EXPECT_FALSE(runtime::decode_with_wic(c.input).has_value()) << c.what;
        }
    }
}

// A picture costs memory by its pixels, not by its file: a small file declaring too many pixels is
// refused, and a logo larger than its bound is scaled down to fit it, its proportions kept.
TEST(WicPictureTest, BoundsThePixelsOfWhatItDecodes)
{
    struct Size
    {
        int width;
        int height;
    };
    struct Case
    {
        const char* what;
        Bytes input;
        std::optional<Size> fit; // none: convert_picture
        Size expected;           // 0 x 0: refused
    };
    const Bytes bomb = encoded(plain(4000, 4000), WicContainer::png);
    ASSERT_FALSE(bomb.empty());
    ASSERT_LT(bomb.size(), 200u * 1024);
    const Bytes large_jpeg = encoded(plain(4000, 3000), WicContainer::jpeg);
    ASSERT_FALSE(large_jpeg.empty());
    const Bytes at_bound = encoded(plain(2048, 2048), WicContainer::png);
    const Bytes one_beyond = encoded(plain(2049, 2048), WicContainer::png);
    const std::vector<Case> cases = {
        {"a PNG of 4000 x 4000 in a small file", bomb, std::nullopt, {0, 0}},
        {"the same, to fit a logo", bomb, Size{400, 240}, {0, 0}},
        {"a JPEG of 4000 x 3000", large_jpeg, Size{400, 240}, {0, 0}},
        {"one pixel column beyond the bound", one_beyond, Size{400, 240}, {0, 0}},
        {"at the bound", at_bound, std::nullopt, {2048, 2048}},
        {"at the bound, to fit a logo", at_bound, Size{400, 240}, {240, 240}},
        {"a logo's size stays", builtin_gif(1), Size{400, 240}, {200, 120}},
        {"a larger picture of the same shape",
         encoded(plain(1000, 600), WicContainer::png),
         Size{400, 240},
         {400, 240}},
        {"a tall one", encoded(plain(300, 1000), WicContainer::png), Size{400, 240}, {72, 240}},
        {"a JPEG photo", encoded(plain(1600, 1200), WicContainer::jpeg), Size{400, 240}, {320, 240}},
        {"a GIF", encoded(plain(800, 100), WicContainer::gif), Size{400, 240}, {400, 50}},
        {"a line", encoded(plain(2000, 1), WicContainer::png), Size{400, 240}, {400, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bmp =
            c.fit ? convert_picture_to_fit(c.input, PictureFormat::bmp, c.fit->width, c.fit->height)
                  : convert_picture(c.input, PictureFormat::bmp);
        const auto decoded = runtime::decode_with_wic(c.input);
        if (c.expected.width == 0) {
            EXPECT_TRUE(bmp.empty());
            EXPECT_FALSE(decoded.has_value());
            continue;
        }
        const auto bitmap = runtime::picture_from_bytes(bmp);
        ASSERT_TRUE(bitmap.has_value());
        EXPECT_EQ(bitmap->width, c.expected.width);
        EXPECT_EQ(bitmap->height, c.expected.height);
        // The colour survives the scaling.
        EXPECT_EQ(bitmap->pixel(bitmap->width / 2, bitmap->height / 2) & 0xFFFFFF,
                  decoded->pixel(decoded->width / 2, decoded->height / 2) & 0xFFFFFF);
    }
}

// The program draws BMP logos without their alpha channel: a transparent part comes out white, as on
// the receipt's paper, not as whatever colour the file keeps under it. The decoder keeps the alpha.
TEST(WicPictureTest, LaysTransparentPicturesOnWhite)
{
    runtime::Bitmap picture(4, 2, 0xFF102030u);
    picture.set_pixel(0, 0, 0x00000000u); // transparent black
    picture.set_pixel(1, 0, 0x00FF0000u); // transparent red
    picture.set_pixel(2, 0, 0x80FF0000u); // half-transparent red
    for (const WicContainer container : {WicContainer::png, WicContainer::tiff}) {
        SCOPED_TRACE(static_cast<int>(container));
        const Bytes bytes = encoded(picture, container);
        const auto decoded = runtime::decode_with_wic(bytes);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->pixel(0, 0) >> 24, 0u);
        EXPECT_EQ(decoded->pixel(3, 1), 0xFF102030u);
        const auto bmp = runtime::picture_from_bytes(convert_picture(bytes, PictureFormat::bmp));
        ASSERT_TRUE(bmp.has_value());
        EXPECT_EQ(bmp->pixel(0, 0), 0xFFFFFFFFu);
        EXPECT_EQ(bmp->pixel(1, 0), 0xFFFFFFFFu);
        EXPECT_LE(channel_difference(bmp->pixel(2, 0), 0xFFFF7F7Fu), 1);
        EXPECT_EQ(bmp->pixel(3, 1), 0xFF102030u);
    }
}

// Every call works on a thread whatever it has made of COM, and leaves it as it was.
TEST(WicPictureTest, WorksOnThreadsOfEitherApartment)
{
    const Bytes gif = builtin_gif(2);
    struct Case
    {
        const char* what;
        std::optional<DWORD> apartment; // none: the thread has no COM
    };
    const std::vector<Case> cases = {
        {"no COM", std::nullopt},
        {"single-threaded apartment", COINIT_APARTMENTTHREADED},
        {"multithreaded apartment", COINIT_MULTITHREADED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool decoded = false;
        bool converted = false;
        HRESULT afterwards = E_FAIL;
        std::thread([&] {
            if (c.apartment) CoInitializeEx(nullptr, *c.apartment);
            decoded = runtime::decode_with_wic(gif).has_value();
            converted = !convert_picture(gif, PictureFormat::png).empty();
            // The thread's COM is as before: still in its apartment, or without COM (so that it can
            // still choose either).
            afterwards = CoInitializeEx(nullptr, c.apartment.value_or(COINIT_MULTITHREADED));
            if (SUCCEEDED(afterwards)) CoUninitialize();
            if (c.apartment) CoUninitialize();
        }).join();
        EXPECT_TRUE(decoded);
        EXPECT_TRUE(converted);
        EXPECT_EQ(afterwards, c.apartment ? S_FALSE : S_OK);
    }
}

} // namespace
} // namespace vorsa::online
