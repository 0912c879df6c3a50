#include "online/refresh.h"
#include "online/url.h"
#include "online/win32/picture_convert.h"
#include "online/win32/win32_sources.h"
#include "runtime/settings/settings.h"
#include "runtime/text/gbk.h"
#include "tests/online/local_http_server.h"
#include "tests/online/win32/test_pictures.h"
#include "tests/temp_directory.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace vorsa::online {
namespace {

using namespace runtime::literals;
using namespace std::chrono_literals;
using runtime::WicContainer;
using testing::Behaviour;
using testing::LocalHttpServer;
using testing::Reply;

const std::string builtin_names = "耐克,阿迪达斯,三叶草,新百伦,匡威";

Reply answer(std::string body)
{
    Reply reply;
    reply.body = std::move(body);
    return reply;
}

Reply picture(const Bytes& bytes)
{
    return answer(std::string(bytes.begin(), bytes.end()));
}

std::string logo_path(const char* utf8_name)
{
    return std::string(logo_folder_path) + url_encode_utf8(runtime::gbk_from_utf8(utf8_name)) + ".gif";
}

std::string joined(const runtime::TextList& names)
{
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += (i ? "," : "") + runtime::utf8_from_gbk(names[i]);
    return out;
}

// The size of a logo as the program reads it; 0 x 0 for an empty one.
std::pair<int, int> size_of(const Bytes& logo)
{
    const auto bitmap = runtime::picture_from_bytes(logo);
    return bitmap ? std::make_pair(bitmap->width, bitmap->height) : std::make_pair(0, 0);
}

class Win32SourcesTest : public ::testing::Test
{
protected:
    std::string settings_path() const { return m_dir.text() + "/dy.cfg"; }
    std::string settings_bytes() const
    {
        std::ifstream file(m_dir.path() / "dy.cfg", std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }
    Text stored() const { return runtime::read_setting(settings_path(), "pingpai", "onlinepingpai"); }

    test_files::TempDirectory m_dir{"vorsa_win32_sources"};
};

// A start against a server that answers: the page is shown, its brands listed and remembered, and each
// brand's logo fetched and converted to the program's BMP, a large one scaled down to fit, one that
// does not come, does not decode or is too large left empty in its brand's place.
TEST_F(Win32SourcesTest, StartsOnlineWithBrandsAndLogos)
{
    LocalHttpServer server;
    const Text page = "<!--李宁,安踏,大图,巨图,坏图,缺图-->\r\n<html>公告</html>"_gbk;
    server.set_reply(std::string(notice_page_path), answer(page));
    const runtime::Bitmap li_ning = testing::blocks(200, 120);
    server.set_reply(logo_path("李宁"), picture(testing::encoded(li_ning, WicContainer::gif)));
    server.set_reply(logo_path("安踏"),
                     picture(testing::encoded(testing::blocks(90, 60), WicContainer::gif)));
    server.set_reply(logo_path("大图"),
                     picture(testing::encoded(testing::plain(1000, 600), WicContainer::png)));
    server.set_reply(logo_path("巨图"),
                     picture(testing::encoded(testing::plain(4000, 4000), WicContainer::png)));
    server.set_reply(logo_path("坏图"), answer("<html>not a picture</html>"));
    // 缺图 gets the server's 404 page.

    std::vector<Text> shown;
    Win32OnlineSources sources([&shown](const Text& notice) { shown.push_back(notice); });
    const OnlineBrands brands =
        online_refresh(sources, settings_path(), server.address(), testing::builtin_gifs());

    EXPECT_EQ(brands.notice_page, page);
    EXPECT_EQ(shown, std::vector<Text>{page});
    EXPECT_EQ(joined(brands.brand_names), builtin_names + ",李宁,安踏,大图,巨图,坏图,缺图");
    ASSERT_EQ(brands.brand_logos.size(), 11u);
    for (int n = 1; n <= 5; ++n) {
        const auto logo = runtime::picture_from_bytes(brands.brand_logos[static_cast<std::size_t>(n - 1)]);
        const auto linux_edition = runtime::picture_from_bytes(testing::builtin_bmp(n));
        ASSERT_TRUE(logo && linux_edition);
        EXPECT_EQ(*logo, *linux_edition) << n;
    }
    const auto first = runtime::picture_from_bytes(brands.brand_logos[5]);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, li_ning);
    EXPECT_EQ(size_of(brands.brand_logos[6]), std::make_pair(90, 60));
    EXPECT_EQ(size_of(brands.brand_logos[7]), std::make_pair(400, 240));
    for (std::size_t i = 8; i < 11; ++i)
        EXPECT_TRUE(brands.brand_logos[i].empty()) << i;
    EXPECT_EQ(runtime::utf8_from_gbk(stored()), ",李宁,安踏,大图,巨图,坏图,缺图");
    EXPECT_EQ(server.request_count(), 7u);
}

// A page that does not come whole with a success status gives the offline start: nothing shown, the
// remembered brands, their logos asked for again, and the settings file left as it was.
TEST_F(Win32SourcesTest, AnAnswerThatIsNotAPageGivesTheOfflineStart)
{
    Reply server_error = answer("<!--假品牌-->"_gbk);
    server_error.status = 500;
    server_error.reason = "Internal Server Error";
    Reply not_found = testing::not_found_reply();
    not_found.body = "<!--假品牌-->"_gbk;
    Reply truncated = answer("<!--假品牌-->"_gbk);
    truncated.behaviour = Behaviour::truncate;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    struct Case
    {
        const char* what;
        Reply page;
    };
    const std::vector<Case> cases = {
        {"a server error", server_error},
        {"an error page", not_found},
        {"a page cut short", truncated},
        {"a silent server", silent},
    };
    runtime::write_setting(settings_path(), "pingpai", "onlinepingpai", ",甲"_gbk);
    const std::string before = settings_bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        server.set_reply(std::string(notice_page_path), c.page);
        server.set_reply(logo_path("甲"),
                         picture(testing::encoded(testing::blocks(20, 12), WicContainer::gif)));
        HttpSettings settings;
        settings.inactivity_timeout = 300ms;
        std::vector<Text> shown;
        Win32OnlineSources sources([&shown](const Text& notice) { shown.push_back(notice); }, settings);
        const OnlineBrands brands =
            online_refresh(sources, settings_path(), server.address(), testing::builtin_gifs());
        EXPECT_TRUE(brands.notice_page.empty());
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(joined(brands.brand_names), builtin_names + ",甲");
        ASSERT_EQ(brands.brand_logos.size(), 6u);
        EXPECT_EQ(size_of(brands.brand_logos[5]), std::make_pair(20, 12));
        EXPECT_EQ(settings_bytes(), before);
        EXPECT_EQ(server.request_lines().back(), "GET " + logo_path("甲") + " HTTP/1.1");
    }
}

// What a start takes from the server is bounded in bytes: once the page and the logos have spent the
// budget, the logos still to come are left empty.
TEST_F(Win32SourcesTest, AStartStaysWithinItsBytes)
{
    LocalHttpServer server;
    server.set_reply(std::string(notice_page_path), answer("<!--甲,乙-->"_gbk));
    const Bytes logo = testing::encoded(testing::blocks(100, 60), WicContainer::jpeg);
    server.set_reply(logo_path("甲"), picture(logo));
    server.set_reply(logo_path("乙"), picture(logo));
    struct Case
    {
        const char* what;
        std::size_t limit;
        bool page;
        int logos;
    };
    const std::vector<Case> cases = {
        {"room for everything", 64 * 1024, true, 2},
        {"room for the page only", 600, true, 0},
        {"room for nothing", 10, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Win32OnlineSources sources({}, {}, c.limit);
        const OnlineBrands brands =
            online_refresh(sources, settings_path(), server.address(), testing::builtin_gifs());
        EXPECT_EQ(!brands.notice_page.empty(), c.page);
        ASSERT_EQ(brands.brand_logos.size(), 7u);
        EXPECT_EQ(!brands.brand_logos[5].empty() + !brands.brand_logos[6].empty(), c.logos);
    }
}

// A start given up (its window closed) or out of time says so to the refresh.
TEST_F(Win32SourcesTest, TellsAnAbandonedOrLateStart)
{
    HttpStop stop;
    HttpSettings settings;
    settings.stop = &stop;
    settings.deadline = std::chrono::steady_clock::now() + 10 * 60s;
    Win32OnlineSources sources({}, settings);
    EXPECT_FALSE(sources.abandoned());
    EXPECT_FALSE(sources.out_of_time());
    stop.stop();
    EXPECT_TRUE(sources.abandoned());

    LocalHttpServer server;
    server.set_reply(std::string(notice_page_path), answer("<!--甲-->"_gbk));
    EXPECT_TRUE(online_refresh(sources, settings_path(), server.address(), testing::builtin_gifs())
                    .brand_names.empty());
    EXPECT_EQ(server.request_count(), 0u);
    EXPECT_TRUE(settings_bytes().empty());

    settings.stop = nullptr;
    settings.deadline = std::chrono::steady_clock::now() - 1ms;
    EXPECT_TRUE(Win32OnlineSources({}, settings).out_of_time());
    EXPECT_FALSE(Win32OnlineSources({}, {}).out_of_time());
}

} // namespace
} // namespace vorsa::online
