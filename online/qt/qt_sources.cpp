#include "online/qt/qt_sources.h"

#include <utility>

namespace vorsa::online {

QtOnlineSources::QtOnlineSources(std::function<void(const Text& page)> show_notice, HttpSettings settings,
                                 std::size_t byte_limit)
    : QtLocalSources(std::move(show_notice), settings), m_budget(byte_limit)
{
}

HttpSettings QtOnlineSources::fetch_settings()
{
    HttpSettings with_budget = settings();
    with_budget.budget = &m_budget;
    return with_budget;
}

Text QtOnlineSources::fetch_page(const Text& url)
{
    Text method;
    Text headers;
    return http_request_text(url, method, std::nullopt, headers, {}, nullptr, fetch_settings());
}

std::vector<Bytes> QtOnlineSources::fetch_all(const std::vector<Text>& urls)
{
    return http_fetch_all(urls, fetch_settings());
}

std::unique_ptr<OnlineSources> make_http_sources(std::function<void(const Text& page)> show_notice,
                                                 const HttpSettings& settings)
{
    return std::make_unique<QtOnlineSources>(std::move(show_notice), settings);
}

} // namespace vorsa::online
