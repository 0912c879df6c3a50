// Writes the logo pictures that ship with the program and with the demo vendor site: each brand's
// name set in type on a plain ground, 200 x 120 pixels, as GIF. No trademark artwork. The built-in
// logos are also stored as the BMP the program's converter makes of them, so that the program need not
// convert them at every start; with --bmp only those are written, from the GIFs already there.
//
//   cmake --build build --target vorsa_make_logos
//   QT_QPA_PLATFORM=offscreen build/online/vorsa_make_logos . [--bmp]    (from the top of the repository)

#include "online/qt/picture_convert.h"
#include "online/refresh.h"
#include "runtime/qt/qt_text.h"
#include "runtime/text/gbk.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

using namespace vorsa;

namespace {

// The demo vendor site's two brands (invented names).
const char* const demo_brands[] = {"飞岩", "云途"};

QImage logo_picture(const QString& name, QColor ground, QColor ink)
{
    QImage image(200, 120, QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(QPen(ink, 3));
    painter.drawRect(QRectF(5.5, 5.5, 188, 108));
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(name.size() > 3 ? 30 : 40);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 200, 120), Qt::AlignCenter, name);
    return image;
}

bool write_gif(const QString& path, const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const runtime::Bytes gif =
        online::convert_picture(runtime::Bytes(png.begin(), png.end()), online::PictureFormat::gif);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (gif.empty() || !file.open(QIODevice::WriteOnly)) return false;
    file.write(reinterpret_cast<const char*>(gif.data()), static_cast<qint64>(gif.size()));
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The BMP of the GIF at `gif_path`, beside it.
bool write_bmp(const QString& gif_path)
{
    QFile in(gif_path);
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray gif = in.readAll();
    const runtime::Bytes bmp =
        online::convert_picture(runtime::Bytes(gif.begin(), gif.end()), online::PictureFormat::bmp);
    QString path = gif_path;
    path.replace(QStringLiteral(".gif"), QStringLiteral(".bmp"));
    QFile out(path);
    if (bmp.empty() || !out.open(QIODevice::WriteOnly)) return false;
    out.write(reinterpret_cast<const char*>(bmp.data()), static_cast<qint64>(bmp.size()));
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    const QColor grounds[] = {
        {0xF2, 0xF2, 0xF2}, {0xE8, 0xF0, 0xFA}, {0xEE, 0xF6, 0xEA}, {0xFA, 0xF0, 0xE6}, {0xF6, 0xEA, 0xF0}};
    const runtime::TextList names = runtime::split_text(online::builtin_brand_list(), ",");
    const bool bmp_only = argc > 2 && QByteArray(argv[2]) == "--bmp";
    bool ok = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const QString gif = root + QStringLiteral("/resources/logos/builtin_%1.gif").arg(i + 1);
        if (!bmp_only)
            ok &= write_gif(
                gif, logo_picture(runtime::to_qstring(names[i]), grounds[i % 5], QColor(0x20, 0x20, 0x20)));
        ok &= write_bmp(gif);
    }
    if (bmp_only) return ok ? 0 : 1;
    for (const char* brand : demo_brands)
        ok &= write_gif(
            root + QStringLiteral("/resources/demo-site/tarnwick/plendor/IMG/%1.gif")
                       .arg(QString::fromUtf8(brand)),
            logo_picture(QString::fromUtf8(brand), QColor(0x1E, 0x3A, 0x5F), QColor(0xFF, 0xFF, 0xFF)));
    return ok ? 0 : 1;
}
