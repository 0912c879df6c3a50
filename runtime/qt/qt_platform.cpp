#include "runtime/qt/qt_platform.h"

#include "runtime/qt/qt_paint.h"
#include "runtime/qt/qt_text.h"
#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"

#include <QBuffer>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImageReader>
#include <cstring>
#include <limits>

namespace vorsa::runtime {

using namespace literals;

namespace {

// The format of picture bytes by their signature; nothing for bytes no picture loader would take, so
// that readers without signatures (TGA and the like) never guess at garbage.
const char* picture_format(const Bytes& bytes)
{
    const auto starts_with = [&](std::initializer_list<std::uint8_t> prefix) {
        return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
    };
    if (starts_with({0xFF, 0xD8, 0xFF})) return "jpeg";
    if (starts_with({'G', 'I', 'F', '8'})) return "gif";
    if (starts_with({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "png";
    if (starts_with({0, 0, 1, 0})) return "ico";
    if (starts_with({0, 0, 2, 0})) return "cur";
    if (starts_with({'B', 'M'})) return "bmp";
    return nullptr;
}

std::optional<Bitmap> decode_with_qt(const Bytes& bytes)
{
    const char* format = picture_format(bytes);
    if (!format || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    QImage image;
    if (!reader.read(&image) || image.isNull()) return std::nullopt;
    Bitmap bitmap = bitmap_from_image(image);
    if (bitmap.empty()) return std::nullopt;
    return bitmap;
}

} // namespace

QString song_face_family()
{
    static const char* const candidates[] = {"SimSun", "NSimSun", "Noto Serif CJK SC", "AR PL UMing CN"};
    const QStringList installed = QFontDatabase::families();
    for (const char* candidate : candidates) {
        const QString family = QString::fromLatin1(candidate);
        if (!installed.contains(family, Qt::CaseInsensitive)) continue;
        // The font system must really hand out this face, not a fallback of the same name.
        if (QFontInfo(QFont(family)).family().compare(family, Qt::CaseInsensitive) == 0) return family;
    }
    return {};
}

std::string preferred_qt_platform(std::string_view chosen, std::string_view display,
                                  std::span<char* const> arguments)
{
    if (!chosen.empty() || display.empty()) return {};
    for (const char* argument : arguments)
        if (argument &&
            (std::string_view(argument) == "-platform" || std::string_view(argument) == "--platform"))
            return {};
    return "xcb;wayland";
}

void install_qt_platform()
{
    set_picture_decoder(decode_with_qt);
    const QString song = song_face_family();
    if (!song.isEmpty()) QFont::insertSubstitution(to_qstring("宋体"_gbk), song);
}

} // namespace vorsa::runtime
