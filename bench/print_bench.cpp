// "开始打印" against lp: the time from the press of the print button on the real main window (which has
// a preview of two lines) until the spooler holds the job, against `lp -d <queue> receipt.pdf` handing
// the same one-page PDF to the same queue, in the same run. The phases of the press are timed on their
// own: saving the shop values, preparing the queue, painting the receipt into its PDF page, and
// submitting that PDF to the spooler through libcups from this process (what lp does, without
// starting a process).
//
// Needs the test spooler of scripts/test-env.sh (start_test_services): the queue VORSA_TEST_PRINTER,
// whose device is a socket on 127.0.0.1:VORSA_TEST_PRINTER_PORT. The benchmark listens there itself,
// and after each timed submission waits (untimed) until the printer has received the document, so
// every submission meets an idle queue.
//
//   print_bench --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
//               --benchmark_report_aggregates_only=true
//   print_bench --sample=printed.pdf    prints one sample receipt and keeps the PDF the printer received
#include "app/qt/qt_counter_window.h"
#include "receipt/layout.h"
#include "receipt/print.h"
#include "runtime/print/printer.h"
#include "runtime/qt/page_surface.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/qt_interaction.h"
#include "tests/app/print_support.h"

#include <QApplication>
#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cups/cups.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace vorsa;
using namespace vorsa::runtime::literals;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The program's window in a directory of its own, remembering the test queue as its printer, with the
// brand 耐克 ticked, a shop, clerk and address, and a preview of two lines.
class PrintingWindow
{
public:
    explicit PrintingWindow(const std::string& queue)
        : m_directory(fs::temp_directory_path() / ("vorsa_print_bench_" + std::to_string(::getpid())))
    {
        fs::remove_all(m_directory);
        fs::create_directories(m_directory);
        const std::string settings = (m_directory / settings_file_name).string();
        runtime::write_setting(settings, section_dayinji, key_printer, runtime::gbk_from_utf8(queue));
        runtime::write_setting(settings, section_print, key_ticked_brands, "耐克|"_gbk);
        runtime::write_setting(settings, section_print, key_shops, "0,新世界百货"_gbk);
        runtime::write_setting(settings, section_print, key_clerk, "店员甲"_gbk);
        runtime::write_setting(settings, section_print, key_address, "新世界百货购物广场店"_gbk);

        app::StartOptions options;
        options.today = [] { return app::LocalDate{2015, 3, 5}; };
        options.printers = runtime::list_printers;
        options.printer = &m_printer;
        m_program = std::make_unique<app::QtCounterWindow>(settings, options);
        m_window = runtime::create_main_dialog(app::main_window_form, [this](runtime::MainDialog& window) {
            m_program->on_window_created(window);
        });
        m_window->show();
        QCoreApplication::processEvents();

        const struct
        {
            const char* product;
            const char* size;
            const char* price;
            const char* quantity;
        } lines[] = {{"跑步鞋", "42", "399", "1"}, {"运动T恤", "L", "129", "2"}};
        app::WindowControls& controls = m_program->controls();
        for (const auto& line : lines) {
            controls.product_edit.set_control_text(runtime::gbk_from_utf8(line.product));
            controls.size_edit.set_control_text(runtime::gbk_from_utf8(line.size));
            controls.price_edit.set_control_text(runtime::gbk_from_utf8(line.price));
            controls.quantity_edit.set_control_text(runtime::gbk_from_utf8(line.quantity));
            static_cast<QPushButton*>(controls.add_preview_button.widget())->click();
        }
        QCoreApplication::processEvents();
    }
    ~PrintingWindow()
    {
        m_window.reset();
        m_program.reset();
        fs::remove_all(m_directory);
    }

    // Presses "开始打印"; true when the press left a new job at the spooler.
    bool press_print()
    {
        const int before = m_printer.last_job_id();
        static_cast<QPushButton*>(m_program->controls().print_button.widget())->click();
        return m_printer.last_job_id() != before;
    }

    const runtime::Printer& printer() const { return m_printer; }
    app::QtCounterWindow& program() { return *m_program; }
    const fs::path& directory() const { return m_directory; }

private:
    fs::path m_directory;
    runtime::Printer m_printer;
    std::unique_ptr<app::QtCounterWindow> m_program;
    std::unique_ptr<runtime::MainDialog> m_window;
};

struct Spooler
{
    std::string queue;
    std::unique_ptr<test::DocumentReceiver> receiver;
    std::unique_ptr<PrintingWindow> window;
    fs::path pdf; // the PDF of the window's last print
};
Spooler* spooler = nullptr;

// True when the spooler reports the queue idle (no job pending or processing).
bool queue_idle()
{
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, spooler->queue.c_str(), nullptr);
    if (!dest) return false;
    const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
    const bool idle = state && std::string(state) == std::to_string(IPP_PSTATE_IDLE);
    cupsFreeDests(1, dest);
    return idle;
}

// Waits, untimed, until the printer has received every document submitted so far and the spooler has
// finished with the job, so that the next submission meets an idle spooler.
bool printed(benchmark::State& state, std::size_t& submitted)
{
    ++submitted;
    const auto received = Clock::now() + 60s;
    while (spooler->receiver->count() < submitted) {
        if (Clock::now() > received) {
            state.SkipWithError("the printer did not receive the document within 60 s");
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    const auto deadline = Clock::now() + 30s;
    while (!queue_idle()) {
        if (Clock::now() > deadline) {
            state.SkipWithError("the queue did not become idle within 30 s");
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void print_button(benchmark::State& state)
{
    std::size_t submitted = spooler->receiver->count();
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool held = spooler->window->press_print();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!held) {
            state.SkipWithError("the press left no job at the spooler");
            break;
        }
        if (!printed(state, submitted)) break;
    }
}

// What a press paints: the receipt on a fresh 120 x 140 mm PDF page at the queue's resolution.
void paint_phase(benchmark::State& state)
{
    app::QtCounterWindow& program = spooler->window->program();
    for (auto _ : state) {
        QByteArray output;
        QBuffer buffer(&output);
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter writer(&buffer);
            writer.setResolution(300);
            writer.setPageLayout(QPageLayout(QPageSize(QSizeF(120, 140), QPageSize::Millimeter),
                                             QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                             QPageLayout::Millimeter));
            QPainter painter(&writer);
            runtime::PageSurface surface;
            surface.attach(writer, painter, 300);
            surface.set_mapping_mode(runtime::mapping_tenth_mm);
            receipt::draw_receipt_print(surface, program.counter().receipt_data(),
                                        program.counter().receipt_lines());
            surface.detach();
        }
        benchmark::DoNotOptimize(output.size());
    }
}

// What a press saves before printing: the shop list, clerk and address written to the settings file.
// With argument 0 they are as stored (the file is left alone); with 1 the clerk changes every time, so
// one value is written (a synced replace of the file).
void save_phase(benchmark::State& state)
{
    app::QtCounterWindow& program = spooler->window->program();
    const runtime::Text clerk = program.controls().clerk_edit.get_control_text();
    const runtime::Text clerks[] = {"店员乙"_gbk, "店员丙"_gbk};
    int turn = 0;
    for (auto _ : state) {
        if (state.range(0)) program.controls().clerk_edit.set_control_text(clerks[turn++ % 2]);
        program.counter().lists().remember_shop_values();
    }
    program.controls().clerk_edit.set_control_text(clerk);
    program.counter().lists().remember_shop_values();
}

// What a press asks of the spooler before painting: the queue looked up, its default paper and
// resolution read, and a fresh PDF device made (then released without a job).
void prepare_phase(benchmark::State& state)
{
    runtime::Printer printer;
    const runtime::Text queue = runtime::gbk_from_utf8(spooler->queue);
    for (auto _ : state) {
        if (!printer.prepare_printer(queue, receipt::receipt_page_request())) {
            state.SkipWithError("the queue cannot be prepared");
            break;
        }
        printer.close_printer();
    }
}

// The window's PDF handed to the spooler through libcups from this process.
void submit_phase(benchmark::State& state)
{
    const runtime::Bytes& pdf = spooler->window->printer().last_document();
    std::size_t submitted = spooler->receiver->count();
    for (auto _ : state) {
        const auto start = Clock::now();
        http_t* http =
            httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 3000, nullptr);
        const int job = http ? cupsCreateJob(http, spooler->queue.c_str(), "", 0, nullptr) : 0;
        bool held = false;
        if (job > 0 && cupsStartDocument(http, spooler->queue.c_str(), job, "", CUPS_FORMAT_PDF, 1) ==
                           HTTP_STATUS_CONTINUE) {
            const bool written = cupsWriteRequestData(http, reinterpret_cast<const char*>(pdf.data()),
                                                      pdf.size()) == HTTP_STATUS_CONTINUE;
            held = cupsFinishDocument(http, spooler->queue.c_str()) == IPP_STATUS_OK && written;
        }
        if (http) httpClose(http);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!held) {
            state.SkipWithError("the spooler did not take the document");
            break;
        }
        if (!printed(state, submitted)) break;
    }
}

// `lp -d <queue> <pdf>`; its exit status.
int run_lp()
{
    const std::string destination = "-d" + spooler->queue;
    const std::string file = spooler->pdf.string();
    char* const argv[] = {const_cast<char*>("lp"), const_cast<char*>(destination.c_str()),
                          const_cast<char*>(file.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // lp reports the request id on its output.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "lp", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void lp_command(benchmark::State& state)
{
    std::size_t submitted = spooler->receiver->count();
    for (auto _ : state) {
        const auto start = Clock::now();
        const int status = run_lp();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (status != 0) {
            state.SkipWithError("lp failed");
            break;
        }
        if (!printed(state, submitted)) break;
    }
}

BENCHMARK(print_button)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(lp_command)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(save_phase)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(prepare_phase)->Unit(benchmark::kMillisecond);
BENCHMARK(paint_phase)->Unit(benchmark::kMillisecond);
BENCHMARK(submit_phase)->UseManualTime()->Unit(benchmark::kMillisecond);

// Prints one receipt through the window and writes the PDF the printer received to `file`.
int print_sample(const fs::path& file)
{
    if (!spooler->window->press_print()) {
        std::fprintf(stderr, "print_bench: the press left no job at %s\n", spooler->queue.c_str());
        return 1;
    }
    const auto documents = spooler->receiver->wait_for(1, 60s);
    if (documents.empty()) {
        std::fprintf(stderr, "print_bench: the printer received nothing within 60 s\n");
        return 1;
    }
    test::write_file(file, documents.back());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    runtime::install_qt_platform();
    runtime::install_qt_interaction();

    std::string sample;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--sample=", 0) != 0) continue;
        sample = argument.substr(9);
        for (int j = i; j < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        break;
    }

    Spooler setup;
    setup.queue = environment("VORSA_TEST_PRINTER");
    const std::string port = environment("VORSA_TEST_PRINTER_PORT");
    if (setup.queue.empty() || port.empty()) {
        std::fprintf(stderr,
                     "print_bench: no test queue; run `source scripts/test-env.sh; start_test_services` "
                     "first\n");
        return 2;
    }
    setup.receiver = std::make_unique<test::DocumentReceiver>(std::stoi(port));
    if (!setup.receiver->listening()) {
        std::fprintf(stderr, "print_bench: cannot listen on 127.0.0.1:%s\n", port.c_str());
        return 2;
    }
    setup.window = std::make_unique<PrintingWindow>(setup.queue);
    spooler = &setup;
    if (!sample.empty()) return print_sample(sample);

    // One press first: the PDF that lp and the submit phase hand over is the one the window printed.
    if (!setup.window->press_print() || setup.receiver->wait_for(1, 60s).empty()) {
        std::fprintf(stderr, "print_bench: printing to %s does not work\n", setup.queue.c_str());
        return 1;
    }
    setup.pdf = setup.window->directory() / "receipt.pdf";
    const runtime::Bytes& pdf = setup.window->printer().last_document();
    test::write_file(setup.pdf, std::string(pdf.begin(), pdf.end()));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
