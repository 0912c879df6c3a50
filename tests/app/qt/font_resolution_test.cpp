// The program on a desktop that asks for a font resolution of its own: 192 dpi (QT_FONT_DPI, as Xft.dpi
// does) with Qt's scaling off, so that the screen counts 192 logical dots per inch at one device pixel
// per logical pixel. The window's letters keep the sizes that its fixed rectangles are made for, and
// the printed page's letters follow the printer's resolution alone, as at 96 dpi. The variables are
// set before this binary makes its application.

#include "app/qt/program_platform.h"
#include "app/qt/qt_counter_window.h"
#include "runtime/controls/printer.h"
#include "runtime/qt/page_surface.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/window_controls.h"
#include "tests/runtime/qt/qt_test_app.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace vorsa::app {
namespace {

using namespace runtime::literals;

QApplication& application_at_192_dpi()
{
    qputenv("QT_FONT_DPI", "192");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    return runtime::testing::test_application();
}

// A printer that paints the page into a PDF in memory as the spooler's printer does (a 300 dpi PDF
// device without margins, the page surface on top), and keeps the PDF instead of handing it over.
class PdfPrinter final : public runtime::PrintDevice
{
public:
    static constexpr int dpi = 300;
    QByteArray pdf;

    bool prepare_printer(const std::optional<runtime::Text>&, const runtime::PageRequest& request) override
    {
        close_printer();
        m_output.clear();
        m_buffer = std::make_unique<QBuffer>(&m_output);
        m_buffer->open(QIODevice::WriteOnly);
        m_writer = std::make_unique<QPdfWriter>(m_buffer.get());
        m_writer->setResolution(dpi);
        m_writer->setPageLayout(QPageLayout(QPageSize(QSizeF(request.paper_width.value_or(2100) / 10.0,
                                                             request.paper_length.value_or(2970) / 10.0),
                                                      QPageSize::Millimeter),
                                            QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                            QPageLayout::Millimeter));
        m_painter = std::make_unique<QPainter>(m_writer.get());
        m_surface.attach(*m_writer, *m_painter, dpi);
        return true;
    }
    bool start_document(const runtime::Text&) override { return m_painter != nullptr; }
    bool end_document() override
    {
        m_surface.detach();
        if (!m_painter || !m_painter->end()) return false;
        pdf = m_output;
        return true;
    }
    void close_printer() override
    {
        m_surface.detach();
        m_painter.reset();
        m_writer.reset();
        m_buffer.reset();
    }
    runtime::DrawingSurface& surface() override { return m_surface; }

private:
    QByteArray m_output;
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;
    runtime::PageSurface m_surface;
};

class FontResolutionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Without the desktop's resolution in force the test would prove nothing.
        ASSERT_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchY(), 192.0);
        ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.0);
        install_qt_program_platform();
        m_directory =
            std::filesystem::temp_directory_path() / ("vorsa-font-resolution-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_directory);
        StartOptions options;
        options.today = [] { return LocalDate{2014, 10, 6}; };
        options.printers = [](runtime::TextList& names) {
            names = {"Receipt"};
            return 1;
        };
        options.printer = &printer;
        m_program = std::make_unique<QtCounterWindow>((m_directory / "dy.cfg").string(), std::move(options));
        m_window = runtime::create_main_dialog(
            main_window_form, [this](runtime::MainDialog& made) { m_program->on_window_created(made); });
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void TearDown() override
    {
        m_window.reset();
        m_program.reset();
        std::filesystem::remove_all(m_directory);
    }

    // Types a line, presses "添加预览" and then "开始打印".
    void add_line_and_print()
    {
        WindowControls& c = m_program->controls();
        c.product_edit.set_control_text("跑鞋"_gbk);
        c.size_edit.set_control_text("42");
        c.price_edit.set_control_text("199");
        c.shop_box.set_control_text("新世界百货"_gbk);
        QTest::mouseClick(c.add_preview_button.widget(), Qt::LeftButton);
        QTest::mouseClick(c.print_button.widget(), Qt::LeftButton);
    }

    QApplication& application = application_at_192_dpi();
    ProgramPlatformGuard m_platform;
    PdfPrinter printer;
    std::filesystem::path m_directory;
    std::unique_ptr<QtCounterWindow> m_program;
    std::unique_ptr<runtime::MainDialog> m_window;
};

// The template's font is 9 points at 96 dpi, 12 pixels; the edit boxes, lists and buttons take the
// platform's GUI font at 96 dpi too. Every label, button and group box title fits its rectangle.
TEST_F(FontResolutionTest, WindowLettersKeepTheTemplatesSizesAndFitTheirRectangles)
{
    const QFont gui = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const int gui_pixels = static_cast<int>(std::lround(gui.pointSizeF() * 96 / 72));
    int texts = 0;
    for (QWidget* item : m_window->findChildren<QWidget*>()) {
        if (!item->property(runtime::control_id_property).isValid()) continue;
        SCOPED_TRACE(item->objectName().toStdString());
        const bool template_font = qobject_cast<QLabel*>(item) || qobject_cast<QGroupBox*>(item);
        EXPECT_EQ(QFontInfo(item->font()).pixelSize(), template_font ? 12 : gui_pixels);

        QString text;
        if (auto* label = qobject_cast<QLabel*>(item)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(item)) text = button->text();
        if (auto* group = qobject_cast<QGroupBox*>(item)) text = group->title();
        if (text.isEmpty()) continue;
        ++texts;
        // Across the whole advance of the text, and the letters' em within the height (the line
        // spacing of a Song face is larger than the template's one-line labels, at any resolution).
        EXPECT_LE(QFontMetrics(item->font()).horizontalAdvance(text), item->width()) << text.toStdString();
        EXPECT_LE(QFontInfo(item->font()).pixelSize(), item->height()) << text.toStdString();
    }
    EXPECT_GE(texts, 10);
}

// The preview's letters are those of a 96 dpi screen (8 points, 11 pixels), and the printed page's
// those of the printer's resolution: a 13-point text is 17 screen pixels at 96 dpi, on a 300 dpi
// printer 17 x 339 / 300 = 19 units of 0.1 mm, whatever the screen.
TEST_F(FontResolutionTest, PreviewAndPrintedPageKeepTheirLetterSizes)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    add_line_and_print();
    EXPECT_EQ(m_program->preview_board().current_font().height, -11);
    ASSERT_FALSE(printer.pdf.isEmpty());

    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("receipt.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(printer.pdf);
    file.close();
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    ASSERT_TRUE(process.waitForFinished(30000));
    const QString boxes = QString::fromUtf8(process.readAllStandardOutput());

    struct Case
    {
        const char* word;
        int height; // the font's character height in 0.1 mm
        int right;  // where the word ends at most in 0.1 mm: its end at these sizes, and some room
    };
    const Case cases[] = {
        {"授权经销商", 26, 520},   // the title, 17 points: -23 pixels, -26 units; from x 360
        {"商品", 23, 135},         // a heading, 15 points: -20 pixels, -23 units; from x 75
        {"THANK", 19, 360},        // 13 points, from x 290
        {"三联财务(黄)", 19, 640}, // the footer's end; the footer starts at x 192
    };
    const double points_per_unit = 72.0 / 254.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const QRegularExpression pattern(
            QStringLiteral(
                "<word xMin=\"[\\d.]+\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">") +
            QRegularExpression::escape(QString::fromUtf8(c.word)) + QStringLiteral("</word>"));
        const auto match = pattern.match(boxes);
        ASSERT_TRUE(match.hasMatch()) << boxes.toStdString();
        // The box runs from the font's ascent to its descent: about the character height, a little more.
        const double height = match.captured(3).toDouble() - match.captured(1).toDouble();
        EXPECT_GT(height, c.height * points_per_unit * 0.95);
        EXPECT_LT(height, c.height * points_per_unit * 1.6);
        EXPECT_LT(match.captured(2).toDouble(), c.right * points_per_unit);
    }
}

} // namespace
} // namespace vorsa::app
