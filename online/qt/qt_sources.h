#pragma once
// The refresh's sources over the Qt HTTP client: the local sources (picture conversion, built-in
// logos) with the page and the logos fetched from the vendor's server.

#include "online/qt/http_client.h"
#include "online/qt/local_sources.h"

#include <functional>
#include <memory>
#include <vector>

namespace vorsa::online {

class QtOnlineSources : public QtLocalSources
{
public:
    // `show_notice` puts the fetched page where the preview will appear (the window hides the preview
    // box and creates the web view); it may be empty. Every request uses `settings`, its deadline and
    // stop included, and all of them together take at most `byte_limit` bytes (refresh_byte_limit for
    // a start); a budget already in the settings is replaced.
    explicit QtOnlineSources(std::function<void(const Text& page)> show_notice, HttpSettings settings = {},
                             std::size_t byte_limit = refresh_byte_limit);

    Text fetch_page(const Text& url) override;
    std::vector<Bytes> fetch_all(const std::vector<Text>& urls) override;

private:
    HttpSettings fetch_settings();

    HttpBudget m_budget;
};

// A QtOnlineSources, for the window's start options (StartOptions::online_sources).
std::unique_ptr<OnlineSources> make_http_sources(std::function<void(const Text& page)> show_notice,
                                                 const HttpSettings& settings);

} // namespace vorsa::online
