#pragma once
// The refresh's sources on Windows: the page and the logos fetched from the vendor's server with the
// WinHTTP client, pictures converted through WIC, the page handed to the window to show. Windows only.

#include "online/http_settings.h"
#include "online/refresh.h"

#include <functional>
#include <memory>
#include <vector>

namespace vorsa::online {

// A logo is drawn 200 x 120 like the built-in ones; a larger one is scaled down to fit twice that, which
// keeps each converted logo within 384 kB however large the picture the server sends.
inline constexpr int logo_max_width = 400;
inline constexpr int logo_max_height = 240;

class Win32OnlineSources : public OnlineSources
{
public:
    // `show_notice` puts the fetched page where the preview will appear (the window hides the preview
    // box and creates the web view); it may be empty. Every request uses `settings`, its deadline and
    // stop included, and all of them together take at most `byte_limit` bytes; a budget already in
    // the settings is replaced.
    explicit Win32OnlineSources(std::function<void(const Text& page)> show_notice, HttpSettings settings = {},
                                std::size_t byte_limit = refresh_byte_limit);

    Text fetch_page(const Text& url) override;
    std::vector<Bytes> fetch_all(const std::vector<Text>& urls) override;
    // The picture as the program's BMP, scaled down to fit logo_max_width x logo_max_height. A BMP
    // within that size is read without WIC.
    Bytes convert_to_bmp(const Bytes& picture) override;
    void show_notice(const Text& page) override;
    // Abandoned once the settings' stop has been stopped.
    bool abandoned() const override;
    // Out of time once the settings' deadline has passed.
    bool out_of_time() const override;

private:
    HttpSettings fetch_settings();

    std::function<void(const Text&)> m_show_notice;
    HttpSettings m_settings;
    HttpBudget m_budget;
};

// A Win32OnlineSources, for the window's start options.
std::unique_ptr<OnlineSources> make_http_sources(std::function<void(const Text& page)> show_notice,
                                                 const HttpSettings& settings);

} // namespace vorsa::online
