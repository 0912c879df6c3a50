// "开始打印" in the program's window, through Wine's spooler into the CUPS test queue of
// scripts/test-env.sh (VORSA_TEST_PRINTER, its device a socket on 127.0.0.1:VORSA_TEST_PRINTER_PORT,
// where the test receives the document): the receipt of the last preview arrives as one page of
// 120 x 140 mm that carries its number.

#include "app/control_ids.h"
#include "app/startup.h"
#include "app/win32/program.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/win32/printer.h"
#include "tests/app/win32/program_window.h"
#include "tests/runtime/win32/spooler_support.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

namespace vorsa::app::test {
namespace {

using namespace std::chrono_literals;

std::string environment(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length == 0 || length >= 1024 ? std::string() : utf8(std::wstring(value, length));
}

TEST(ProgramPrintTest, ReceiptOfThePreviewArrivesAsOnePageWithItsNumber)
{
    const std::string queue = environment(L"VORSA_TEST_PRINTER");
    const int port = std::atoi(environment(L"VORSA_TEST_PRINTER_PORT").c_str());
    if (queue.empty() || port <= 0)
        GTEST_SKIP() << "no CUPS test queue: scripts/test-env.sh sets VORSA_TEST_PRINTER and its port";
    vorsa::test::DocumentReceiver receiver(port);
    ASSERT_TRUE(receiver.listening()) << "port " << port << " is taken";

    install_win32_program_platform();
    const test_files::TempDirectory directory("vorsa-print");
    const std::string settings = settings_path_in(directory.path());
    runtime::write_setting(settings, section_print, key_ticked_brands, gbk("耐克|"));
    const std::wstring queue_name = wide(queue);
    runtime::write_setting(
        settings, section_dayinji, key_printer,
        runtime::printer_text_from_spooler_name(std::u16string(queue_name.begin(), queue_name.end())));

    runtime::Printer printer;
    StartOptions options = program_options(printer);
    options.server_address.clear();
    runtime::Text number;
    int job = 0;
    run_program_window(settings, options, [&](Win32CounterWindow& program) {
        WindowControls& c = program.controls();
        c.product_edit.set_control_text(gbk("跑鞋"));
        c.size_edit.set_control_text("42");
        c.price_edit.set_control_text("399");
        click(program.window(), control_id::add_preview_button);
        number = program.counter().receipt_data().receipt_number;
        click(program.window(), control_id::print_button);
        job = printer.last_job_id();
    });
    ASSERT_FALSE(number.empty());
    EXPECT_GT(job, 0);

    const auto documents = receiver.wait_for(1, 120s);
    ASSERT_EQ(documents.size(), 1u);
    const vorsa::test::PdfFacts pdf = vorsa::test::inspect_pdf(documents[0]);
    EXPECT_EQ(pdf.pages, 1);
    EXPECT_NEAR(pdf.width, 340.2, 1.0);  // 120 mm
    EXPECT_NEAR(pdf.height, 396.9, 1.0); // 140 mm
    EXPECT_NE(pdf.text.find(runtime::utf8_from_gbk(number)), std::string::npos) << pdf.text;
    EXPECT_NE(pdf.text.find("399.00"), std::string::npos) << pdf.text;
}

} // namespace
} // namespace vorsa::app::test
