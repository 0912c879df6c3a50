#pragma once
// The refresh's sources over the Qt HTTP client and picture conversion, and the built-in logos from
// the program's resources.

#include "online/qt/http_client.h"
#include "online/refresh.h"

#include <functional>
#include <vector>

namespace vorsa::online {

class QtOnlineSources : public OnlineSources
{
public:
    // `show_notice` puts the fetched page where the preview will appear (the window hides the preview
    // box and creates the web view); it may be empty. Every request uses `settings`, its deadline and
    // stop included.
    explicit QtOnlineSources(std::function<void(const Text& page)> show_notice, HttpSettings settings = {});

    Text fetch_page(const Text& url) override;
    std::vector<Bytes> fetch_all(const std::vector<Text>& urls) override;
    // The built-in logos give the conversion stored with the program, any other picture is converted.
    Bytes convert_to_bmp(const Bytes& picture) override;
    void show_notice(const Text& page) override;
    // Abandoned once the settings' stop has been stopped.
    bool abandoned() const override;

private:
    std::function<void(const Text&)> m_show_notice;
    HttpSettings m_settings;
};

// The five built-in logo GIFs (":/logos/builtin_1.gif" .. "builtin_5.gif"), in the order of the
// built-in brand list. Their BMP conversions are stored beside them (":/logos/builtin_1.bmp" ..).
std::vector<Bytes> builtin_logos();

} // namespace vorsa::online
