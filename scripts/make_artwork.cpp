// Draws the window's artwork into the resources folder: the program icon (a receipt with a torn edge)
// at 16, 32 and 48 pixels as PNG, and the title picture shown before the first preview, 340 x 400 as
// JPEG, with that JPEG decoded as a BMP for the Windows edition. Usage: QT_QPA_PLATFORM=offscreen
// vorsa_make_artwork <resources folder>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor ink(0x1F, 0x3B, 0x5C);
const QColor accent(0xC8, 0x3A, 0x2E);

// The receipt in a 48-unit square: paper with a zigzag bottom edge, a coloured head and text lines.
QImage draw_icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 48.0, size / 48.0);

    const bool small = size <= 16;
    QPainterPath paper;
    paper.moveTo(9, 3);
    paper.lineTo(39, 3);
    paper.lineTo(39, 43);
    const int teeth = small ? 3 : 5;
    const double tooth = 30.0 / teeth;
    for (int i = 0; i < teeth; ++i) {
        paper.lineTo(39 - tooth * (i + 0.5), 39.5);
        paper.lineTo(39 - tooth * (i + 1), 43);
    }
    paper.closeSubpath();
    painter.setPen(QPen(ink, small ? 3.0 : 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPath(paper);

    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawRect(QRectF(13, 7.5, 22, small ? 7 : 5));

    painter.setBrush(ink);
    const double line = small ? 4.0 : 2.4;
    const QList<QRectF> lines =
        small ? QList<QRectF>{{13, 20, 22, line}, {13, 29, 14, line}}
              : QList<QRectF>{{13, 17, 22, line}, {13, 23, 16, line}, {13, 29, 19, line}};
    for (const QRectF& rect : lines)
        painter.drawRect(rect);
    if (!small) {
        // The total, set off to the right.
        painter.drawRect(QRectF(26, 34, 9, line));
    }
    return image;
}

QImage draw_title()
{
    QImage image(340, 400, QImage::Format_RGB32);
    image.fill(QColor(0xF6, 0xF3, 0xEC));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QFont latin(QStringLiteral("Noto Sans CJK SC"));
    latin.setPixelSize(46);
    latin.setWeight(QFont::Bold);
    painter.setFont(latin);
    painter.setPen(ink);
    painter.drawText(QRect(0, 112, 340, 60), Qt::AlignCenter, QStringLiteral("Vorsa"));

    QFont title(QStringLiteral("Noto Sans CJK SC"));
    title.setPixelSize(30);
    title.setWeight(QFont::DemiBold);
    painter.setFont(title);
    painter.drawText(QRect(0, 172, 340, 46), Qt::AlignCenter, QStringLiteral("小票打印系统"));

    painter.setPen(QPen(accent, 2));
    painter.drawLine(130, 232, 210, 232);

    QFont note(QStringLiteral("Noto Sans CJK SC"));
    note.setPixelSize(14);
    painter.setFont(note);
    painter.setPen(QColor(0x6B, 0x6B, 0x6B));
    painter.drawText(QRect(0, 246, 340, 24), Qt::AlignCenter, QStringLiteral("添加商品，预览小票，一键打印"));

    painter.setFont(note);
    painter.setPen(QColor(0x9A, 0x9A, 0x9A));
    painter.drawText(QRect(0, 360, 340, 24), Qt::AlignCenter, QStringLiteral("1.5"));
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    folder.mkpath(QStringLiteral("icons"));
    bool written = true;
    for (int size : {16, 32, 48})
        written &= draw_icon(size).save(
            folder.filePath(QStringLiteral("icons/vorsa-receipt-%1.png").arg(size)), "PNG");
    const QString title_jpeg = folder.filePath(QStringLiteral("title.jpg"));
    written &= draw_title().save(title_jpeg, "JPEG", 90);
    // The Windows edition carries the title picture as the JPEG decoded, a BMP its own reader draws
    // without the system's imaging component (which would cost every start the loading of WIC).
    written &= QImage(title_jpeg)
                   .convertToFormat(QImage::Format_RGB888)
                   .save(folder.filePath(QStringLiteral("title.bmp")), "BMP");
    return written ? 0 : 1;
}
