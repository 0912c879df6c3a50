// Printing for real: receipts go through the CUPS spooler to a test queue whose device is a TCP socket
// on 127.0.0.1, where the tests receive each printed document as the spooler sends it (the PDF after
// the spooler's pdftopdf filter) and read it back with pdfinfo, pdftotext and pdftoppm.
// scripts/test-env.sh starts the spooler and sets up the queues; without them (a developer build
// without cupsd) the tests skip.
//
//   VORSA_TEST_PRINTER                 the queue: custom sizes, PDF passed through, 300 dpi
//   VORSA_TEST_PRINTER_PORT            the port of its device on 127.0.0.1
//   VORSA_TEST_PRINTER_NO_RESOLUTION   a queue whose driver reports no resolution
//   VORSA_TEST_PRINTER_NON_GBK         a queue like the first whose name GBK cannot hold

#include "app/lists.h"
#include "app/printing.h"
#include "app/qt/program_platform.h"
#include "app/qt/qt_counter_window.h"
#include "receipt/layout.h"
#include "receipt/model.h"
#include "receipt/print.h"
#include "runtime/controls/interaction.h"
#include "runtime/controls/memory_controls.h"
#include "runtime/print/printer.h"
#include "runtime/qt/page_surface.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/qt_interaction.h"
#include "tests/app/print_support.h"
#include "tests/runtime/qt/qt_test_app.h"

#include <QBuffer>
#include <QComboBox>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cups/cups.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorsa::app {
namespace {

using namespace runtime::literals;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// How long a wait for the spooler, the printer or the window may last before the test calls it lost, and
// what a call may take beyond the spooler's time limit: far beyond what a busy machine needs, far short
// of never. The waits end as soon as what they wait for has happened.
constexpr auto patience = 60s;
constexpr auto slack = 30s;
using test::PdfFacts;

// Text, pages and the window need an application (fonts, widgets); the offscreen platform does without a
// display.
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { runtime::testing::test_application(); }
};
const auto* const qt_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The resolution the test queue's driver reports.
constexpr int printer_dpi = 300;

// Text compared in compatibility form: the extracted text may name a glyph that two code points share
// by the other one (a Kangxi radical for the ideograph 日, say), and full-width signs by their ASCII forms.
std::string comparable(const std::string& utf8_text)
{
    return test::squeezed(
        QString::fromUtf8(utf8_text).normalized(QString::NormalizationForm_KC).toStdString());
}
std::string utf8(const runtime::Text& gbk)
{
    return comparable(runtime::utf8_from_gbk(gbk));
}

PdfFacts inspect(const fs::path& file)
{
    PdfFacts facts = test::inspect_pdf(file);
    facts.text = comparable(facts.text);
    return facts;
}

// A page that keeps every text drawn on it, in UTF-8 without blanks.
class TextRecorder : public runtime::DrawingSurface
{
public:
    std::vector<std::string> texts;

protected:
    bool has_target() const override { return true; }
    int device_resolution(runtime::Axis) const override { return 300; }
    runtime::Size drawing_area() const override { return {1200, 1400}; }
    void render_line(runtime::Point, runtime::Point) override {}
    void render_rectangle(int, int, int, int) override {}
    void render_text(runtime::Point, const runtime::Text& text) override
    {
        const std::string drawn = test::squeezed(runtime::utf8_from_gbk(text));
        if (!drawn.empty()) texts.push_back(drawn);
    }
    void render_picture(const runtime::Bitmap&, int, int, int, int) override {}
    void render_background(int, int, int, int) override {}
};

// Every text the layout draws for the receipt that is missing from the PDF's text layer as it stands
// (no compatibility mapping: a radical for an ideograph, or a number cut short, counts as missing).
std::vector<std::string> texts_missing_from(const fs::path& pdf, const receipt::ReceiptData& data,
                                            const receipt::ReceiptLines& lines)
{
    TextRecorder recorder;
    recorder.set_mapping_mode(runtime::mapping_tenth_mm);
    receipt::draw_receipt_print(recorder, data, lines);
    const std::string layer = test::inspect_pdf(pdf).text;
    std::vector<std::string> missing;
    for (const std::string& text : recorder.texts)
        if (layer.find(text) == std::string::npos) missing.push_back(text);
    EXPECT_GT(recorder.texts.size(), 20u);
    return missing;
}

// The receipt drawn straight onto a 120 x 140 mm PDF page, without printer or spooler: what the page
// should look like.
std::string reference_page(const receipt::ReceiptData& data, const receipt::ReceiptLines& lines, int dpi)
{
    QByteArray output;
    QBuffer buffer(&output);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(dpi);
        writer.setPageLayout(QPageLayout(QPageSize(QSizeF(120, 140), QPageSize::Millimeter),
                                         QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                         QPageLayout::Millimeter));
        QPainter painter(&writer);
        runtime::PageSurface surface;
        surface.attach(writer, painter, dpi);
        surface.set_mapping_mode(runtime::mapping_tenth_mm);
        receipt::draw_receipt_print(surface, data, lines);
        surface.detach();
    }
    return output.toStdString();
}

class PrintingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        queue = environment("VORSA_TEST_PRINTER");
        const std::string port = environment("VORSA_TEST_PRINTER_PORT");
        if (queue.empty() || port.empty())
            GTEST_SKIP() << "no CUPS test queue configured: scripts/test.sh starts cupsd and sets "
                            "VORSA_TEST_PRINTER and VORSA_TEST_PRINTER_PORT (see scripts/test-env.sh)";
        cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), nullptr);
        ASSERT_NE(dest, nullptr) << "VORSA_TEST_PRINTER names " << queue
                                 << ", which the spooler does not know";
        cupsFreeDests(1, dest);
        receiver = std::make_unique<test::DocumentReceiver>(std::stoi(port));
        ASSERT_TRUE(receiver->listening()) << "cannot listen on 127.0.0.1:" << port;

        m_directory =
            fs::temp_directory_path() / ("vorsa_print_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_directory);
        fs::create_directories(m_directory);
        settings = (m_directory / "dy.cfg").string();
        start_program(runtime::gbk_from_utf8(queue));
    }
    void TearDown() override
    {
        close_window();
        if (!m_directory.empty() && !std::getenv("VORSA_KEEP")) fs::remove_all(m_directory);
    }

    // The lists as a start finds them, with `remembered_printer` as the chosen printer, and the
    // window's shop, clerk and address filled in.
    void start_program(const runtime::Text& remembered_printer)
    {
        fs::remove(settings);
        runtime::write_setting(settings, section_dayinji, key_printer, remembered_printer);
        lists = std::make_unique<Lists>(ListControls{brand_box, shop_box, printer_box, product_edit,
                                                     size_edit, price_edit, clerk_edit, address_edit,
                                                     brand_menu, history_menu},
                                        settings);
        printer_box.clear_items();
        lists->load_remembered_values(runtime::list_printers);
        shop_box.set_control_text("新世界百货"_gbk);
        clerk_edit.set_control_text("店员甲"_gbk);
        address_edit.set_control_text("新世界百货购物广场店"_gbk);
    }

    // What a preview build after adding the lines leaves in the record.
    void preview(const std::vector<receipt::LineInput>& inputs)
    {
        for (const auto& input : inputs)
            ASSERT_EQ(receipt::add_line(lines, input).result, receipt::AddResult::added);
        receipt::ReceiptFields fields;
        fields.shop_name = shop_box.get_control_text();
        fields.clerk_name = clerk_edit.get_control_text();
        fields.shop_address = address_edit.get_control_text();
        fields.sale_date = "2014-10-06";
        runtime::Text code_text;
        data = receipt::collect_receipt_data(fields, lines, {}, code_text);
    }

    // Presses "开始打印"; the jobs the press added to the test queue.
    std::set<int> press_print()
    {
        const auto before = test::job_ids(queue);
        print_receipt(*lists, printer, data, lines);
        return test::jobs_added(queue, before);
    }

    // Waits for the job to finish; the documents the printer has received by then.
    std::vector<std::string> printed_after(int job_id, std::size_t expected_documents)
    {
        EXPECT_EQ(test::wait_for_job_end(queue, job_id, patience), IPP_JSTATE_COMPLETED) << "job " << job_id;
        return receiver->wait_for(expected_documents, patience);
    }

    // The program's window on the settings file, with the spooler's printers and this printer.
    void open_window()
    {
        runtime::install_qt_interaction();
        StartOptions options;
        options.today = [] { return LocalDate{2014, 10, 6}; };
        options.printers = runtime::list_printers;
        options.printer = &printer;
        window_program = std::make_unique<QtCounterWindow>(settings, std::move(options));
        window = runtime::create_main_dialog(
            main_window_form, [this](runtime::MainDialog& made) { window_program->on_window_created(made); });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), static_cast<int>(patience / 1ms)));
        QCoreApplication::processEvents();
    }
    void close_window()
    {
        window.reset();
        window_program.reset();
    }
    // Types a line and presses "添加预览".
    void add_line_in_window()
    {
        WindowControls& c = window_program->controls();
        c.product_edit.set_control_text("跑鞋"_gbk);
        c.size_edit.set_control_text("42");
        c.price_edit.set_control_text("199");
        QTest::mouseClick(c.add_preview_button.widget(), Qt::LeftButton);
    }
    std::unique_ptr<QtCounterWindow> window_program;
    std::unique_ptr<runtime::MainDialog> window;

    fs::path keep(const std::string& bytes, const std::string& name)
    {
        const fs::path file = m_directory / name;
        test::write_file(file, bytes);
        return file;
    }

    std::string queue;
    std::string settings;
    std::unique_ptr<test::DocumentReceiver> receiver;

    runtime::MemoryDropDownList brand_box;
    runtime::MemoryDropDownList shop_box{true};
    runtime::MemoryDropDownList printer_box;
    runtime::MemoryEditBox product_edit, size_edit, price_edit, clerk_edit, address_edit;
    runtime::MemoryPopupMenu brand_menu, history_menu;
    std::unique_ptr<Lists> lists;

    runtime::Printer printer;
    receipt::ReceiptLines lines;
    receipt::ReceiptData data;

private:
    ProgramPlatformGuard m_platform; // puts back the interaction and the spooler's time limit and library
    fs::path m_directory;
};

const std::vector<receipt::LineInput> two_lines = {
    {"跑鞋"_gbk, "42", "199.9", "2"},
    {"短袖"_gbk, "L", "59", "1"},
};

TEST_F(PrintingTest, ReceiptAfterPreviewIsOnePageWithNumberLinesAndTotal)
{
    preview(two_lines);
    const auto jobs = press_print();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(*jobs.begin(), printer.last_job_id());
    EXPECT_FALSE(printer.prepared()); // the job closed the printer

    const auto documents = printed_after(*jobs.begin(), 1);
    ASSERT_EQ(documents.size(), 1u);
    const fs::path printed = keep(documents.front(), "printed.pdf");
    const PdfFacts pdf = inspect(printed);
    EXPECT_EQ(pdf.pages, 1);
    // 120 x 140 mm is 340.2 x 396.9 points; the spooler rounds the custom size to whole points.
    EXPECT_NEAR(pdf.width, 340.2, 1.0);
    EXPECT_NEAR(pdf.height, 396.9, 1.0);
    // Every text as printed, in the page's text layer: as the printer received it, and as it was handed
    // to the spooler.
    const std::string handed(printer.last_document().begin(), printer.last_document().end());
    for (const fs::path& file : {printed, keep(handed, "handed.pdf")})
        EXPECT_EQ(texts_missing_from(file, data, lines), std::vector<std::string>{}) << file.filename();

    // The receipt number, read off the page: where the receipt with this number and the same receipt
    // with another number differ, the printed page looks like this one.
    // Every drawn digit of the other number differs from this one's (each moved on by five), so the two
    // pages differ in every digit whatever number was drawn.
    receipt::ReceiptData other = data;
    for (std::size_t i = 10; i < other.receipt_number.size(); ++i)
        other.receipt_number[i] = static_cast<char>('0' + (other.receipt_number[i] - '0' + 5) % 10);
    const auto page = test::render_page(printed, 300);
    const auto expected =
        test::render_page(keep(reference_page(data, lines, printer_dpi), "expected.pdf"), 300);
    const auto wrong = test::render_page(keep(reference_page(other, lines, printer_dpi), "other.pdf"), 300);
    const auto r = test::resemblance(page, expected, wrong);
    EXPECT_GT(r.differing, 100);
    EXPECT_LT(r.wrong_against_a, r.differing / 10);
    EXPECT_GT(r.wrong_against_b, r.differing * 3 / 4);
}

TEST_F(PrintingTest, TwoPressesGiveTwoJobsWithTheSameNumber)
{
    preview(two_lines);
    const auto first = press_print();
    const auto second = press_print();
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    ASSERT_LT(*first.begin(), *second.begin());

    printed_after(*first.begin(), 1);
    const auto documents = printed_after(*second.begin(), 2);
    ASSERT_EQ(documents.size(), 2u);
    std::vector<test::GreyPage> pages;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const fs::path file = keep(documents[i], "printed" + std::to_string(i) + ".pdf");
        EXPECT_EQ(inspect(file).pages, 1) << i;
        pages.push_back(test::render_page(file, 100));
    }
    // Both pages are the same receipt, number included: no pixel of one is far from the other's.
    ASSERT_EQ(pages[0].pixels.size(), pages[1].pixels.size());
    int far_apart = 0;
    for (std::size_t i = 0; i < pages[0].pixels.size(); ++i)
        far_apart += std::abs(pages[0].pixels[i] - pages[1].pixels[i]) > 85;
    EXPECT_EQ(far_apart, 0);
}

TEST_F(PrintingTest, PrintBeforeAnyPreviewHoldsOnlyTheLiteralTexts)
{
    const auto jobs = press_print();
    ASSERT_EQ(jobs.size(), 1u);
    const auto documents = printed_after(*jobs.begin(), 1);
    ASSERT_EQ(documents.size(), 1u);
    const PdfFacts pdf = inspect(keep(documents.front(), "printed.pdf"));
    EXPECT_EQ(pdf.pages, 1);
    for (const runtime::Text& literal : {"授权经销商"_gbk, "单据号"_gbk, "销售单日期"_gbk, "合计："_gbk,
                                         "找零："_gbk, "商品"_gbk, "金额"_gbk})
        EXPECT_NE(pdf.text.find(utf8(literal)), std::string::npos) << runtime::utf8_from_gbk(literal) << "\n"
                                                                   << pdf.text;
    // The record is still empty: no number, shop, clerk or lines. What the window holds is saved, not
    // printed.
    for (const runtime::Text& absent : {Text("XS"), "新世界百货"_gbk, "店员甲"_gbk, Text("2014")})
        EXPECT_EQ(pdf.text.find(utf8(absent)), std::string::npos) << runtime::utf8_from_gbk(absent);
    // The only amount is the literal change "0.00".
    EXPECT_NE(pdf.text.find("0.00"), std::string::npos);
    EXPECT_EQ(pdf.text.find(".00"), pdf.text.rfind(".00"));
    EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), "店员甲"_gbk);
}

TEST_F(PrintingTest, NoPrinterToPrepareGivesNoJobButSavesShopClerkAndAddress)
{
    struct Case
    {
        const char* what;
        runtime::Text remembered;
    };
    const std::vector<Case> cases = {
        {"nothing remembered", ""},
        {"a queue the spooler does not know", "vorsa-no-such-queue"},
        {"an instance of a queue the spooler does not know", "vorsa-no-such-queue/receipts"},
    };
    // The spooler refuses such a name at once: a press that waited for the spooler's time limit (a long
    // one here) would take longer than the slack.
    runtime::set_spooler_time_limit(2 * slack);
    preview(two_lines);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start_program(c.remembered);
        shop_box.set_control_text("东方商场"_gbk);
        clerk_edit.set_control_text("店员乙"_gbk);
        address_edit.set_control_text("东方商场一楼"_gbk);

        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(press_print().empty());
        EXPECT_LT(std::chrono::steady_clock::now() - started, slack);
        EXPECT_EQ(printer.last_job_id(), 0);
        EXPECT_FALSE(printer.prepared());
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_shops), "0,东方商场"_gbk);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), "店员乙"_gbk);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_address), "东方商场一楼"_gbk);
    }
    EXPECT_EQ(receiver->wait_for(1, 200ms).size(), 0u);
}

// The spooler as the program may find it when it cannot serve. A spooler that is down refuses
// connections: a socket where none listens and a TCP port nobody serves look the same to the program as
// a stopped cupsd. One that hangs accepts and never answers. Without the client library there is no
// spooler at all. Each ends with no printer and no job, within the time limit (set short here), and the
// press saves the shop values all the same.
TEST_F(PrintingTest, SpoolerThatCannotServeGivesNoJobWithinTheTimeLimit)
{
    struct Case
    {
        const char* what;
        std::string server;  // empty: the configured one
        std::string library; // empty: the real one
    };
    test::SilentSpooler hung;
    ASSERT_TRUE(hung.listening());
    const std::vector<Case> cases = {
        {"a local socket where none listens", "/tmp/vorsa-no-spooler.sock", ""},
        {"a port nobody serves", "127.0.0.1:9", ""},
        {"a spooler that accepts and never answers", hung.address(), ""},
        {"no client library installed", "", "libcups-not-installed.so.2"},
    };
    constexpr auto limit = 1s;
    runtime::set_spooler_time_limit(limit);
    preview(two_lines);
    const auto before = test::job_ids(queue);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.server.empty()) cupsSetServer(c.server.c_str());
        if (!c.library.empty()) runtime::set_spooler_library(c.library);
        const auto timed = [](auto&& work) {
            const auto started = std::chrono::steady_clock::now();
            work();
            return std::chrono::steady_clock::now() - started;
        };

        runtime::TextList names = {"kept"};
        EXPECT_LT(timed([&] { EXPECT_EQ(runtime::list_printers(names), 0); }), limit + slack);
        EXPECT_EQ(names, runtime::TextList{"kept"});
        EXPECT_LT(timed([&] { EXPECT_EQ(runtime::default_printer_name(), ""); }), limit + slack);
        clerk_edit.set_control_text(c.what);
        EXPECT_LT(timed([&] { print_receipt(*lists, printer, data, lines); }), limit + slack);
        EXPECT_FALSE(printer.prepared());
        EXPECT_EQ(printer.last_job_id(), 0);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), c.what);

        cupsSetServer(nullptr);
        runtime::set_spooler_library(runtime::SpoolerHooks{}.library);
    }
    EXPECT_GT(hung.connections(), 0);
    EXPECT_TRUE(test::jobs_added(queue, before).empty());
    EXPECT_EQ(receiver->wait_for(1, 200ms).size(), 0u);
}

// A spooler that stalls while the document is handed over and goes on after the window gave up: the
// press ends within the time limit, and the job it opened is withdrawn when the spooler goes on, never
// printed.
TEST_F(PrintingTest, JobGivenUpOnIsWithdrawnWhenTheSpoolerGoesOn)
{
    const std::string local = cupsServer();
    if (local.empty() || local.front() != '/') GTEST_SKIP() << "the spooler is not on a local socket";
    test::StallingSpooler stalling(local);
    ASSERT_TRUE(stalling.listening());
    preview(two_lines);
    const auto before = test::job_ids(queue);
    constexpr auto limit = 2s;
    runtime::set_spooler_time_limit(limit);
    cupsSetServer(stalling.address().c_str());

    ASSERT_TRUE(printer.prepare_printer(runtime::gbk_from_utf8(queue), receipt::receipt_page_request()));
    printer.surface().set_mapping_mode(runtime::mapping_tenth_mm);
    ASSERT_TRUE(printer.start_document(""));
    receipt::draw_receipt_print(printer.surface(), data, lines);
    // A window that waited on would see the spooler accept the document when it goes on: the refusal
    // says the press gave up first.
    stalling.stall(limit + 6s);
    EXPECT_FALSE(printer.end_document());
    printer.close_printer();
    cupsSetServer(nullptr);

    const auto added = test::jobs_added(queue, before);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(test::wait_for_job_end(queue, *added.begin(), patience), IPP_JSTATE_CANCELED);
    EXPECT_EQ(receiver->wait_for(1, 3s).size(), 0u);
    EXPECT_EQ(printer.last_job_id(), 0);
}

// The queue's policy decides what becomes of a receipt the spooler took whole, as it does for a job of
// `lp`: on a queue that holds every job the receipt waits until the administrator releases it, and on
// a queue where only operators may release jobs it prints for a user who is none. Both queues are on
// the tests' own spooler (scripts/test-env.sh), whose operators exclude the user running the tests.
TEST_F(PrintingTest, QueuesPolicyDecidesWhatBecomesOfAReceiptTakenWhole)
{
    const std::string server = environment("VORSA_TEST_POLICY_SERVER");
    const std::string hold_all = environment("VORSA_TEST_PRINTER_HOLD_ALL");
    const std::string operators = environment("VORSA_TEST_PRINTER_OPERATORS");
    if (server.empty() || hold_all.empty() || operators.empty())
        GTEST_SKIP() << "no spooler with policy queues: start_test_services in scripts/test-env.sh starts it";
    // This thread talks to that spooler, and a refused request is not retried with a password asked
    // for on the terminal; both until the test ends.
    struct OwnSpooler
    {
        explicit OwnSpooler(const std::string& server)
        {
            cupsSetServer(server.c_str());
            cupsSetPasswordCB2(
                [](const char*, http_t*, const char*, const char*, void*) -> const char* { return nullptr; },
                nullptr);
        }
        ~OwnSpooler()
        {
            cupsSetPasswordCB2(nullptr, nullptr);
            cupsSetServer(nullptr);
        }
    } own_spooler(server);
    preview(two_lines);

    // The user running the tests is no operator there: a held job of theirs cannot be released.
    {
        cups_option_t* options = nullptr;
        const int count = cupsAddOption("job-hold-until", "indefinite", 0, &options);
        const int probe = cupsCreateJob(CUPS_HTTP_DEFAULT, operators.c_str(), "probe", count, options);
        cupsFreeOptions(count, options);
        ASSERT_GT(probe, 0) << cupsLastErrorString();
        const ipp_status_t refused = test::release_job(probe);
        EXPECT_TRUE(refused == IPP_STATUS_ERROR_FORBIDDEN || refused == IPP_STATUS_ERROR_NOT_AUTHORIZED)
            << ippErrorString(refused);
        cupsCancelJob2(CUPS_HTTP_DEFAULT, operators.c_str(), probe, 0);
    }

    struct Case
    {
        const char* what;
        std::string queue;
        bool held; // the queue holds the receipt until the administrator releases it
    };
    const std::vector<Case> cases = {
        {"a queue that holds every job", hold_all, true},
        {"a queue whose jobs only operators may release", operators, false},
    };
    std::size_t printed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = test::job_ids(c.queue);
        receipt::run_print_job(printer, runtime::gbk_from_utf8(c.queue), data, lines);
        const auto added = test::jobs_added(c.queue, before);
        ASSERT_EQ(added.size(), 1u);
        const int job = *added.begin();
        EXPECT_EQ(printer.last_job_id(), job); // the spooler took the document whole
        if (c.held) {
            EXPECT_EQ(test::job_state(c.queue, job), IPP_JSTATE_HELD);
            EXPECT_EQ(test::JobAttributes(job).text("job-hold-until"), "indefinite");
            // Anyone may release jobs on this queue: the test stands in for the administrator.
            EXPECT_EQ(test::release_job(job), IPP_STATUS_OK) << cupsLastErrorString();
        }
        EXPECT_EQ(test::wait_for_job_end(c.queue, job, 30s), IPP_JSTATE_COMPLETED);
        const auto documents = receiver->wait_for(++printed, 5s);
        ASSERT_EQ(documents.size(), printed);
        const PdfFacts pdf = inspect(keep(documents.back(), "printed.pdf"));
        EXPECT_EQ(pdf.pages, 1);
        EXPECT_NE(pdf.text.find(utf8("跑鞋"_gbk)), std::string::npos);
    }
}

TEST_F(PrintingTest, JobCarriesOnlyTheOrientationAndTheCustomSize)
{
    preview(two_lines);
    const auto jobs = press_print();
    ASSERT_EQ(jobs.size(), 1u);
    printed_after(*jobs.begin(), 1);
    const test::JobAttributes attributes(*jobs.begin());
    ASSERT_TRUE(attributes.valid());
    EXPECT_EQ(attributes.text("media"), "Custom.120x140mm");
    EXPECT_EQ(attributes.text("orientation-requested"), "3");
    for (const char* absent :
         {"sides", "copies", "number-up", "print-quality", "printer-resolution", "Resolution"})
        EXPECT_FALSE(attributes.has(absent)) << absent;
    EXPECT_EQ(attributes.text("document-format"), "application/pdf");
}

TEST_F(PrintingTest, DocumentHandedToTheSpoolerIsOneCustomPageWithoutMargins)
{
    preview(two_lines);
    ASSERT_EQ(press_print().size(), 1u);
    const std::string handed(printer.last_document().begin(), printer.last_document().end());
    const PdfFacts pdf = inspect(keep(handed, "handed.pdf"));
    EXPECT_EQ(pdf.pages, 1);
    EXPECT_NEAR(pdf.width, 340.2, 0.5);
    EXPECT_NEAR(pdf.height, 396.9, 0.5);
    // Full page: the layout's origin is the paper's corner, so the page equals the layout drawn there.
    const auto page = test::render_page(keep(handed, "handed.pdf"), 100);
    const auto expected =
        test::render_page(keep(reference_page(data, lines, printer_dpi), "expected.pdf"), 100);
    const auto r = test::resemblance(page, expected,
                                     test::GreyPage{expected.width, expected.height,
                                                    std::vector<unsigned char>(expected.pixels.size(), 255)});
    EXPECT_GT(r.differing, 1000); // everything the receipt inks
    EXPECT_EQ(r.wrong_against_a, 0);
    printed_after(printer.last_job_id(), 1);
}

TEST_F(PrintingTest, FontsConvertWithTheResolutionTheDriverReports)
{
    struct Case
    {
        std::string queue;
        int dpi;
        int heading_height; // a 15-point heading: -20 screen pixels at 96 dpi, times 339 / dpi
    };
    std::vector<Case> cases = {{queue, printer_dpi, -23}};
    const std::string no_resolution = environment("VORSA_TEST_PRINTER_NO_RESOLUTION");
    if (!no_resolution.empty()) cases.push_back({no_resolution, runtime::fallback_printer_dpi, -33});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.queue);
        ASSERT_TRUE(
            printer.prepare_printer(runtime::gbk_from_utf8(c.queue), receipt::receipt_page_request()));
        EXPECT_EQ(printer.resolution(), c.dpi);
        printer.surface().set_mapping_mode(runtime::mapping_tenth_mm);
        printer.surface().set_font(runtime::make_font(receipt::receipt_face(), 15, true));
        EXPECT_EQ(printer.surface().current_font().height, c.heading_height);
        printer.close_printer();
        EXPECT_EQ(printer.resolution(), 0);
    }
}

TEST_F(PrintingTest, UnfinishedDocumentIsWithdrawn)
{
    const auto before = test::job_ids(queue);
    ASSERT_TRUE(printer.prepare_printer(runtime::gbk_from_utf8(queue), receipt::receipt_page_request()));
    ASSERT_TRUE(printer.start_document(""));
    printer.surface().set_mapping_mode(runtime::mapping_tenth_mm);
    printer.surface().draw_line(0, 0, 100, 100);
    // A new job on the same printer object discards the unfinished one first.
    ASSERT_TRUE(printer.prepare_printer(runtime::gbk_from_utf8(queue), receipt::receipt_page_request()));
    ASSERT_TRUE(printer.start_document(""));
    printer.close_printer();

    const auto added = test::jobs_added(queue, before);
    ASSERT_EQ(added.size(), 2u);
    for (int id : added)
        EXPECT_EQ(test::job_state(queue, id), IPP_JSTATE_CANCELED) << id;
    EXPECT_EQ(printer.last_job_id(), 0);
    EXPECT_FALSE(printer.end_document());
    EXPECT_EQ(receiver->wait_for(1, 200ms).size(), 0u);
}

TEST_F(PrintingTest, SecondDocumentOnOnePreparedPrinterIsAJobOfItsOwn)
{
    ASSERT_TRUE(printer.prepare_printer(runtime::gbk_from_utf8(queue), receipt::receipt_page_request()));
    printer.surface().set_mapping_mode(runtime::mapping_tenth_mm);
    std::vector<int> jobs;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(printer.start_document(""));
        receipt::draw_receipt_print(printer.surface(), data, lines);
        ASSERT_TRUE(printer.end_document());
        jobs.push_back(printer.last_job_id());
    }
    printer.close_printer();
    ASSERT_NE(jobs[0], jobs[1]);
    printed_after(jobs[0], 1);
    const auto documents = printed_after(jobs[1], 2);
    ASSERT_EQ(documents.size(), 2u);
    for (const auto& document : documents)
        EXPECT_EQ(inspect(keep(document, "page.pdf")).pages, 1);
}

TEST_F(PrintingTest, PrinterListHoldsQueueNamesInTheSpoolersOrder)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    runtime::TextList expected;
    for (int i = 0; i < count; ++i)
        if (!dests[i].instance) expected.push_back(runtime::printer_text_from_spooler_name(dests[i].name));
    cupsFreeDests(count, dests);

    runtime::TextList names = {"replaced"};
    EXPECT_EQ(runtime::list_printers(names), static_cast<int>(expected.size()));
    EXPECT_EQ(names, expected);
    EXPECT_NE(std::find(names.begin(), names.end(), runtime::gbk_from_utf8(queue)), names.end());
    // The window's list shows them and selects the remembered one.
    EXPECT_EQ(printer_box.items(), expected);
    EXPECT_EQ(printer_box.get_control_text(), runtime::gbk_from_utf8(queue));
}

TEST_F(PrintingTest, DefaultPrinterServesAJobWithoutAName)
{
    const std::string saved = environment("LPDEST");
    ::setenv("LPDEST", queue.c_str(), 1);
    EXPECT_EQ(runtime::default_printer_name(), runtime::gbk_from_utf8(queue));
    EXPECT_TRUE(printer.prepare_printer(std::nullopt, receipt::receipt_page_request()));
    printer.close_printer();
    if (saved.empty())
        ::unsetenv("LPDEST");
    else
        ::setenv("LPDEST", saved.c_str(), 1);
}

TEST_F(PrintingTest, RequestsNoPageCanBeMadeOfAreRefused)
{
    struct Case
    {
        const char* what;
        runtime::PageRequest request;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"the receipt's page", receipt::receipt_page_request(), true},
        {"landscape", {std::nullopt, runtime::orientation_landscape, 1200, 1400}, true},
        {"a paper code alone", {9, std::nullopt, std::nullopt, std::nullopt}, true},
        {"nothing at all: the queue's own paper", {}, true},
        {"orientation 3", {std::nullopt, 3, 1200, 1400}, false},
        {"zero width", {std::nullopt, 1, 0, 1400}, false},
        {"negative length", {std::nullopt, 1, 1200, -5}, false},
        {"beyond 16 bits", {std::nullopt, 1, 40000, 1400}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(printer.prepare_printer(runtime::gbk_from_utf8(queue), c.request), c.accepted);
        EXPECT_EQ(printer.prepared(), c.accepted);
        printer.close_printer();
    }
}

// A spooler that hangs holds neither the start nor a press for longer than the time limit: the window
// is up with an empty printer list, and "开始打印" saves the shop values and prints nothing.
TEST_F(PrintingTest, WindowStartsAndPrintsWithinTheTimeLimitOnAHungSpooler)
{
    test::SilentSpooler hung;
    ASSERT_TRUE(hung.listening());
    constexpr auto limit = 1s;
    const auto before = test::job_ids(queue);
    runtime::set_spooler_time_limit(limit);
    cupsSetServer(hung.address().c_str());

    auto started = std::chrono::steady_clock::now();
    open_window();
    EXPECT_LT(std::chrono::steady_clock::now() - started, limit + slack);
    WindowControls& c = window_program->controls();
    EXPECT_EQ(c.printer_box.item_count(), 0);
    EXPECT_TRUE(window->isEnabled());

    add_line_in_window();
    c.clerk_edit.set_control_text("店员丙"_gbk);
    started = std::chrono::steady_clock::now();
    QTest::mouseClick(c.print_button.widget(), Qt::LeftButton);
    EXPECT_LT(std::chrono::steady_clock::now() - started, limit + slack);
    EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), "店员丙"_gbk);
    EXPECT_EQ(printer.last_job_id(), 0);

    cupsSetServer(nullptr);
    EXPECT_GT(hung.connections(), 0);
    EXPECT_TRUE(test::jobs_added(queue, before).empty());
    EXPECT_EQ(receiver->wait_for(1, 200ms).size(), 0u);
}

// A queue whose name GBK cannot hold is listed under a text that maps back to its real name; picked in
// the window, that text is what the settings file keeps, the queue is selected again at the next start,
// and the receipt is printed on it.
TEST_F(PrintingTest, QueueNameGbkCannotHoldIsPickedRememberedAndPrintedOn)
{
    const std::string foreign = environment("VORSA_TEST_PRINTER_NON_GBK");
    if (foreign.empty()) GTEST_SKIP() << "no queue whose name GBK cannot hold (VORSA_TEST_PRINTER_NON_GBK)";
    runtime::write_setting(settings, section_dayinji, key_printer, "");
    open_window();
    {
        WindowControls& c = window_program->controls();
        int index = -1;
        for (int i = 0; i < c.printer_box.item_count(); ++i)
            if (runtime::spooler_name_from_printer_text(c.printer_box.get_item_text(i)) == foreign) index = i;
        ASSERT_GE(index, 0) << foreign << " is not in the window's printer list";
        auto* box = qobject_cast<QComboBox*>(c.printer_box.widget());
        ASSERT_NE(box, nullptr);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    const runtime::Text stored = runtime::read_setting(settings, section_dayinji, key_printer);
    EXPECT_EQ(runtime::spooler_name_from_printer_text(stored), foreign);
    EXPECT_EQ(stored.find('?'), runtime::Text::npos);

    close_window();
    open_window();
    WindowControls& c = window_program->controls();
    ASSERT_GE(c.printer_box.get_selection(), 0);
    EXPECT_EQ(c.printer_box.get_item_text(c.printer_box.get_selection()), stored);

    const auto before = test::job_ids(foreign);
    add_line_in_window();
    QTest::mouseClick(c.print_button.widget(), Qt::LeftButton);
    const auto jobs = test::jobs_added(foreign, before);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(test::wait_for_job_end(foreign, *jobs.begin(), patience), IPP_JSTATE_COMPLETED);
    const auto documents = receiver->wait_for(1, patience);
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_NE(inspect(keep(documents.front(), "printed.pdf")).text.find(utf8("跑鞋"_gbk)), std::string::npos);
}

// Spooler names and the program's texts for them: plain GBK where GBK holds the name, escapes for what
// it cannot, and back to the same name.
TEST(PrinterNameTest, SpoolerNamesRoundTripThroughTheProgramsText)
{
    struct Case
    {
        const char* what;
        std::string spooler; // UTF-8
        runtime::Text text;  // GBK
    };
    const std::vector<Case> cases = {
        {"ASCII", "Receipt", "Receipt"},
        {"Chinese: plain GBK", "收银台打印机", "收银台打印机"_gbk},
        {"instance", "Receipt/copies", "Receipt/copies"},
        {"a Latin letter GBK lacks", "Drucker-Köln", "Drucker-K\\u00F6ln"},
        {"pinyin letters GBK has", "Lǚ-ü", "Lǚ-ü"_gbk},
        {"beyond 16 bits", "Printer-\xF0\x9F\x96\xA8", "Printer-\\U0001F5A8"},
        {"mixed, with an instance", "东京-Öl/Å", "东京-"_gbk + "\\u00D6l/\\u00C5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(runtime::printer_text_from_spooler_name(c.spooler), c.text);
        EXPECT_EQ(runtime::spooler_name_from_printer_text(c.text), c.spooler);
        // What the window's list makes of the text comes back unchanged.
        EXPECT_EQ(runtime::gbk_from_utf16(runtime::utf16_from_gbk(c.text)), c.text);
    }
    // A double-byte character whose second byte is "\" (0x5C) starts no escape.
    const runtime::Text pair_then_letters = std::string("\x81\x5C") + "u00F6";
    EXPECT_EQ(runtime::spooler_name_from_printer_text(pair_then_letters), "乗u00F6");
}

} // namespace
} // namespace vorsa::app
