#pragma once
// The refresh's sources without a network: nothing is fetched, pictures are converted with Qt's image
// I/O and giflib, and the built-in logos come from the program's resources. An offline build starts
// with these and links no HTTP client; QtOnlineSources (online/qt/qt_sources.h) adds the fetching.

#include "online/http_settings.h"
#include "online/refresh.h"

#include <functional>
#include <vector>

namespace vorsa::online {

// A logo is drawn 200 x 120 like the built-in ones; a larger one is scaled down to fit twice that, which
// keeps each converted logo within 384 kB however large the picture the server sends.
inline constexpr int logo_max_width = 400;
inline constexpr int logo_max_height = 240;

class QtLocalSources : public OnlineSources
{
public:
    // `show_notice` puts a fetched page where the preview will appear (the window hides the preview
    // box and creates the web view); it may be empty. `settings` carries the stop that abandons the
    // start.
    explicit QtLocalSources(std::function<void(const Text& page)> show_notice, HttpSettings settings = {});

    // Nothing is fetched: the page and every logo count as not fetched, as from a server that does
    // not answer.
    Text fetch_page(const Text& url) override;
    std::vector<Bytes> fetch_all(const std::vector<Text>& urls) override;
    // The built-in logos give the conversion stored with the program, any other picture is converted,
    // scaled down to fit logo_max_width x logo_max_height.
    Bytes convert_to_bmp(const Bytes& picture) override;
    void show_notice(const Text& page) override;
    // Abandoned once the settings' stop has been stopped.
    bool abandoned() const override;
    // Out of time once the settings' deadline has passed.
    bool out_of_time() const override;

protected:
    const HttpSettings& settings() const { return m_settings; }

private:
    std::function<void(const Text&)> m_show_notice;
    HttpSettings m_settings;
};

// The five built-in logo GIFs (":/logos/builtin_1.gif" .. "builtin_5.gif"), in the order of the
// built-in brand list. Their BMP conversions are stored beside them (":/logos/builtin_1.bmp" ..).
std::vector<Bytes> builtin_logos();

} // namespace vorsa::online
