#include "receipt/layout.h"
#include "receipt/print.h"
#include "recording_surface.h"
#include "runtime/text/gbk.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorsa::receipt {
namespace {

using namespace runtime::literals;

std::string describe(const runtime::PageRequest& request)
{
    const auto field = [](const std::optional<int>& value) { return value ? std::to_string(*value) : "-"; };
    return "size " + field(request.paper_size) + " orientation " + field(request.orientation) + " width " +
           field(request.paper_width) + " length " + field(request.paper_length);
}

// A printer that writes down what the job asks of it; each step can be made to fail.
class FakePrinter : public runtime::PrintDevice
{
public:
    bool prepare_result = true;
    bool start_result = true;
    bool end_result = true;
    std::vector<std::string> log;
    // Starts in the pixel mode, so the job has to switch it to 0.1 mm itself.
    testing::RecordingSurface page{runtime::mapping_pixels, 203};

    bool prepare_printer(const std::optional<Text>& name, const runtime::PageRequest& request) override
    {
        log.push_back("prepare " + (name ? runtime::utf8_from_gbk(*name) : "<default>") + ", " +
                      describe(request));
        return prepare_result;
    }
    bool start_document(const Text& name) override
    {
        log.push_back("start '" + name + "' in mode " + std::to_string(page.mapping_mode()));
        return start_result;
    }
    bool end_document() override
    {
        log.push_back("end after " + std::to_string(page.calls.size()) + " primitives");
        return end_result;
    }
    void close_printer() override { log.push_back("close"); }
    runtime::DrawingSurface& surface() override { return page; }
};

ReceiptData sample_record()
{
    ReceiptData data;
    data.shop_name = "新世界百货"_gbk;
    data.receipt_number = "XS800000350123456789";
    data.sale_date = "2014-10-06";
    data.clerk_name = "店员甲"_gbk;
    data.total_text = "398.00";
    return data;
}

ReceiptLines sample_lines()
{
    ReceiptLines lines;
    add_line(lines, {"跑鞋"_gbk, "42", "199.9", "2"});
    return lines;
}

// What the print layout draws for the record on a fresh 203-dpi page in 0.1 mm units.
std::vector<std::string> print_layout_of(const ReceiptData& data, const ReceiptLines& lines)
{
    testing::RecordingSurface page(runtime::mapping_tenth_mm, 203);
    draw_receipt_print(page, data, lines);
    return page.calls;
}

TEST(ReceiptPageRequest, IsPortraitCustom120By140MillimetresWithoutPaperCode)
{
    EXPECT_EQ(describe(receipt_page_request()), "size - orientation 1 width 1200 length 1400");
}

TEST(RunPrintJob, StepsFollowWhatThePrinterGrants)
{
    const ReceiptData data = sample_record();
    const ReceiptLines lines = sample_lines();
    const std::string drawn = std::to_string(print_layout_of(data, lines).size());
    const std::string prepare = "prepare counter, size - orientation 1 width 1200 length 1400";
    struct Case
    {
        const char* what;
        bool prepare, start, end;
        std::vector<std::string> log;
        bool draws;
    };
    const std::vector<Case> cases = {
        {"everything granted",
         true,
         true,
         true,
         {prepare, "start '' in mode 2", "end after " + drawn + " primitives", "close"},
         true},
        {"no printer: nothing else is called", false, true, true, {prepare}, false},
        {"document refused: closed all the same",
         true,
         false,
         true,
         {prepare, "start '' in mode 2", "close"},
         false},
        {"end refused: closed all the same",
         true,
         true,
         false,
         {prepare, "start '' in mode 2", "end after " + drawn + " primitives", "close"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrinter printer;
        printer.prepare_result = c.prepare;
        printer.start_result = c.start;
        printer.end_result = c.end;
        run_print_job(printer, "counter", data, lines);
        EXPECT_EQ(printer.log, c.log);
        if (c.draws)
            EXPECT_EQ(printer.page.calls, print_layout_of(data, lines));
        else
            EXPECT_TRUE(printer.page.calls.empty());
        // A failed prepare leaves the surface's state alone.
        EXPECT_EQ(printer.page.mapping_mode(),
                  c.prepare ? runtime::mapping_tenth_mm : runtime::mapping_pixels);
    }
}

TEST(RunPrintJob, PrintsTheRecordAsItIs)
{
    // The record of a preview build is printed unchanged, number included; an empty record prints the
    // literal texts only.
    for (const ReceiptData& data : {sample_record(), ReceiptData{}}) {
        FakePrinter printer;
        run_print_job(printer, "", data, sample_lines());
        EXPECT_EQ(printer.page.calls, print_layout_of(data, sample_lines()));
        bool number_drawn = false;
        for (const auto& call : printer.page.calls)
            number_drawn |= call.find("XS80000035") != std::string::npos;
        EXPECT_EQ(number_drawn, !data.receipt_number.empty());
    }
}

} // namespace
} // namespace vorsa::receipt
