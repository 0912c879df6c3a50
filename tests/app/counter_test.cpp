// The counter over in-memory controls and window: the start-up, "添加预览", "清除" and every other
// event, the online start's waiting and close box, the notice page and the printer list asked for
// after the first paint. The window is played by the test (tests/app/memory_counter_window.h).

#include "app/counter.h"
#include "online/refresh.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "tests/app/counter_fixture.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/runtime/settings/file_writes.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace vorsa::app {
namespace {

using namespace runtime::literals;
using namespace std::chrono_literals;
using runtime::Text;

struct Line
{
    const char* product;
    const char* size;
    const char* price;
    const char* quantity;
};

class CounterTest : public testing::CounterFixture
{
protected:
    int used_rows() { return counter().receipt_lines().used_rows(); }
    const std::vector<std::string>& board_calls() { return window().board.calls; }

    void add(const Line& line)
    {
        auto& c = controls();
        c.product_edit.set_control_text(runtime::gbk_from_utf8(line.product));
        c.size_edit.set_control_text(runtime::gbk_from_utf8(line.size));
        c.price_edit.set_control_text(runtime::gbk_from_utf8(line.price));
        c.quantity_edit.set_control_text(runtime::gbk_from_utf8(line.quantity));
        c.add_preview_button.click();
    }
};

TEST_F(CounterTest, FirstStartInAnEmptyDirectory)
{
    start();
    auto& c = controls();
    EXPECT_EQ(c.date_edit.get_control_text(), "2015-03-05");
    EXPECT_EQ(c.clerk_edit.get_control_text(), "");
    EXPECT_EQ(c.address_edit.get_control_text(), "");
    EXPECT_EQ(c.product_edit.get_control_text(), "");
    EXPECT_EQ(c.shop_box.item_count(), 0);
    EXPECT_EQ(c.brand_box.item_count(), 0);
    EXPECT_EQ(c.brand_menu.menu_item_count(), 5);
    EXPECT_TRUE(c.history_menu.exists());
    EXPECT_EQ(c.history_menu.menu_item_count(), 0);
    ASSERT_EQ(c.printer_box.item_count(), 2);
    EXPECT_EQ(c.printer_box.get_item_text(1), "PDF");
    EXPECT_EQ(c.printer_box.get_selection(), -1);
    // The title picture fills the preview picture box, which is shown.
    EXPECT_EQ(window().boards_made, 1);
    EXPECT_TRUE(window().board_visible);
    EXPECT_EQ(board_calls(), std::vector<std::string>{"picture 340x400 at 0,0 340x400"});
    // An offline start keeps the window as the toolkit shows it: never disabled, no busy cursor.
    EXPECT_TRUE(window().waiting_log.empty());
    // Nothing was remembered, so nothing was written.
    EXPECT_FALSE(std::filesystem::exists(settings));
}

TEST_F(CounterTest, StartShowsWhatTheSettingsFileRemembers)
{
    put(section_print, key_clerk, "张三"_gbk);
    put(section_print, key_address, "东方路1号"_gbk);
    put(section_print, key_shops, "1,新世界百货,东方商场"_gbk);
    put(section_print, key_ticked_brands, "耐克|"_gbk);
    put(section_dayinji, key_printer, "PDF");
    start();

    auto& c = controls();
    EXPECT_EQ(c.clerk_edit.get_control_text(), "张三"_gbk);
    EXPECT_EQ(c.address_edit.get_control_text(), "东方路1号"_gbk);
    EXPECT_EQ(c.shop_box.item_count(), 2);
    EXPECT_EQ(c.shop_box.get_control_text(), "东方商场"_gbk);
    EXPECT_EQ(c.printer_box.get_selection(), 1);
    EXPECT_EQ(c.brand_box.get_control_text(), "耐克"_gbk);

    add({"跑鞋", "42", "199", "1"});
    EXPECT_EQ(setting(section_ls, key_history), "|*|跑鞋|42|199.00"_gbk);
}

TEST_F(CounterTest, AddPreviewAddsLinesAndRedrawsThePreview)
{
    start();
    const std::vector<std::string> title = board_calls();
    add({"跑鞋", "42", "199.9", "2"});
    ASSERT_EQ(used_rows(), 1);
    const receipt::ReceiptLines& lines = counter().receipt_lines();
    EXPECT_EQ(lines.cell(1, receipt::Column::product), "跑鞋"_gbk);
    EXPECT_EQ(lines.cell(1, receipt::Column::size), "42");
    EXPECT_EQ(lines.cell(1, receipt::Column::unit_price), "199.00");
    EXPECT_EQ(lines.cell(1, receipt::Column::quantity), "2");
    EXPECT_EQ(lines.cell(1, receipt::Column::amount), "398.00");
    const receipt::ReceiptData first = counter().receipt_data();
    EXPECT_EQ(first.receipt_number.rfind("XS80000035", 0), 0u);
    EXPECT_EQ(first.receipt_number.size(), 20u);
    EXPECT_EQ(first.total_text, "398.00");
    EXPECT_EQ(first.sale_date, "2015-03-05");
    const std::vector<std::string> one_line = board_calls();
    EXPECT_GT(one_line.size(), title.size());

    add({"T恤", "L", "59", "1"});
    ASSERT_EQ(used_rows(), 2);
    EXPECT_EQ(counter().receipt_data().total_text, "457.00");
    EXPECT_NE(counter().receipt_data().receipt_number, first.receipt_number);
    EXPECT_GT(board_calls().size(), one_line.size());
    // The line went into the history as well.
    EXPECT_EQ(controls().history_menu.menu_item_count(), 2);
    EXPECT_EQ(controls().history_menu.get_menu_item_text(0, true), "T恤|L|59.00"_gbk);
    EXPECT_TRUE(interaction.boxes.empty());
    // The inputs keep their texts.
    EXPECT_EQ(controls().product_edit.get_control_text(), "T恤"_gbk);
}

TEST_F(CounterTest, EmptyProductOrSizeDoesNothing)
{
    start();
    const std::vector<std::string> title = board_calls();
    for (const Line& line : {Line{"", "42", "10", "1"}, Line{"跑鞋", "", "10", "1"}, Line{"", "", "", ""}}) {
        SCOPED_TRACE(std::string(line.product) + "/" + line.size);
        add(line);
        EXPECT_EQ(used_rows(), 0);
        EXPECT_EQ(counter().receipt_data().receipt_number, "");
        EXPECT_EQ(board_calls(), title);
        EXPECT_TRUE(interaction.boxes.empty());
        EXPECT_EQ(controls().history_menu.menu_item_count(), 0);
    }
}

TEST_F(CounterTest, SixthLineShowsTheMessageAndChangesNothingUntilCleared)
{
    start();
    auto& c = controls();
    c.quantity_edit.set_control_text("1");
    for (int i = 1; i <= 5; ++i) {
        c.product_edit.set_control_text("shoe " + std::to_string(i));
        c.size_edit.set_control_text("4" + std::to_string(i));
        c.price_edit.set_control_text("100");
        c.add_preview_button.click();
    }
    ASSERT_EQ(used_rows(), 5);
    const std::vector<std::string> full = board_calls();
    const receipt::ReceiptData record = counter().receipt_data();
    EXPECT_EQ(record.total_text, "500.00");

    c.product_edit.set_control_text("shoe 6");
    c.add_preview_button.click();
    ASSERT_EQ(interaction.boxes.size(), 1u);
    EXPECT_EQ(interaction.boxes[0].caption, "已满5条"_gbk);
    EXPECT_EQ(interaction.boxes[0].text, "最多5条，已满5条，清除重来吧"_gbk);
    EXPECT_EQ(used_rows(), 5);
    EXPECT_EQ(counter().receipt_lines().cell(5, receipt::Column::product), "shoe 5");
    EXPECT_EQ(counter().receipt_data().receipt_number, record.receipt_number);
    EXPECT_EQ(board_calls(), full);
    EXPECT_EQ(c.history_menu.menu_item_count(), 5);

    c.clear_button.click();
    EXPECT_EQ(used_rows(), 0);
    EXPECT_EQ(counter().receipt_data().total_text, "0.00");
    EXPECT_NE(counter().receipt_data().receipt_number, record.receipt_number);
    EXPECT_GT(board_calls().size(), full.size());
    // "清除" changes no control.
    EXPECT_EQ(c.product_edit.get_control_text(), "shoe 6");
    c.add_preview_button.click();
    EXPECT_EQ(used_rows(), 1);
    EXPECT_EQ(interaction.boxes.size(), 1u);
}

// Each event the counter wires reaches its handler, and nothing else does.
TEST_F(CounterTest, EventsReachTheirHandlers)
{
    using Controls = testing::MemoryCounterControls;
    struct Case
    {
        const char* what;
        std::function<void(Controls&, testing::MemoryCounterWindow&)> act;
        std::function<void(Controls&)> check;
    };
    const Case cases[] = {
        {"添加预览 adds the typed line",
         [](Controls& c, auto&) {
             c.product_edit.set_control_text("跑鞋"_gbk);
             c.size_edit.set_control_text("42");
             c.add_preview_button.click();
         },
         [this](Controls&) { EXPECT_EQ(used_rows(), 1); }},
        {"清除 rebuilds the preview of an empty table", [](Controls& c, auto&) { c.clear_button.click(); },
         [this](Controls&) { EXPECT_EQ(counter().receipt_data().total_text, "0.00"); }},
        {"开始打印 saves the shop values in one write, then prints on the remembered printer",
         [this](Controls& c, auto&) {
             c.shop_box.set_control_text("西单商场"_gbk);
             c.clerk_edit.set_control_text("李四"_gbk);
             c.address_edit.set_control_text("西单北大街120号"_gbk);
             test_files::FileWrites writes(settings);
             c.print_button.click();
             EXPECT_EQ(writes.count(), 1);
         },
         [this](Controls&) {
             EXPECT_EQ(printer.asked, (std::vector<std::optional<Text>>{Text("PDF")}));
             EXPECT_EQ(setting(section_print, key_shops), "2,新世界百货,东方商场,西单商场"_gbk);
             EXPECT_EQ(setting(section_print, key_clerk), "李四"_gbk);
             EXPECT_EQ(setting(section_print, key_address), "西单北大街120号"_gbk);
         }},
        {"X removes the shown shop", [](Controls& c, auto&) { c.remove_shop_button.click(); },
         [this](Controls& c) {
             EXPECT_EQ(c.shop_box.items(), std::vector<Text>{"东方商场"_gbk});
             EXPECT_EQ(setting(section_print, key_shops), "0,东方商场"_gbk);
         }},
        {"设置 opens the brand menu", [](Controls& c, auto&) { c.settings_button.click(); },
         [](Controls& c) {
             EXPECT_EQ(c.brand_menu.times_shown(), 1);
             EXPECT_EQ(c.history_menu.times_shown(), 0);
         }},
        {"历史 opens the history menu", [](Controls& c, auto&) { c.history_button.click(); },
         [](Controls& c) {
             EXPECT_EQ(c.history_menu.times_shown(), 1);
             EXPECT_EQ(c.brand_menu.times_shown(), 0);
         }},
        {"a brand's menu command ticks it",
         [](Controls&, auto& w) { w.choose_menu_command(brand_command_base + 4); },
         [this](Controls& c) {
             EXPECT_EQ(c.brand_box.items(), (std::vector<Text>{"耐克"_gbk, "新百伦"_gbk}));
             EXPECT_EQ(setting(section_print, key_ticked_brands), "耐克|新百伦|"_gbk);
         }},
        {"picking a printer remembers it", [](Controls& c, auto&) { c.printer_box.choose(0); },
         [this](Controls&) { EXPECT_EQ(setting(section_dayinji, key_printer), "Receipt-Printer"); }},
        {"the spin control's upper arrow raises the quantity",
         [](Controls& c, auto&) {
             c.quantity_edit.set_control_text("1");
             c.quantity_spin.press_up();
         },
         [](Controls& c) { EXPECT_EQ(c.quantity_edit.get_control_text(), "2"); }},
        {"the lower arrow lowers it",
         [](Controls& c, auto&) {
             c.quantity_edit.set_control_text("13");
             c.quantity_spin.press_down();
         },
         [](Controls& c) { EXPECT_EQ(c.quantity_edit.get_control_text(), "12"); }},
        // Typing or picking in the brand or shop list runs no program code.
        {"picking a brand or a shop changes nothing stored",
         [](Controls& c, auto&) {
             c.shop_box.choose(1);
             c.brand_box.choose(0);
         },
         [this](Controls&) {
             EXPECT_EQ(setting(section_print, key_shops), "0,新世界百货,东方商场"_gbk);
             EXPECT_EQ(used_rows(), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(settings);
        put(section_print, key_shops, "0,新世界百货,东方商场"_gbk);
        put(section_print, key_ticked_brands, "耐克|"_gbk);
        put(section_dayinji, key_printer, "PDF");
        printer.asked.clear();
        start();
        c.act(controls(), window());
        c.check(controls());
    }
}

// With a vendor server the window is shown after a tenth of a second of waiting, disabled under a busy
// cursor until the lists are in; a server that answers sooner keeps the window unseen until it is
// complete, and an offline start never waits.
TEST_F(CounterTest, OnlineStartShowsTheWindowWhileTheServerKeepsItWaiting)
{
    struct Case
    {
        const char* what;
        const char* server;
        std::chrono::milliseconds answer_after;
        bool close_box = false;
        std::vector<std::string> waiting_log;
    };
    const std::vector<Case> cases = {
        {"offline", "", 500ms, false, {}},
        {"an answer at once", "http://vendor", 0ms, false, {}},
        {"an answer within the tenth of a second", "http://vendor", 99ms, false, {}},
        {"an answer after it",
         "http://vendor",
         100ms,
         false,
         {"shown", "disabled", "busy", "idle", "enabled"}},
        // The start ends there; the window, about to go, stays disabled.
        {"the close box after it", "http://vendor", 150ms, true, {"shown", "disabled", "busy", "idle"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.page = "<!--云途-->notice"_gbk;
        server.requested.clear();
        server.while_waiting = [this, &c] {
            if (server.requested.size() > 1) return; // the logos come at once
            window().let_time_pass(c.answer_after);
            if (c.close_box) window().close();
        };
        CounterOptions o = options();
        o.server_address = c.server;
        start(o, [this] { window().refuse_notice_view = true; });
        EXPECT_EQ(window().waiting_log, c.waiting_log);
        EXPECT_EQ(window().running_timers(), 0);
        EXPECT_FALSE(window().busy);
        EXPECT_EQ(window().enabled, !c.close_box);
        EXPECT_EQ(controls().brand_menu.menu_item_count(), c.close_box ? 0 : *c.server ? 6 : 5);
    }
}

// What a start saves, the brands of the notice page and the remembered history made tidy, goes into one
// write of the settings file, with the bytes that writing them one after another leaves.
TEST_F(CounterTest, OnlineStartSavesItsValuesInOneWrite)
{
    server.page = "<!--云途-->notice"_gbk;
    put(section_pingpai, key_online_brands, ",李宁"_gbk);
    put(section_ls, key_history, "|*||*|跑鞋|42|399.00"_gbk);
    const std::string before = test_files::read_bytes(settings);

    CounterOptions o = options();
    o.server_address = "http://vendor";
    test_files::FileWrites writes(settings);
    start(o);
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(setting(section_pingpai, key_online_brands), ",云途"_gbk);
    EXPECT_EQ(setting(section_ls, key_history), "|*|跑鞋|42|399.00"_gbk);

    const std::string one_by_one = settings + ".one_by_one";
    test_files::write_bytes(one_by_one, before);
    runtime::write_setting(one_by_one, section_pingpai, key_online_brands, ",云途"_gbk);
    runtime::write_setting(one_by_one, section_ls, key_history, "|*|跑鞋|42|399.00"_gbk);
    EXPECT_EQ(test_files::read_bytes(settings), test_files::read_bytes(one_by_one));
}

// The close box while the start waits for the server ends the start: nothing more is requested, the
// spooler is not asked, no list is filled and the settings file keeps its bytes.
TEST_F(CounterTest, CloseBoxEndsTheStartWithoutAskingOrWritingMore)
{
    for (const std::size_t close_at_request : {1u, 2u}) {
        SCOPED_TRACE(close_at_request == 1 ? "while the page is awaited" : "while the logos are awaited");
        std::filesystem::remove(settings);
        put(section_pingpai, key_online_brands, ",李宁,安踏"_gbk);
        put(section_print, key_ticked_brands, "李宁|"_gbk);
        put(section_ls, key_history, "|*|跑鞋|42|199.00"_gbk);
        const Text before = runtime::read_setting(settings, section_pingpai, key_online_brands);
        server.page = "<!--云途,飞岩-->notice"_gbk;
        server.requested.clear();
        server.while_waiting = [this, close_at_request] {
            if (server.requested.size() == close_at_request) window().close();
        };
        int printers_asked = 0;
        CounterOptions o = options();
        o.server_address = "http://vendor";
        o.printers = [&printers_asked](runtime::TextList&) { return ++printers_asked, 0; };
        start(o);

        EXPECT_EQ(server.requested.size(), close_at_request);
        EXPECT_EQ(printers_asked, 0);
        EXPECT_EQ(controls().brand_menu.menu_item_count(), 0);
        EXPECT_EQ(controls().history_menu.menu_item_count(), 0);
        EXPECT_EQ(setting(section_pingpai, key_online_brands), before);
        EXPECT_EQ(setting(section_ls, key_history), "|*|跑鞋|42|199.00"_gbk);
    }
}

// Every request of the start is bounded by the start's time limit, counted from the start, and by the
// inactivity time-out, and ends with the close box.
TEST_F(CounterTest, StartBoundsItsRequestsAndStopsThemWithTheCloseBox)
{
    bool stopped_by_close = false;
    server.while_waiting = [this, &stopped_by_close] {
        if (!server.settings || !server.settings->stop || server.requested.size() > 1) return;
        window().close();
        stopped_by_close = server.settings->stop->stopped();
    };
    CounterOptions o = options();
    o.server_address = "http://vendor";
    o.online_time_limit = 7s;
    o.online_inactivity_timeout = 3s;
    const auto before = std::chrono::steady_clock::now();
    start(o);
    const auto after = std::chrono::steady_clock::now();

    ASSERT_TRUE(server.settings.has_value());
    ASSERT_TRUE(server.settings->deadline.has_value());
    EXPECT_GE(*server.settings->deadline, before + 7s);
    EXPECT_LE(*server.settings->deadline, after + 7s);
    EXPECT_EQ(server.settings->inactivity_timeout, 3s);
    EXPECT_TRUE(stopped_by_close);
}

// A fetched notice page shows in a view on the preview's place; the first preview hides it for good.
TEST_F(CounterTest, NoticePageTakesThePreviewsPlaceUntilTheFirstPreview)
{
    server.page = "<!--云途-->notice"_gbk;
    CounterOptions o = options();
    o.server_address = "http://vendor";
    start(o);
    ASSERT_EQ(window().notice_views.size(), 1u);
    const testing::MemoryNoticeView& view = *window().notice_views[0];
    EXPECT_EQ(view.page, server.page);
    EXPECT_TRUE(view.is_visible());
    EXPECT_FALSE(window().board_visible);

    controls().clear_button.click();
    EXPECT_FALSE(view.is_visible());
    EXPECT_TRUE(window().board_visible);
    add({"跑鞋", "42", "199", "1"});
    EXPECT_FALSE(view.is_visible());
    EXPECT_TRUE(window().board_visible);

    // Without a view the title picture stays.
    start(o, [this] { window().refuse_notice_view = true; });
    EXPECT_TRUE(window().board_visible);
    EXPECT_EQ(board_calls(), std::vector<std::string>{"picture 340x400 at 0,0 340x400"});
}

// Asked for after the first paint, the printer list arrives on its own, and the first key pressed
// before it has been filled in waits for it, so no input ever meets a window without its printers. It
// is asked for once.
TEST_F(CounterTest, PrintersAskedForAfterThePaintAreInBeforeTheFirstInput)
{
    enum class Then
    {
        key_pressed,     // after the paint, before the answer has been handled
        answer_handled,  // the answer posted to the window, no input
        key_before_paint // a key even before the first paint: the paint asks nothing more
    };
    for (const Then then : {Then::key_pressed, Then::answer_handled, Then::key_before_paint}) {
        SCOPED_TRACE(static_cast<int>(then));
        put(section_dayinji, key_printer, "PDF");
        std::atomic<int> asked{0};
        CounterOptions o = options();
        o.printers_after_first_paint = true;
        o.printers = [&asked](runtime::TextList& names) {
            ++asked;
            std::this_thread::sleep_for(50ms); // a slow spooler
            names = {"Receipt-Printer", "PDF"};
            return 2;
        };
        start(o);
        auto& printers = controls().printer_box;
        EXPECT_EQ(asked.load(), 0); // not while the window is made
        EXPECT_EQ(printers.item_count(), 0);
        ASSERT_TRUE(window().watches_paint());
        ASSERT_TRUE(window().watches_input());
        // The remembered values came in without waiting for the printers.
        EXPECT_EQ(controls().brand_menu.menu_item_count(), 5);

        switch (then) {
        case Then::key_pressed:
            window().paint();
            window().press_key();
            break;
        case Then::answer_handled:
            window().paint();
            ASSERT_TRUE(window().wait_for_posted(60s));
            EXPECT_EQ(window().run_posted(), 1);
            break;
        case Then::key_before_paint:
            window().press_key();
            window().paint();
            ASSERT_TRUE(window().wait_for_posted(60s));
            window().run_posted();
            break;
        }
        ASSERT_EQ(printers.item_count(), 2);
        EXPECT_EQ(printers.get_selection(), 1);
        end(); // waits for a listing still running
        EXPECT_EQ(asked.load(), 1);
    }

    // Asked for while the window is made otherwise.
    start();
    EXPECT_EQ(controls().printer_box.item_count(), 2);
    EXPECT_FALSE(window().watches_paint());
}

} // namespace
} // namespace vorsa::app
