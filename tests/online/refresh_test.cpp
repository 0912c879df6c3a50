#include "online/refresh.h"
#include "runtime/settings/settings.h"
#include "runtime/text/gbk.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <sstream>

namespace vorsa::online {
namespace {

using namespace runtime::literals;
using runtime::utf8_from_gbk;

const Text server = "http://vendor.test:8000";
const Text img = server + "/tarnwick/plendor/IMG/";

// Downloads come from a table; a "picture" is anything starting with "GIF", and its BMP form is
// tagged so that the test sees which picture ended where.
class FakeSources : public OnlineSources
{
public:
    Text page;
    std::map<Text, Bytes> files;
    std::vector<Text> pages_asked;
    std::vector<std::vector<Text>> batches;
    std::vector<Text> notices;
    bool late = false;

    Text fetch_page(const Text& url) override
    {
        pages_asked.push_back(url);
        return page;
    }
    std::vector<Bytes> fetch_all(const std::vector<Text>& urls) override
    {
        batches.push_back(urls);
        std::vector<Bytes> out;
        for (const Text& url : urls)
            out.push_back(files.count(url) ? files[url] : Bytes());
        return out;
    }
    Bytes convert_to_bmp(const Bytes& picture) override
    {
        const Text text = runtime::text_of(picture);
        return text.rfind("GIF", 0) == 0 ? runtime::bytes_of("BMP<" + text + ">") : Bytes();
    }
    void show_notice(const Text& shown) override { notices.push_back(shown); }
    bool out_of_time() const override { return late; }
};

std::vector<Bytes> builtin_pictures()
{
    std::vector<Bytes> logos;
    for (int i = 1; i <= 5; ++i)
        logos.push_back(runtime::bytes_of("GIF" + std::to_string(i)));
    return logos;
}

std::string joined(const runtime::TextList& names)
{
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += (i ? "," : "") + utf8_from_gbk(names[i]);
    return out;
}

std::string shown_logos(const std::vector<Bytes>& logos)
{
    std::string out;
    for (std::size_t i = 0; i < logos.size(); ++i)
        out += (i ? " " : "") + (logos[i].empty() ? "-" : runtime::text_of(logos[i]));
    return out;
}

class RefreshTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device seed;
        m_dir = std::filesystem::temp_directory_path() / ("vorsa_refresh_" + std::to_string(seed()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string settings_path() const { return (m_dir / "dy.cfg").string(); }
    bool settings_exist() const { return std::filesystem::exists(settings_path()); }
    std::string settings_content() const
    {
        std::ifstream file(settings_path(), std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }
    Text stored() const { return runtime::read_setting(settings_path(), "pingpai", "onlinepingpai"); }

    struct Start;
    void run_starts(const std::vector<Start>& starts);

    std::filesystem::path m_dir;
};

const std::string builtin_names = "耐克,阿迪达斯,三叶草,新百伦,匡威";
const std::string builtin_bmps = "BMP<GIF1> BMP<GIF2> BMP<GIF3> BMP<GIF4> BMP<GIF5>";

// One start of the program against the same settings file.
struct RefreshTest::Start
{
    const char* what;
    Text server;
    Text page; // "" when the server does not answer
    std::string names;
    std::vector<Text> logo_urls; // the one batch asked for, empty when none
    std::optional<Text> stored;  // the value left in the settings file; nothing when no file
};

void RefreshTest::run_starts(const std::vector<Start>& starts)
{
    for (const Start& start : starts) {
        SCOPED_TRACE(start.what);
        FakeSources sources;
        sources.page = start.page;
        const OnlineBrands brands =
            online_refresh(sources, settings_path(), start.server, builtin_pictures());
        EXPECT_EQ(brands.notice_page, start.page);
        EXPECT_EQ(joined(brands.brand_names), start.names);
        EXPECT_EQ(brands.brand_logos.size(), brands.brand_names.size());
        EXPECT_EQ(sources.pages_asked,
                  start.server.empty() ? std::vector<Text>{}
                                       : std::vector<Text>{start.server + "/tarnwick/plendor/xiaopiao.htm"});
        // The page is shown exactly when it came.
        EXPECT_EQ(sources.notices, start.page.empty() ? std::vector<Text>{} : std::vector<Text>{start.page});
        const std::vector<std::vector<Text>> batches = start.logo_urls.empty()
                                                           ? std::vector<std::vector<Text>>{}
                                                           : std::vector<std::vector<Text>>{start.logo_urls};
        EXPECT_EQ(sources.batches, batches);
        EXPECT_EQ(settings_exist(), start.stored.has_value());
        if (start.stored) {
            EXPECT_EQ(utf8_from_gbk(stored()), utf8_from_gbk(*start.stored));
        }
    }
}

TEST_F(RefreshTest, StartsOnlineThenOffline)
{
    const std::vector<Text> two_logos = {img + "%E6%9D%8E%E5%AE%81.gif", img + "%E5%AE%89%E8%B8%8F.gif"};
    run_starts({
        {"first start ever, offline", server, "", builtin_names, {}, std::nullopt},
        {"online", server, "<!--李宁,安踏-->\r\n<html>公告</html>"_gbk, builtin_names + ",李宁,安踏",
         two_logos, ",李宁,安踏"_gbk},
        {"offline after online: the remembered brands, logos asked again", server, "",
         builtin_names + ",李宁,安踏", two_logos, ",李宁,安踏"_gbk},
        {"no server configured: nothing asked", "", "", builtin_names + ",李宁,安踏", {}, ",李宁,安踏"_gbk},
        {"a page without the marker replaces the list by a lone comma",
         server,
         "<html>公告</html>"_gbk,
         builtin_names,
         {},
         ","},
        {"an empty comment", server, "<!---->", builtin_names, {}, ","},
        {"the marker too early for a comment", server, "ab-->cd", builtin_names, {}, ","},
        {"two commas in a row give an empty name and a logo named only .gif",
         server,
         "<!--李宁,,安踏-->"_gbk,
         builtin_names + ",李宁,,安踏",
         {img + "%E6%9D%8E%E5%AE%81.gif", img + ".gif", img + "%E5%AE%89%E8%B8%8F.gif"},
         ",李宁,,安踏"_gbk},
        {"a line break in a name is a blank there, and the names after it stay",
         server,
         "<!--李宁\r\n安踏,特步-->"_gbk,
         builtin_names + ",李宁 安踏,特步",
         {img + "%E6%9D%8E%E5%AE%81 %E5%AE%89%E8%B8%8F.gif", img + "%E7%89%B9%E6%AD%A5.gif"},
         ",李宁 安踏,特步"_gbk},
        {"offline after it: the same names",
         server,
         "",
         builtin_names + ",李宁 安踏,特步",
         {img + "%E6%9D%8E%E5%AE%81 %E5%AE%89%E8%B8%8F.gif", img + "%E7%89%B9%E6%AD%A5.gif"},
         ",李宁 安踏,特步"_gbk},
        {"a final comma adds no name",
         server,
         "<!--飞岩,-->"_gbk,
         builtin_names + ",飞岩",
         {img + "%E9%A3%9E%E5%B2%A9.gif"},
         ",飞岩,"_gbk},
    });
    // The key sits in its section as a plain line.
    EXPECT_NE(settings_content().find("[pingpai]"), std::string::npos);
    EXPECT_NE(settings_content().find("onlinepingpai=,飞岩,"_gbk), std::string::npos);
}

TEST_F(RefreshTest, KeepsEveryLogoInItsBrandsPlace)
{
    FakeSources sources;
    sources.page = "<!--甲,乙,丙,丁-->"_gbk;
    sources.files[logo_url(server, "甲"_gbk)] = runtime::bytes_of("GIF-a");
    // 乙 does not come at all; 丙 comes as an error page, which does not decode.
    sources.files[logo_url(server, "丙"_gbk)] = runtime::bytes_of("<html>404</html>");
    sources.files[logo_url(server, "丁"_gbk)] = runtime::bytes_of("GIF-d");
    const OnlineBrands brands = online_refresh(sources, settings_path(), server, builtin_pictures());
    EXPECT_EQ(joined(brands.brand_names), builtin_names + ",甲,乙,丙,丁");
    EXPECT_EQ(shown_logos(brands.brand_logos), builtin_bmps + " BMP<GIF-a> - - BMP<GIF-d>");
}

TEST_F(RefreshTest, OfflineStartKeepsEmptyLogosForRememberedBrands)
{
    runtime::write_setting(settings_path(), "pingpai", "onlinepingpai", ",甲,乙"_gbk);
    FakeSources sources;
    const OnlineBrands brands = online_refresh(sources, settings_path(), server, builtin_pictures());
    EXPECT_EQ(joined(brands.brand_names), builtin_names + ",甲,乙");
    EXPECT_EQ(shown_logos(brands.brand_logos), builtin_bmps + " - -");
}

TEST_F(RefreshTest, LogosNotConvertedInTimeStayEmpty)
{
    FakeSources sources;
    sources.page = "<!--甲,乙-->"_gbk;
    sources.files[logo_url(server, "甲"_gbk)] = runtime::bytes_of("GIF-a");
    sources.files[logo_url(server, "乙"_gbk)] = runtime::bytes_of("GIF-b");
    sources.late = true;
    const OnlineBrands brands = online_refresh(sources, settings_path(), server, builtin_pictures());
    EXPECT_EQ(joined(brands.brand_names), builtin_names + ",甲,乙");
    EXPECT_EQ(shown_logos(brands.brand_logos), builtin_bmps + " - -");
    EXPECT_EQ(stored(), ",甲,乙"_gbk);
}

// ",n0,n1,...": `count` names of the form n + number.
Text numbered_names(int count, const std::string& filler = "")
{
    Text text;
    for (int i = 0; i < count; ++i)
        text += ",n" + std::to_string(i) + filler;
    return text;
}

// However long the list a server sends (or an earlier start stored), a start takes the first
// max_online_brands names within max_online_brand_bytes, asks for their logos only and stores only
// them, so that later starts are bounded too. A list within the bounds is taken as it is.
TEST_F(RefreshTest, TakesABoundedNumberOfOnlineBrands)
{
    const std::string long_name(9000, 'x');
    const std::string filler(100, 'y');
    struct Case
    {
        const char* what;
        Text page;       // "" for an offline start
        Text remembered; // the stored value before the start
        Text offered;    // the online brands offered, each after a comma
        Text stored;     // the stored value after the start
    };
    const std::vector<Case> cases = {
        {"20 000 names on the page", "<!--" + numbered_names(20000).substr(1) + "-->", "",
         numbered_names(100), numbered_names(100)},
        {"600 names remembered, offline", "", numbered_names(600), numbered_names(100), numbered_names(600)},
        {"100 names and a final comma: as they are", "<!--" + numbered_names(100).substr(1) + ",-->", "",
         numbered_names(100), numbered_names(100) + ","},
        {"101 names and a final comma", "<!--" + numbered_names(101).substr(1) + ",-->", "",
         numbered_names(100), numbered_names(100)},
        // 10 names of 103 bytes and 68 of 104 end at byte 8102; the 79th would end at 8206.
        {"names beyond the bytes: the one crossing the bound left out whole",
         "<!--" + numbered_names(90, filler).substr(1) + "-->", "", numbered_names(78, filler),
         numbered_names(78, filler)},
        {"one name longer than the bound", "<!--" + long_name + ",a-->", "", "", ","},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(settings_path());
        if (!c.remembered.empty())
            runtime::write_setting(settings_path(), "pingpai", "onlinepingpai", c.remembered);
        FakeSources sources;
        sources.page = c.page;
        const OnlineBrands brands = online_refresh(sources, settings_path(), server, builtin_pictures());
        EXPECT_EQ(joined(brands.brand_names), builtin_names + c.offered);
        EXPECT_EQ(brands.brand_logos.size(), brands.brand_names.size());
        const std::size_t offered = brands.brand_names.size() - builtin_brand_count;
        EXPECT_EQ(sources.batches.empty() ? 0 : sources.batches.front().size(), offered);
        EXPECT_EQ(stored(), c.stored);
    }
}

TEST(OnlineNamesTest, TakesTheTextBetweenOpenerAndMarker)
{
    struct Case
    {
        Text page;
        Text names;
    };
    const std::vector<Case> cases = {
        {"<!--李宁,安踏-->rest"_gbk, "李宁,安踏"_gbk},
        {"<!--a-->b-->", "a"}, // the first marker
        {"xxxxa-->", "a"},     // any four bytes open the comment
        {"<!-- a -->", " a "},
        {"<!---->", ""},
        {"<!--a", ""}, // no marker
        {"-->", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(online_names_of(c.page), c.names) << utf8_from_gbk(c.page);
}

} // namespace
} // namespace vorsa::online
