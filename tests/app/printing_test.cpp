#include "app/printing.h"
#include "runtime/controls/memory_controls.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorsa::app {
namespace {

using namespace runtime::literals;

// A page that keeps the texts drawn on it.
class TextPage : public runtime::DrawingSurface
{
public:
    std::vector<Text> texts;

protected:
    bool has_target() const override { return true; }
    int device_resolution(runtime::Axis) const override { return 203; }
    runtime::Size drawing_area() const override { return {1200, 1400}; }
    void render_line(runtime::Point, runtime::Point) override {}
    void render_rectangle(int, int, int, int) override {}
    void render_text(runtime::Point, const Text& text) override { texts.push_back(text); }
    void render_picture(const runtime::Bitmap&, int, int, int, int) override {}
    void render_background(int, int, int, int) override {}
};

// A printer that notes, when it is opened, the name it was given and what the settings file held.
class NotingPrinter : public runtime::PrintDevice
{
public:
    NotingPrinter(std::string settings, bool available)
        : m_settings(std::move(settings)), m_available(available)
    {
    }

    std::vector<Text> opened;
    std::vector<Text> shops_when_opened;
    int documents = 0;
    TextPage page;

    bool prepare_printer(const std::optional<Text>& name, const runtime::PageRequest&) override
    {
        opened.push_back(name.value_or("<default>"));
        shops_when_opened.push_back(runtime::read_setting(m_settings, section_print, key_shops));
        return m_available;
    }
    bool start_document(const Text&) override { return true; }
    bool end_document() override { return ++documents, true; }
    void close_printer() override {}
    runtime::DrawingSurface& surface() override { return page; }

private:
    std::string m_settings;
    bool m_available;
};

class PrintReceiptTest : public ::testing::Test
{
protected:
    PrintReceiptTest()
    {
        m_directory = std::filesystem::temp_directory_path() /
                      ("vorsa_printing_" + std::to_string(::getpid()) + "_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_directory);
        settings = (m_directory / "dy.cfg").string();
    }
    ~PrintReceiptTest() override { std::filesystem::remove_all(m_directory); }

    Lists& start(const Text& remembered_printer)
    {
        runtime::write_setting(settings, section_dayinji, key_printer, remembered_printer);
        lists = std::make_unique<Lists>(ListControls{brand_box, shop_box, printer_box, product_edit,
                                                     size_edit, price_edit, clerk_edit, address_edit,
                                                     brand_menu, history_menu},
                                        settings);
        lists->load_remembered_values([](TextList& names) {
            names = {"lobby", "counter"};
            return 2;
        });
        return *lists;
    }

    std::string settings;
    runtime::MemoryDropDownList brand_box, shop_box{true}, printer_box;
    runtime::MemoryEditBox product_edit, size_edit, price_edit, clerk_edit, address_edit;
    runtime::MemoryPopupMenu brand_menu, history_menu;
    std::unique_ptr<Lists> lists;

private:
    std::filesystem::path m_directory;
};

TEST_F(PrintReceiptTest, SavesShopValuesBeforeOpeningTheRememberedPrinter)
{
    struct Case
    {
        const char* what;
        Text remembered;
        bool available;
        int documents;
    };
    const std::vector<Case> cases = {
        {"printer there", "counter", true, 1},
        {"printer gone", "old-one", false, 0},
        {"nothing remembered", "", false, 0},
    };
    receipt::ReceiptData data;
    data.receipt_number = "XS800000350123456789";
    receipt::ReceiptLines lines;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(settings);
        start(c.remembered);
        shop_box.set_control_text("东方商场"_gbk);
        clerk_edit.set_control_text("店员乙"_gbk);
        address_edit.set_control_text("东方商场一楼"_gbk);
        NotingPrinter printer(settings, c.available);
        print_receipt(*lists, printer, data, lines);

        EXPECT_EQ(printer.opened, std::vector<Text>{c.remembered});
        EXPECT_EQ(printer.shops_when_opened, std::vector<Text>{"0,东方商场"_gbk});
        EXPECT_EQ(printer.documents, c.documents);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), "店员乙"_gbk);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_address), "东方商场一楼"_gbk);
    }
}

TEST_F(PrintReceiptTest, PrintsTheRecordNotTheWindow)
{
    start("counter");
    receipt::ReceiptData data;
    data.clerk_name = "店员甲"_gbk;
    data.receipt_number = "XS800000350123456789";
    receipt::ReceiptLines lines;
    // The clerk changed after the preview: saved, but the paper shows the record's.
    clerk_edit.set_control_text("店员乙"_gbk);
    NotingPrinter printer(settings, true);
    print_receipt(*lists, printer, data, lines);

    const auto& texts = printer.page.texts;
    const auto holds = [&](const Text& part) {
        for (const auto& text : texts)
            if (text.find(part) != Text::npos) return true;
        return false;
    };
    EXPECT_TRUE(holds("XS800000350123456789"));
    EXPECT_TRUE(holds("店员甲"_gbk));
    EXPECT_FALSE(holds("店员乙"_gbk));
    EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), "店员乙"_gbk);
}

TEST_F(PrintReceiptTest, ChoosingAnotherPrinterRedirectsTheNextPrint)
{
    start("counter");
    printer_box.on_selection_changed([this] { lists->remember_printer(); });
    printer_box.choose(0);
    NotingPrinter printer(settings, true);
    print_receipt(*lists, printer, {}, {});
    EXPECT_EQ(printer.opened, std::vector<Text>{"lobby"});
}

} // namespace
} // namespace vorsa::app
