// The program's window in the test's own process: its Chinese texts read back right on a machine whose
// own code page is 1252, and the online start against the local test server (brands, logos, the
// settings file, the notice page or the title picture).

#include "app/control_ids.h"
#include "app/startup.h"
#include "online/refresh.h"
#include "online/url.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/picture.h"
#include "tests/app/win32/program_window.h"
#include "tests/online/local_http_server.h"
#include "tests/temp_directory.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace vorsa::app::test {
namespace {

using online::testing::LocalHttpServer;
using online::testing::Reply;

// The message box's text control, as the window system numbers it.
constexpr int message_box_text = 0xFFFF;

std::wstring item_text(HWND list, int index)
{
    const auto length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) return L"<none>";
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::wstring menu_text(HMENU menu, int position)
{
    wchar_t text[256] = {};
    const int length = GetMenuStringW(menu, static_cast<UINT>(position), text, 256, MF_BYPOSITION);
    return std::wstring(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

// A message box shown by the thread of `window` (a dialog of its own, as `window` is one), or null.
HWND message_box_of(HWND window)
{
    struct Search
    {
        HWND window;
        HWND box;
    } search{window, nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(window, nullptr),
        [](HWND candidate, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            wchar_t name[16] = {};
            GetClassNameW(candidate, name, 16);
            if (candidate == s->window || std::wstring(name) != L"#32770" || !IsWindowVisible(candidate))
                return TRUE;
            s->box = candidate;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.box;
}

std::vector<std::wstring> items(HWND list)
{
    std::vector<std::wstring> texts;
    const auto count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i)
        texts.push_back(item_text(list, i));
    return texts;
}

class ProgramWindowTest : public ::testing::Test
{
protected:
    std::string settings() const { return settings_path_in(m_directory.path()); }

    // Options as the program's, without printers, with today fixed.
    static StartOptions options()
    {
        StartOptions options;
        options.today = [] { return LocalDate{2015, 3, 5}; };
        return options;
    }

    test_files::TempDirectory m_directory{"vorsa-window"};
};

// Texts reach the window and come back as GBK through code page 936, whatever the system's own code
// page: with it set to 1252 (LANG=en_US.UTF-8 under Wine) any text sent through it would come back as
// question marks. Read back in UTF-16, as the window system holds them. The window's icon on the way.
TEST_F(ProgramWindowTest, ChineseTextsAreRightUnderCodePage1252)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test needs a system code page of 1252 (LANG=en_US.UTF-8)";
    using runtime::write_setting;
    write_setting(settings(), section_print, key_ticked_brands, gbk("耐克|阿迪达斯|"));
    write_setting(settings(), section_print, key_shops, gbk("1,东方商场,新世界百货"));
    write_setting(settings(), section_print, key_clerk, gbk("店员乙"));
    write_setting(settings(), section_print, key_address, gbk("北京路1号"));
    write_setting(settings(), section_ls, key_history, gbk("|*|跑鞋|42|399.00"));

    std::wstring box_title;
    std::wstring box_message;
    bool box_seen = false;
    run_program_window(settings(), options(), [&](Win32CounterWindow& program) {
        HWND window = program.window();
        WindowControls& c = program.controls();
        c.product_edit.set_control_text(gbk("运动裤"));
        const struct
        {
            const char* what;
            std::wstring shown;
            const char* expected;
        } rows[] = {
            {"title", window_text(window), "Vorsa小票打印系统 1.5"},
            {"label", window_text(GetDlgItem(window, 1003)), "品牌"},
            {"button", window_text(GetDlgItem(window, control_id::add_preview_button)), "添加预览"},
            {"date", window_text(c.date_edit.window()), "2015-03-05"},
            {"clerk", window_text(c.clerk_edit.window()), "店员乙"},
            {"address", window_text(c.address_edit.window()), "北京路1号"},
            {"product set", window_text(c.product_edit.window()), "运动裤"},
            {"shop box", window_text(c.shop_box.window()), "新世界百货"},
            {"shop item", item_text(c.shop_box.window(), 0), "东方商场"},
            {"brand box", window_text(c.brand_box.window()), "耐克"},
            {"brand item", item_text(c.brand_box.window(), 1), "阿迪达斯"},
            {"brand menu", menu_text(c.brand_menu.menu(), 4), "匡威"},
            {"history menu", menu_text(c.history_menu.menu(), 0), "跑鞋|42|399.00"},
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.what);
            EXPECT_EQ(utf8(row.shown), row.expected);
        }
        // The window's big icon is icon 129 of the program.
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0)),
                  runtime::load_big_icon(nullptr, runtime::program_icon_resource));

        // A sixth line: the message box, read from a thread of the test while it shows.
        std::atomic<bool> closing{false};
        std::thread reader([&] {
            HWND box = nullptr;
            wait_until([&] { return (box = message_box_of(window)) != nullptr || closing; },
                       std::chrono::seconds(60));
            if (closing || !box) return;
            box_seen = true;
            box_title = window_text(box);
            box_message = window_text(GetDlgItem(box, message_box_text));
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        });
        c.size_edit.set_control_text("42");
        for (int line = 1; line <= 6; ++line)
            click(window, control_id::add_preview_button);
        closing = true;
        reader.join();
        EXPECT_EQ(program.counter().receipt_lines().used_rows(), 5);
    });
    ASSERT_TRUE(box_seen);
    EXPECT_EQ(utf8(box_title), "已满5条");
    EXPECT_EQ(utf8(box_message), "最多5条，已满5条，清除重来吧");
}

// The spin control's arrows, clicked: the upper one raises the quantity, the lower one lowers it
// (the steps themselves are the counter's).
TEST_F(ProgramWindowTest, SpinArrowsStepTheQuantity)
{
    run_program_window(settings(), options(), [](Win32CounterWindow& program) {
        WindowControls& c = program.controls();
        RECT arrows{};
        GetClientRect(c.quantity_spin.window(), &arrows);
        const LPARAM upper = MAKELPARAM(arrows.right / 2, arrows.bottom / 4);
        const LPARAM lower = MAKELPARAM(arrows.right / 2, arrows.bottom * 3 / 4);
        const struct
        {
            const char* before;
            LPARAM arrow;
            const char* after;
        } cases[] = {{"1", upper, "2"}, {"13", lower, "12"}, {"1", lower, "1"}};
        for (const auto& step : cases) {
            SCOPED_TRACE(std::string(step.before) + (step.arrow == upper ? " up" : " down"));
            c.quantity_edit.set_control_text(step.before);
            SendMessageW(c.quantity_spin.window(), WM_LBUTTONDOWN, MK_LBUTTON, step.arrow);
            SendMessageW(c.quantity_spin.window(), WM_LBUTTONUP, 0, step.arrow);
            EXPECT_EQ(c.quantity_edit.get_control_text(), step.after);
        }
    });
}

// The online start against the local server: a page that comes gives the brands of its comment, whose
// logos are fetched, and is remembered; an error page is no page, so the remembered brands are used
// (their logos fetched all the same) and nothing is written. The page shows in the HTML view where an
// engine answers; otherwise, and always after an error page, the title picture stays.
TEST_F(ProgramWindowTest, OnlineStartTakesBrandsAndLogosFromTheServer)
{
    const struct
    {
        const char* name;
        int status;
        std::vector<const char*> brand_box;
        std::vector<bool> logos;
        const char* online_brands_after;
    } cases[] = {
        {"page", 200, {"李宁", "安踏"}, {true, false}, ",李宁,安踏"},
        {"error page", 500, {"特步"}, {true}, ",特步"},
    };
    const runtime::Bytes logo = builtin_logos().at(0);
    ASSERT_FALSE(logo.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test_files::TempDirectory directory("vorsa-online");
        const std::string path = settings_path_in(directory.path());
        runtime::write_setting(path, section_pingpai, key_online_brands, gbk(",特步"));
        runtime::write_setting(path, section_print, key_ticked_brands, gbk("李宁|安踏|特步|"));

        LocalHttpServer server;
        Reply page;
        page.status = c.status;
        const runtime::Text body = gbk("<!--李宁,安踏-->\r\n<html><body>通知</body></html>");
        page.body.assign(body.begin(), body.end());
        server.set_reply(std::string(online::notice_page_path), page);
        Reply picture;
        picture.body.assign(logo.begin(), logo.end());
        for (const char* name : {"李宁", "特步"})
            server.set_reply(
                std::string(online::logo_folder_path) + online::url_encode_utf8(gbk(name)) + ".gif", picture);

        StartOptions start = options();
        start.server_address = server.address();
        run_program_window(path, start, [&](Win32CounterWindow& program) {
            WindowControls& controls = program.controls();
            std::vector<std::string> shown;
            for (const std::wstring& item : items(controls.brand_box.window()))
                shown.push_back(utf8(item));
            EXPECT_EQ(shown, std::vector<std::string>(c.brand_box.begin(), c.brand_box.end()));
            std::vector<bool> logos;
            for (const runtime::Bytes& ticked : program.counter().lists().ticked_logos())
                logos.push_back(runtime::picture_from_bytes(ticked).has_value());
            EXPECT_EQ(logos, c.logos);

            // The notice page's view or the title picture, never both and never neither.
            const bool view = program.notice_view() != nullptr;
            if (c.status != 200) {
                EXPECT_FALSE(view);
            }
            EXPECT_NE(IsWindowVisible(program.preview_board().window()) != FALSE, view);
        });
        EXPECT_EQ(runtime::read_setting(path, section_pingpai, key_online_brands),
                  gbk(c.online_brands_after));
    }
}

} // namespace
} // namespace vorsa::app::test
