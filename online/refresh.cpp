#include "online/refresh.h"

#include "online/url.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"

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
        online_brand_text = "," + online_names_of(result.notice_page);
    } else {
        online_brand_text = read_setting(settings_path, section_pingpai, key_online_brands);
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
    for (const Bytes& download : downloads)
        result.brand_logos.push_back(download.empty() ? Bytes() : sources.convert_to_bmp(download));

    // A start given up on the way leaves the settings file as it was.
    if (sources.abandoned()) return {};
    if (page_came) changes.push_back({section_pingpai, key_online_brands, online_brand_text});
    return result;
}

} // namespace vorsa::online
