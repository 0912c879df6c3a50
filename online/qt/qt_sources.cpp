#include "online/qt/qt_sources.h"

#include "online/qt/picture_convert.h"

#include <QFile>
#include <QString>
#include <mutex>

// Registers the resource file compiled into the program, which lives in a static library and would
// otherwise not be linked in. Qt's macro must be used outside any namespace.
static void register_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace vorsa::online {

QtOnlineSources::QtOnlineSources(std::function<void(const Text& page)> show_notice, HttpSettings settings)
    : m_show_notice(std::move(show_notice)), m_settings(settings)
{
}

Text QtOnlineSources::fetch_page(const Text& url)
{
    Text method;
    Text headers;
    return http_request_text(url, method, std::nullopt, headers, {}, nullptr, m_settings);
}

std::vector<Bytes> QtOnlineSources::fetch_all(const std::vector<Text>& urls)
{
    return http_fetch_all(urls, m_settings);
}

Bytes QtOnlineSources::convert_to_bmp(const Bytes& picture)
{
    return convert_picture(picture, PictureFormat::bmp);
}

void QtOnlineSources::show_notice(const Text& page)
{
    if (m_show_notice) m_show_notice(page);
}

bool QtOnlineSources::abandoned() const
{
    return m_settings.stop && m_settings.stop->stopped();
}

std::vector<Bytes> builtin_logos()
{
    static std::once_flag registered;
    std::call_once(registered, register_resources);
    std::vector<Bytes> logos;
    for (int i = 1; i <= builtin_brand_count; ++i) {
        QFile file(QStringLiteral(":/logos/builtin_%1.gif").arg(i));
        const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        logos.emplace_back(data.begin(), data.end());
    }
    return logos;
}

} // namespace vorsa::online
