#include "online/refresh.h"

#include "online/url.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"

#include <algorithm>
#include <cassert>

namespace vorsa::online {

using namespace runtime;
using namespace runtime::literals;

Text builtin_brand_list()
{
    return "耐克,阿迪达斯,三叶草,新百伦,匡威"_gbk;
}

Text online_names_of(const Text& page)
{
    const int end = find_text(page, "-->");
    if (end == -1 || end - 5 < 1) return {};
    return mid_text(page, 5, end - 5);
}

Text bounded_online_brands(std::string_view text)
{
    // A comma is never the second byte of a double-byte character, so cutting at one is safe.
    if (text.size() > max_online_brand_bytes) {
        const auto last = text.rfind(',', max_online_brand_bytes);
        // A text of no whole name keeps its leading comma, as a page listing no brand gives.
        text = last == std::string_view::npos ? std::string_view()
                                              : text.substr(0, std::max<std::size_t>(last, 1));
    }
    std::size_t names = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Each comma starts a name; a final one starts none.
        if (text[i] != ',' || ++names <= max_online_brands || i + 1 == text.size()) continue;
        text = text.substr(0, i);
        break;
    }
    return Text(text);
}

Text logo_url(const Text& server_address, const Text& brand_name)
{
    return server_address + Text(logo_folder_path) + url_encode_utf8(brand_name) + ".gif";
}

OnlineBrands online_refresh(OnlineSources& sources, const std::string& settings_path,
                            const Text& server_address, const std::vector<Bytes>& builtin_logos)
{
    SettingChanges changes;
    OnlineBrands result = online_refresh(sources, settings_path, server_address, builtin_logos, changes);
    write_settings(settings_path, changes);
    return result;
}

OnlineBrands online_refresh(OnlineSources& sources, const std::string& settings_path,
                            const Text& server_address, const std::vector<Bytes>& builtin_logos,
                            SettingChanges& changes)
{
    assert(builtin_logos.size() == builtin_brand_count);
    const bool online = !server_address.empty();

    OnlineBrands result;
    if (online) result.notice_page = sources.fetch_page(server_address + Text(notice_page_path));

    const bool page_came = !result.notice_page.empty();
    Text online_brand_text;
    if (page_came) {
        sources.show_notice(result.notice_page);
        // A line break in the list (a name split over two lines of the page) would cut the stored list
        // there and lose the brands after it: it goes into the name as a blank, as a typed one would.
        online_brand_text = bounded_online_brands("," + single_line(online_names_of(result.notice_page)));
    } else {
        online_brand_text =
            bounded_online_brands(read_setting(settings_path, section_pingpai, key_online_brands));
    }

    for (const Bytes& logo : builtin_logos)
        result.brand_logos.push_back(sources.convert_to_bmp(logo));
    result.brand_names = split_text(builtin_brand_list() + online_brand_text, ",");

    // Every online brand gets an entry, empty when its logo did not come or does not decode, so that
    // logo i always belongs to brand i. The downloads run together; see OnlineSources::fetch_all.
    std::vector<Text> urls;
    for (std::size_t i = builtin_brand_count; i < result.brand_names.size(); ++i)
        urls.push_back(logo_url(server_address, result.brand_names[i]));
    std::vector<Bytes> downloads = online && !urls.empty() && !sources.abandoned()
                                       ? sources.fetch_all(urls)
                                       : std::vector<Bytes>(urls.size());
    assert(downloads.size() == urls.size());
    downloads.resize(urls.size());
    // Converting counts against the start's time: what is not converted in time stays empty. Each
    // download goes once it is converted.
    for (Bytes& download : downloads) {
        result.brand_logos.push_back(
            download.empty() || sources.out_of_time() ? Bytes() : sources.convert_to_bmp(download));
        Bytes().swap(download);
    }

    // A start given up on the way leaves the settings file as it was.
    if (sources.abandoned()) return {};
    if (page_came) changes.push_back({section_pingpai, key_online_brands, online_brand_text});
    return result;
}

} // namespace vorsa::online
