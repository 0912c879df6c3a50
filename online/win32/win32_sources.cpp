#include "online/win32/win32_sources.h"

#include "online/win32/http_client.h"
#include "online/win32/picture_convert.h"
#include "runtime/surface/picture.h"
#include "runtime/win32/wic_picture.h"

#include <utility>

namespace vorsa::online {

Win32OnlineSources::Win32OnlineSources(std::function<void(const Text& page)> show_notice,
                                       HttpSettings settings, std::size_t byte_limit)
    : m_show_notice(std::move(show_notice)), m_settings(settings), m_budget(byte_limit)
{
}

HttpSettings Win32OnlineSources::fetch_settings()
{
    HttpSettings with_budget = m_settings;
    with_budget.budget = &m_budget;
    return with_budget;
}

Text Win32OnlineSources::fetch_page(const Text& url)
{
    Text method;
    Text headers;
    return http_request_text(url, method, std::nullopt, headers, {}, nullptr, fetch_settings());
}

std::vector<Bytes> Win32OnlineSources::fetch_all(const std::vector<Text>& urls)
{
    return http_fetch_all(urls, fetch_settings());
}

Bytes Win32OnlineSources::convert_to_bmp(const Bytes& picture)
{
    // A BMP that needs no scaling is read by the program's own reader, the one that will draw the logo
    // on the receipt: the built-in logos ship as BMPs, so a start without a vendor server never loads
    // WIC. Any other picture goes through WIC.
    if (picture.size() >= 2 && picture[0] == 'B' && picture[1] == 'M') {
        const auto bitmap = runtime::picture_from_bytes(picture);
        if (bitmap && bitmap->width <= logo_max_width && bitmap->height <= logo_max_height)
            return runtime::bitmap_to_bmp(runtime::flattened_on_white(*bitmap));
    }
    return convert_picture_to_fit(picture, PictureFormat::bmp, logo_max_width, logo_max_height);
}

void Win32OnlineSources::show_notice(const Text& page)
{
    if (m_show_notice) m_show_notice(page);
}

bool Win32OnlineSources::abandoned() const
{
    return m_settings.stop && m_settings.stop->stopped();
}

bool Win32OnlineSources::out_of_time() const
{
    return m_settings.deadline && std::chrono::steady_clock::now() >= *m_settings.deadline;
}

std::unique_ptr<OnlineSources> make_http_sources(std::function<void(const Text& page)> show_notice,
                                                 const HttpSettings& settings)
{
    return std::make_unique<Win32OnlineSources>(std::move(show_notice), settings);
}

} // namespace vorsa::online
