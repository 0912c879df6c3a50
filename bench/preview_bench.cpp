// The preview build on a real drawing board (offscreen platform), whole and phase by phase:
//   record  collect_receipt_data (receipt number, fields, logo, total)
//   qr      the QR symbol picture of the code text
//   fit     the symbol stretched to the 300 x 300 code picture
//   draw    draw_receipt_preview on the board's off-screen copy (decoding logo and code included)
//   blit    the board repainted from its copy
// for an empty receipt and for five lines. Run with --benchmark_repetitions=15
// --benchmark_report_aggregates_only=true for medians; bench/README.md has the figures.
#include "receipt/layout.h"
#include "receipt/preview.h"
#include "runtime/controls/interaction.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/qt/qt_paint.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

using namespace vorsa;
using namespace vorsa::runtime::literals;

// The main window of the program, reduced to what the preview build uses.
class Window : public receipt::PreviewContext, public runtime::Interaction
{
public:
    explicit Window(int line_count)
    {
        m_window.resize(540, 420);
        m_board.create_board(&m_window, 180, 8, 340, 400);
        m_board.set_auto_redraw(true);
        m_window.show();
        runtime::set_interaction(this);

        m_fields = {"新世界百货"_gbk, "店员甲"_gbk, "新世界百货购物广场店"_gbk,
                    "2014-10-06"_gbk, "adidas"_gbk, 0};
        QImage logo(280, 168, QImage::Format_RGB32);
        logo.fill(Qt::white);
        QPainter(&logo).fillRect(20, 34, 240, 100, Qt::black);
        m_logos = {runtime::bitmap_to_bmp(runtime::bitmap_from_image(logo))};
        const runtime::Text products[] = {"跑步鞋"_gbk, "运动短袖"_gbk, "运动袜"_gbk, "篮球"_gbk, "护腕"_gbk};
        for (int i = 0; i < line_count; ++i)
            m_lines.append({products[i], "XL"_gbk, "199.00"_gbk, "2"_gbk, "398.00"_gbk});
    }
    ~Window() override { runtime::set_interaction(nullptr); }

    runtime::DrawingBoard& drawing_board() { return m_board; }

    runtime::DrawingSurface& board() override { return m_board; }
    void set_board_visible(bool shown) override { m_board.set_visible(shown); }
    bool web_view_visible() const override { return false; }
    void set_web_view_visible(bool) override {}
    receipt::ReceiptFields receipt_fields() const override { return m_fields; }
    const std::vector<receipt::Bytes>& ticked_logos() const override { return m_logos; }
    const receipt::ReceiptLines& receipt_lines() const override { return m_lines; }
    receipt::ReceiptData& receipt_data() override { return m_record; }

    int message_box(const runtime::Text&, int, const runtime::Text&) override { return 0; }
    int cursor_x() override { return 0; }
    int cursor_y() override { return 0; }
    void process_pending_events() override { QApplication::processEvents(); }

private:
    QWidget m_window;
    runtime::DrawingBoard m_board;
    receipt::ReceiptFields m_fields;
    std::vector<receipt::Bytes> m_logos;
    receipt::ReceiptLines m_lines;
    receipt::ReceiptData m_record;
};

void whole_build(benchmark::State& state)
{
    Window window(static_cast<int>(state.range(0)));
    for (auto _ : state)
        receipt::refresh_preview(window);
}

void record_phase(benchmark::State& state)
{
    Window window(static_cast<int>(state.range(0)));
    runtime::Text code_text;
    for (auto _ : state) {
        benchmark::DoNotOptimize(receipt::collect_receipt_data(
            window.receipt_fields(), window.receipt_lines(), window.ticked_logos(), code_text));
    }
}

void qr_phase(benchmark::State& state)
{
    Window window(static_cast<int>(state.range(0)));
    const runtime::Text code_text = receipt::make_code_text("adidas"_gbk, window.receipt_lines());
    for (auto _ : state)
        benchmark::DoNotOptimize(receipt::qr_symbol_picture(code_text));
}

void fit_phase(benchmark::State& state)
{
    Window window(static_cast<int>(state.range(0)));
    const receipt::Bytes symbol =
        receipt::qr_symbol_picture(receipt::make_code_text("adidas"_gbk, window.receipt_lines()));
    for (auto _ : state)
        benchmark::DoNotOptimize(runtime::fit_picture(symbol, 300, 300));
}

void draw_phase(benchmark::State& state)
{
    Window window(static_cast<int>(state.range(0)));
    receipt::refresh_preview(window);
    for (auto _ : state)
        receipt::draw_receipt_preview(window.board(), window.receipt_data(), window.receipt_lines());
}

void blit_phase(benchmark::State& state)
{
    Window window(static_cast<int>(state.range(0)));
    receipt::refresh_preview(window);
    for (auto _ : state)
        window.drawing_board().repaint();
}

BENCHMARK(whole_build)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(record_phase)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(qr_phase)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(fit_phase)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(draw_phase)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(blit_phase)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    runtime::install_qt_platform();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
