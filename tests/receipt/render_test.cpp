// The receipt drawn for real: the preview on a drawing board compared with a reference picture, and
// the print layout on a 120 x 140 mm PDF page whose text and positions are read back with poppler.
//
// Set VORSA_UPDATE_REFERENCE=1 to rewrite tests/receipt/data/preview_reference.png (and docs/preview.png)
// from the current rendering after a deliberate change of the layout or the fonts.
#include "receipt/layout.h"
#include "receipt/preview.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/qt/page_surface.h"
#include "runtime/qt/qt_paint.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/qt/qt_test_app.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRawFont>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace vorsa::receipt {
namespace {

using namespace runtime::literals;

const QString reference_path = QStringLiteral(VORSA_RECEIPT_TEST_DATA "/preview_reference.png");
const QString docs_picture_path = QStringLiteral(VORSA_SOURCE_DIR "/docs/preview.png");

// A logo that reads as one at 84 x 50 pixels: a black band with a white wedge, on white.
Bytes sample_logo()
{
    QImage logo(280, 168, QImage::Format_RGB32);
    logo.fill(Qt::white);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(20, 34, 240, 100), 18, 18);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({QPointF(60, 120), QPointF(140, 50), QPointF(220, 120), QPointF(140, 95)}));
    painter.end();
    return runtime::bitmap_to_bmp(runtime::bitmap_from_image(logo));
}

// The record of a build with fixed values, so the picture is the same every run.
ReceiptData sample_record(const ReceiptLines& lines)
{
    ReceiptData data;
    data.shop_name = "新世界百货"_gbk;
    data.receipt_number = "XS800000358306153427"_gbk;
    data.sale_date = "2014-10-06"_gbk;
    data.clerk_name = "店员甲"_gbk;
    data.shop_address = "新世界百货购物广场店"_gbk;
    data.total_text = total_text(lines);
    data.logo_picture = sample_logo();
    data.code_picture = make_code_picture(make_code_text("adidas"_gbk, lines));
    return data;
}

ReceiptLines sample_lines()
{
    ReceiptLines lines;
    lines.append({"跑步鞋"_gbk, "42"_gbk, "398.00"_gbk, "2"_gbk, "796.00"_gbk});
    lines.append({"运动短袖"_gbk, "XL"_gbk, "199.00"_gbk, "1"_gbk, "199.00"_gbk});
    lines.append({"运动袜"_gbk, "L"_gbk, "29.00"_gbk, "3"_gbk, "87.00"_gbk});
    return lines;
}

class RenderTest : public ::testing::Test
{
protected:
    QApplication& application = runtime::testing::test_application();
};

// Share of pixels whose largest channel difference exceeds `tolerance`.
double differing_share(const QImage& a, const QImage& b, int tolerance)
{
    long differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            differing += d > tolerance ? 1 : 0;
        }
    return static_cast<double>(differing) / (a.width() * a.height());
}

TEST_F(RenderTest, PreviewMatchesTheReferencePicture)
{
    ASSERT_EQ(runtime::screen_vertical_dpi(), 96);
    QWidget window;
    window.resize(540, 420);
    runtime::DrawingBoard board;
    board.create_board(&window, 180, 8, 340, 400);
    board.set_auto_redraw(true);
    window.show();

    const ReceiptLines lines = sample_lines();
    draw_receipt_preview(board, sample_record(lines), lines);
    const QImage rendered = board.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(rendered.size(), QSize(340, 400));

    if (qEnvironmentVariableIntValue("VORSA_UPDATE_REFERENCE") == 1) {
        QDir().mkpath(QFileInfo(docs_picture_path).path());
        ASSERT_TRUE(rendered.save(reference_path));
        ASSERT_TRUE(rendered.save(docs_picture_path));
        GTEST_SKIP() << "reference rewritten: " << reference_path.toStdString();
    }
    const QImage reference = QImage(reference_path).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(reference.isNull()) << "missing " << reference_path.toStdString();
    ASSERT_EQ(reference.size(), rendered.size());
    // Glyph edges may move by a shade between font library versions; the layout may not.
    EXPECT_LT(differing_share(rendered, reference, 48), 0.005);
}

TEST_F(RenderTest, ThePreviewsCodeReadsBackAsTheCodeText)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ZXingReader")).isEmpty())
        GTEST_SKIP() << "ZXingReader (zxing-cpp-tools) is not installed";
    QWidget window;
    runtime::DrawingBoard board;
    board.create_board(&window, 180, 8, 340, 400);
    board.set_auto_redraw(true);
    const ReceiptLines lines = sample_lines();
    draw_receipt_preview(board, sample_record(lines), lines);

    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("preview.png"));
    ASSERT_TRUE(board.off_screen_copy().save(path));
    QProcess reader;
    reader.start(QStringLiteral("ZXingReader"), {path});
    ASSERT_TRUE(reader.waitForFinished(30000));
    const QString output = QString::fromLatin1(reader.readAllStandardOutput());
    const auto bytes = QRegularExpression(QStringLiteral("\\nBytes:\\s+([0-9A-F ]+)\\n")).match(output);
    ASSERT_TRUE(bytes.hasMatch()) << output.toStdString();
    // The symbol carries the GBK bytes of the code text, 84 x 84 pixels on the board.
    const Text code_text = make_code_text("adidas"_gbk, lines);
    EXPECT_EQ(QByteArray::fromHex(bytes.captured(1).toLatin1()),
              QByteArray(code_text.data(), static_cast<qsizetype>(code_text.size())));
}

// Text of a PDF through pdftotext, with word boxes when `boxes` is set; empty when poppler is missing.
QString pdf_text(const QString& pdf, bool boxes)
{
    QProcess process;
    QStringList arguments;
    if (boxes) arguments << QStringLiteral("-bbox");
    arguments << pdf << QStringLiteral("-");
    process.start(QStringLiteral("pdftotext"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Text as the glyphs of the Song face that show it, white space left out. An extractor reads glyphs
// back through the PDF's character map and may name a glyph by another character that shares it (a
// Kangxi radical for its ideograph), so drawn and extracted text are compared glyph by glyph.
QString comparable(const QString& text)
{
    static const QRawFont song = QRawFont::fromFont(QFont(runtime::song_face_family()));
    QString glyphs;
    for (const quint32 glyph :
         song.glyphIndexesForString(QString(text).remove(QRegularExpression(QStringLiteral("\\s")))))
        glyphs.append(QChar(static_cast<char16_t>(glyph)));
    return glyphs;
}

// Every word of `drawn` (its runs of blanks are the layout's own, but an extractor re-spaces and
// re-orders words by position) occurs in `extracted`.
::testing::AssertionResult holds_words(const QString& extracted, const char* drawn)
{
    const QString glyphs = comparable(extracted);
    for (const QString& word : QString::fromUtf8(drawn).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (!glyphs.contains(comparable(word)))
            return ::testing::AssertionFailure() << "no \"" << word.toStdString() << "\"";
    return ::testing::AssertionSuccess();
}

QString pdf_info(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {pdf});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

class PrintedPdf : public RenderTest
{
protected:
    // Prints the layout as a printer at 203 dpi would report it, on a 600 dpi PDF page without margins.
    QString print(const ReceiptData& data, const ReceiptLines& lines)
    {
        const QString path = m_directory.filePath(QStringLiteral("receipt.pdf"));
        QPdfWriter writer(path);
        writer.setResolution(600);
        writer.setPageLayout(QPageLayout(QPageSize(QSizeF(120, 140), QPageSize::Millimeter),
                                         QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        QPainter painter(&writer);
        runtime::PageSurface page;
        page.attach(writer, painter, 203);
        page.set_mapping_mode(runtime::mapping_tenth_mm);
        draw_receipt_print(page, data, lines);
        page.detach();
        painter.end();
        if (qEnvironmentVariableIsSet("VORSA_KEEP_PDF")) m_directory.setAutoRemove(false);
        return path;
    }

    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    }

private:
    QTemporaryDir m_directory{QStringLiteral("/tmp/vorsa-pdf-XXXXXX")};
};

TEST_F(PrintedPdf, IsOnePageOf120By140Millimetres)
{
    const ReceiptLines lines = sample_lines();
    const QString info = pdf_info(print(sample_record(lines), lines));
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")))) << info.toStdString();
    // 120 mm and 140 mm in whole points.
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Page size:\\s+340 x 397 pts"))))
        << info.toStdString();
}

TEST_F(PrintedPdf, HoldsEveryLiteralOfTheLayout)
{
    const ReceiptLines lines = sample_lines();
    const QString text = pdf_text(print(sample_record(lines), lines), false);
    ASSERT_FALSE(text.isEmpty());
    const char* literals[] = {
        "授权经销商  新世界百货",
        "单据号         ",
        "销售单日期     2014-10-06",
        "类别    正常",
        "营业员： 店员甲   班次： C",
        "贵宾： N",
        "商品",
        "尺码",
        "单价",
        "数量",
        "金额",
        "合计：",
        "收银：",
        "积分：",
        "找零：",
        "  0.00",
        "新世界百货购物广场店",
        "温馨提示：本小票为商品退换货凭证，请妥善保管",
        "THANK YOU! WELCOME BACK AGAIN!",
        "一联存根(白)   二联客户(红)   三联财务(黄)",
        "跑步鞋",
        "796.00",
        "运动短袖",
        "XL",
        "199.00",
        "运动袜",
        "87.00",
    };
    for (const char* literal : literals)
        EXPECT_TRUE(holds_words(text, literal)) << literal;
    EXPECT_EQ(text.count(QStringLiteral("1082.00")), 3);
}

TEST_F(PrintedPdf, PlacesTextsInTenthsOfAMillimetreFromTheTopLeft)
{
    const ReceiptLines lines = sample_lines();
    const QString boxes = pdf_text(print(sample_record(lines), lines), true);
    ASSERT_FALSE(boxes.isEmpty());
    const auto box_of = [&](const QString& word) {
        const QRegularExpression pattern(
            QStringLiteral(
                "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"[\\d.]+\" yMax=\"([\\d.]+)\">") +
            QRegularExpression::escape(word) + QStringLiteral("</word>"));
        const auto match = pattern.match(boxes);
        return match.hasMatch()
                   ? std::optional<QRectF>(
                         QRectF(QPointF(match.captured(1).toDouble(), match.captured(2).toDouble()),
                                QPointF(match.captured(1).toDouble() + 1, match.captured(3).toDouble())))
                   : std::nullopt;
    };
    const double points_per_unit = 72.0 / 254.0;
    struct Case
    {
        const char* word;
        int x, y;   // the element's surface position in 0.1 mm
        int height; // the font's character height in 0.1 mm
    };
    const Case cases[] = {
        {"THANK", 290, 1145, 28}, {"796.00", 910, 595, 28}, {"1082.00", 910, 840, 28},
        {"商品", 75, 525, 33},    {"跑步鞋", 55, 595, 28},
    };
    for (const Case& c : cases) {
        const auto box = box_of(QString::fromUtf8(c.word));
        ASSERT_TRUE(box) << c.word;
        // The word starts at its x (a glyph's side bearing apart) ...
        EXPECT_NEAR(box->left(), c.x * points_per_unit, 1.5) << c.word;
        // ... and its box, the font's ascent to descent, starts at the character cell's top.
        EXPECT_NEAR(box->top(), c.y * points_per_unit, 2.0) << c.word;
        // 13 points become 2.8 mm of character height on a 203 dpi printer: the box is about the cell.
        EXPECT_GT(box->height(), c.height * points_per_unit * 0.95) << c.word;
        EXPECT_LT(box->height(), c.height * points_per_unit * 1.6) << c.word;
    }
}

TEST_F(PrintedPdf, BeforeAnyBuildOnlyTheLiteralsArePrinted)
{
    const QString text = pdf_text(print(ReceiptData{}, ReceiptLines{}), false);
    EXPECT_TRUE(holds_words(text, "授权经销商 单据号 销售单日期 类别 正常 营业员： 班次： C 贵宾： N 合计： "
                                  "收银： 积分： 找零： 0.00"));
    EXPECT_TRUE(holds_words(text, "商品 尺码 单价 数量 金额 温馨提示：本小票为商品退换货凭证，请妥善保管"));
    EXPECT_TRUE(holds_words(text, "THANK YOU! WELCOME BACK AGAIN! 一联存根(白) 二联客户(红) 三联财务(黄)"));
    EXPECT_FALSE(text.contains(QStringLiteral("XS")));
    EXPECT_FALSE(holds_words(text, "跑步鞋"));
    EXPECT_FALSE(holds_words(text, "新世界百货"));
}

} // namespace
} // namespace vorsa::receipt
