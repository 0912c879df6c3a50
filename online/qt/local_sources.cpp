#include "online/qt/local_sources.h"

#include "online/qt/picture_convert.h"

#include <QFile>
#include <QString>
#include <cstring>
#include <mutex>
#include <utility>

// Registers the resource file compiled into the program, which lives in a static library and would
// otherwise not be linked in. Qt's macro must be used outside any namespace.
static void register_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace vorsa::online {

namespace {

void ensure_resources()
{
    static std::once_flag registered;
    std::call_once(registered, register_resources);
}

QByteArray resource_bytes(const QString& name)
{
    ensure_resources();
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The BMP the built-in logo with these bytes converts to, stored when the program was made; empty for
// any other picture.
Bytes stored_builtin_conversion(const Bytes& picture)
{
    for (int i = 1; i <= builtin_brand_count; ++i) {
        const QByteArray gif = resource_bytes(QStringLiteral(":/logos/builtin_%1.gif").arg(i));
        if (static_cast<std::size_t>(gif.size()) != picture.size() ||
            std::memcmp(gif.constData(), picture.data(), picture.size()) != 0)
            continue;
        const QByteArray bmp = resource_bytes(QStringLiteral(":/logos/builtin_%1.bmp").arg(i));
        return Bytes(bmp.begin(), bmp.end());
    }
    return {};
}

} // namespace

QtLocalSources::QtLocalSources(std::function<void(const Text& page)> show_notice, HttpSettings settings)
    : m_show_notice(std::move(show_notice)), m_settings(settings)
{
}

Text QtLocalSources::fetch_page(const Text&)
{
    return {};
}

std::vector<Bytes> QtLocalSources::fetch_all(const std::vector<Text>& urls)
{
    return std::vector<Bytes>(urls.size());
}

Bytes QtLocalSources::convert_to_bmp(const Bytes& picture)
{
    // Converting the five built-in logos cost every start as much as showing the title picture (the
    // GIF reader and the BMP writer, and the first picture read loading every image plug-in); their
    // conversions ship with the program (resources/logos/builtin_N.bmp, made by the same converter).
    if (Bytes stored = stored_builtin_conversion(picture); !stored.empty()) return stored;
    return convert_picture_to_fit(picture, PictureFormat::bmp, logo_max_width, logo_max_height);
}

void QtLocalSources::show_notice(const Text& page)
{
    if (m_show_notice) m_show_notice(page);
}

bool QtLocalSources::abandoned() const
{
    return m_settings.stop && m_settings.stop->stopped();
}

bool QtLocalSources::out_of_time() const
{
    return m_settings.deadline && std::chrono::steady_clock::now() >= *m_settings.deadline;
}

std::vector<Bytes> builtin_logos()
{
    std::vector<Bytes> logos;
    for (int i = 1; i <= builtin_brand_count; ++i) {
        const QByteArray data = resource_bytes(QStringLiteral(":/logos/builtin_%1.gif").arg(i));
        logos.emplace_back(data.begin(), data.end());
    }
    return logos;
}

} // namespace vorsa::online
