// The printer over Wine's spooler, which prints through the host's CUPS: the printer list against
// lpstat, the settings a receipt's page request makes, and a receipt printed on the test queue as it
// arrives at the queue's device. The queues come from scripts/test-env.sh:
//   VORSA_TEST_PRINTER                 the queue: PDF passed through, 300 dpi, the 120 x 140 mm paper named
//   VORSA_TEST_PRINTER_PORT            the port of its device on 127.0.0.1
//   VORSA_TEST_PRINTER_NON_GBK         a queue like the first whose name GBK cannot hold

#include "receipt/layout.h"
#include "receipt/print.h"
#include "runtime/platform/platform.h"
#include "runtime/text/gbk.h"
#include "runtime/win32/printer.h"
#include "spooler_support.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <windows.h>

namespace vorsa::runtime {
namespace {

using namespace literals;
using namespace std::chrono_literals;

// The variable's value in UTF-8, as the host wrote it.
std::string environment(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    if (length == 0 || length >= 1024) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, value, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value, static_cast<int>(length), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::u16string utf16_of(const std::string& utf8)
{
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
}

// The code of the driver's paper named `paper` (DC_PAPERNAMES); none when it lists no such paper.
std::optional<int> paper_code(const std::u16string& printer, const std::wstring& paper)
{
    const std::wstring device(printer.begin(), printer.end());
    const int count = DeviceCapabilitiesW(device.c_str(), nullptr, DC_PAPERS, nullptr, nullptr);
    if (count <= 0) return std::nullopt;
    std::vector<WORD> codes(static_cast<std::size_t>(count));
    std::vector<wchar_t> names(static_cast<std::size_t>(count) * 64);
    DeviceCapabilitiesW(device.c_str(), nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(codes.data()), nullptr);
    DeviceCapabilitiesW(device.c_str(), nullptr, DC_PAPERNAMES, names.data(), nullptr);
    for (int i = 0; i < count; ++i)
        if (std::wstring(names.data() + 64 * i, wcsnlen(names.data() + 64 * i, 64)) == paper)
            return codes[static_cast<std::size_t>(i)];
    return std::nullopt;
}

class SpoolerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        queue = environment(L"VORSA_TEST_PRINTER");
        port = std::atoi(environment(L"VORSA_TEST_PRINTER_PORT").c_str());
        if (queue.empty() || port <= 0)
            GTEST_SKIP() << "no CUPS test queue configured: scripts/test-env.sh starts cupsd and sets "
                            "VORSA_TEST_PRINTER and VORSA_TEST_PRINTER_PORT";
        set_screen_dpi_source([] { return 96; });
    }
    PlatformGuard m_platform;
    std::string queue;
    int port = 0;
};

TEST_F(SpoolerTest, PrinterListHoldsQueueNamesInTheSpoolersOrder)
{
    TextList expected;
    std::istringstream lines(test::host_output("lpstat -e"));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) expected.push_back(printer_text_from_spooler_name(utf16_of(line)));
    ASSERT_FALSE(expected.empty()) << "lpstat lists no queue";

    TextList names{"left over"};
    EXPECT_EQ(list_printers(names), static_cast<int>(expected.size()));
    EXPECT_EQ(names, expected);
    const std::string foreign = environment(L"VORSA_TEST_PRINTER_NON_GBK");
    if (!foreign.empty()) {
        EXPECT_NE(std::find(names.begin(), names.end(), printer_text_from_spooler_name(utf16_of(foreign))),
                  names.end());
    }
}

// The request's mask is exactly orientation, width and length; where the driver names a 120 x 140 mm
// paper it is asked for by that name. A printer the spooler does not know gives no device.
TEST_F(SpoolerTest, ReceiptPageRequestMakesTheDevice)
{
    const std::u16string name = utf16_of(queue);
    const std::optional<int> named = paper_code(name, L"120 x 140 mm");
    ASSERT_TRUE(named) << "the test queue's driver names no 120 x 140 mm paper (scripts/test-printer.ppd)";

    Printer printer;
    ASSERT_TRUE(
        printer.prepare_printer(printer_text_from_spooler_name(name), receipt::receipt_page_request()));
    const PrinterSettings settings = printer.settings();
    EXPECT_EQ(settings.requested_fields, 0xDu);
    EXPECT_EQ(settings.orientation, DMORIENT_PORTRAIT);
    EXPECT_EQ(settings.paper_size, *named);
    // The page is the paper's, the fonts convert with the printer's resolution.
    HDC dc = printer.page_surface().device();
    ASSERT_NE(dc, nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    EXPECT_NEAR(GetDeviceCaps(dc, PHYSICALWIDTH) * 254.0 / dpi, 1200, 10);
    EXPECT_NEAR(GetDeviceCaps(dc, PHYSICALHEIGHT) * 254.0 / dpi, 1400, 10);
    printer.close_printer();
    EXPECT_FALSE(printer.prepared());

    const std::string foreign = environment(L"VORSA_TEST_PRINTER_NON_GBK");
    for (const std::string& other : {std::string("vorsa-no-such-queue"), foreign}) {
        if (other.empty()) continue;
        SCOPED_TRACE(other);
        const bool known = other == foreign;
        EXPECT_EQ(printer.prepare_printer(printer_text_from_spooler_name(utf16_of(other)),
                                          receipt::receipt_page_request()),
                  known);
        EXPECT_EQ(printer.prepared(), known);
        printer.close_printer();
    }
}

TEST_F(SpoolerTest, ReceiptArrivesAsOnePageOfItsPaperWithItsNumber)
{
    test::DocumentReceiver receiver(port);
    ASSERT_TRUE(receiver.listening()) << "port " << port << " is taken";
    receipt::ReceiptData data;
    data.shop_name = "Vorsa"_gbk;
    data.receipt_number = "XS800000354711470815"_gbk;
    data.sale_date = "2024-05-17"_gbk;
    data.total_text = "457.00"_gbk;
    receipt::ReceiptLines lines;
    lines.append({"Shoes"_gbk, "42"_gbk, "199.00"_gbk, "2"_gbk, "398.00"_gbk});

    Printer printer;
    receipt::run_print_job(printer, printer_text_from_spooler_name(utf16_of(queue)), data, lines);
    EXPECT_GT(printer.last_job_id(), 0);
    EXPECT_FALSE(printer.prepared());

    const auto documents = receiver.wait_for(1, 60s);
    ASSERT_EQ(documents.size(), 1u);
    const test::PdfFacts pdf = test::inspect_pdf(documents[0]);
    EXPECT_EQ(pdf.pages, 1);
    EXPECT_NEAR(pdf.width, 340.2, 1.0);  // 120 mm
    EXPECT_NEAR(pdf.height, 396.9, 1.0); // 140 mm
    EXPECT_NE(pdf.text.find("XS800000354711470815"), std::string::npos) << pdf.text;
    EXPECT_NE(pdf.text.find("398.00"), std::string::npos) << pdf.text;
}

} // namespace
} // namespace vorsa::runtime
