// The program as a process of its own, watched from outside as the user sees it: its window as
// template 1000 lays it out, Enter and Esc closing nothing, two programs sharing one settings file, and
// the close box during an online start ending the process while the server still holds its answer.
//
// The program is build-win/app/vorsa-receipt.exe, named on the command line. For the online start, which
// needs a server the program was not built with, this test program runs the same program with the test
// server's address (`--program ADDRESS`).

#include "app/control_ids.h"
#include "app/lists.h"
#include "app/startup.h"
#include "app/win32/program.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/text.h"
#include "tests/app/win32/program_window.h"
#include "tests/online/local_http_server.h"
#include "tests/runtime/win32/window_test_support.h"
#include "tests/temp_directory.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <winspool.h>

namespace vorsa::app::test {
namespace {

namespace fs = std::filesystem;

fs::path g_receipt_program;

fs::path own_program()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The program with a vendor server of the test's: as the program starts, only the address differs, and
// only its answer or the close box can end the start (it would otherwise wait ten minutes).
int run_program_with_server(const char* address)
{
    install_win32_program_platform();
    runtime::Printer printer;
    StartOptions options = program_options(printer);
    options.server_address = address;
    options.online_time_limit = std::chrono::minutes(10);
    options.online_inactivity_timeout = std::chrono::minutes(10);
    return start_program(options);
}

RECT client_rect_of(HWND control, HWND window)
{
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

std::string describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
           "x" + std::to_string(r.bottom - r.top);
}

// The base unit (pixels per 4 horizontal or 8 vertical dialog units) that makes `units` dialog units
// `pixels` pixels wide, as the dialog manager converts them; 0 when none does.
int base_unit(int units, int per, int pixels)
{
    for (int base = 1; base < 100; ++base)
        if (MulDiv(units, base, per) == pixels) return base;
    return 0;
}

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (g_receipt_program.empty()) GTEST_SKIP() << "no program named on the command line";
    }
    test_files::TempDirectory m_directory{"vorsa-program"};
};

// The window of the running program: the 28 controls at their template rectangles (the dialog
// manager's base units found from the client area, which the template sizes 355 x 277), the preview
// board at its pixel rectangle, the tab order, the spooler's printers listed, the fixed frame. (Its
// icon is the in-process window test's: Wine sends no WM_GETICON to another process.)
TEST_F(ProgramTest, WindowIsLaidOutAsTheTemplateSays)
{
    const ChildProgram program(g_receipt_program, L"", m_directory.path());
    ASSERT_TRUE(program.started());
    const HWND window = program.wait_for_main_window();
    ASSERT_NE(window, nullptr);

    RECT client{};
    GetClientRect(window, &client);
    const int base_x = base_unit(355, 4, client.right);
    const int base_y = base_unit(277, 8, client.bottom);
    ASSERT_GT(base_x, 0) << "client area " << describe(client);
    ASSERT_GT(base_y, 0) << "client area " << describe(client);
    std::vector<int> tab_stops;
    for (const runtime::test::TemplateControl& control : runtime::test::main_window_controls()) {
        SCOPED_TRACE(control.id);
        const HWND item = GetDlgItem(window, control.id);
        ASSERT_NE(item, nullptr);
        const RECT shown = client_rect_of(item, window);
        const RECT& u = control.units;
        const RECT expected{MulDiv(u.left, base_x, 4), MulDiv(u.top, base_y, 8),
                            MulDiv(u.left, base_x, 4) + MulDiv(u.right - u.left, base_x, 4),
                            MulDiv(u.top, base_y, 8) + MulDiv(u.bottom - u.top, base_y, 8)};
        if (control.kind == runtime::test::Kind::spin) {
            // An up-down control may take a width of its own (Wine's takes 16 pixels).
            EXPECT_EQ(describe({shown.left, shown.top, shown.left, shown.bottom}),
                      describe({expected.left, expected.top, expected.left, expected.bottom}));
            EXPECT_LE(shown.right, expected.right);
        } else if (control.kind == runtime::test::Kind::combo_box) {
            // A closed combo box: its template height includes the dropped list.
            EXPECT_EQ(describe({shown.left, shown.top, shown.right, shown.top}),
                      describe({expected.left, expected.top, expected.right, expected.top}));
            EXPECT_LE(shown.bottom, expected.bottom);
        } else {
            EXPECT_EQ(describe(shown), describe(expected));
        }
        if (control.flags & runtime::test::tab_stop) tab_stops.push_back(control.id);
    }

    const HWND board = GetDlgItem(window, first_run_time_child_id);
    ASSERT_NE(board, nullptr);
    wchar_t board_class[32] = {};
    GetClassNameW(board, board_class, 32);
    EXPECT_EQ(std::wstring(board_class), L"DrawBoard");
    EXPECT_EQ(describe(client_rect_of(board, window)), describe({180, 8, 520, 408}));
    EXPECT_TRUE(IsWindowVisible(board));

    std::vector<int> tab_order;
    const HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
    for (HWND at = first; at && tab_order.size() <= tab_stops.size();) {
        tab_order.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(window, at, FALSE);
        if (at == first) break;
    }
    EXPECT_EQ(tab_order, tab_stops);

    // The spooler's printers, asked for once the window has been painted, arrive in the printer list.
    DWORD needed = 0;
    DWORD installed = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 1, nullptr, 0, &needed, &installed);
    std::vector<BYTE> buffer(needed);
    if (needed > 0)
        EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 1, buffer.data(), needed,
                      &needed, &installed);
    const HWND printers = GetDlgItem(window, control_id::printer_box);
    EXPECT_TRUE(wait_until([&] {
        return SendMessageW(printers, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(installed);
    })) << installed
        << " printers installed, " << SendMessageW(printers, CB_GETCOUNT, 0, 0) << " listed";

    const auto style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
}

// Enter and Esc in a box make the commands IDOK and IDCANCEL, which close nothing: a brand ticked after
// them (a menu command from the queue behind them) shows in the brand list of a window still open.
TEST_F(ProgramTest, EnterAndEscLeaveTheWindowOpen)
{
    const ChildProgram program(g_receipt_program, L"", m_directory.path());
    const HWND window = program.wait_for_main_window();
    ASSERT_NE(window, nullptr);
    const HWND product = GetDlgItem(window, control_id::product_edit);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC))
                            << 16;
        PostMessageW(product, WM_KEYDOWN, key, scan | 1);
        PostMessageW(product, WM_KEYUP, key, scan | 1 | (LPARAM{3} << 30));
    }
    PostMessageW(window, WM_COMMAND, brand_command_base + 1, 0);
    const HWND brands = GetDlgItem(window, control_id::brand_box);
    EXPECT_TRUE(
        wait_until([&] { return !IsWindow(brands) || SendMessageW(brands, CB_GETCOUNT, 0, 0) == 1; }));
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(IsWindowVisible(window));
}

// Two programs in one folder, each saving values of its own at the same moments, round after round: the
// one ticks or unticks each of the five brands ("pplist"), the other adds five lines and empties the
// table again (the history, "ls"). After every round the file holds what both saved last: the brands
// as the last toggle left them, each line added. A history entry lost is lost for good, as the next
// history written starts from the file.
TEST_F(ProgramTest, TwoProgramsSavingAtOnceLoseNothing)
{
    const ChildProgram ticking(g_receipt_program, L"", m_directory.path());
    const ChildProgram adding(g_receipt_program, L"", m_directory.path());
    const HWND ticking_window = ticking.wait_for_main_window();
    const HWND adding_window = adding.wait_for_main_window();
    ASSERT_NE(ticking_window, nullptr);
    ASSERT_NE(adding_window, nullptr);
    const std::string settings = settings_path_in(m_directory.path());
    const HWND product_edit = GetDlgItem(adding_window, control_id::product_edit);
    SendMessageW(GetDlgItem(adding_window, control_id::size_edit), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"42"));
    const runtime::Text all_ticked = gbk("耐克|阿迪达斯|三叶草|新百伦|匡威|");

    constexpr int rounds = 20;
    constexpr int writes = 5;
    std::vector<std::string> lost;
    for (int round = 1; round <= rounds; ++round) {
        std::atomic<bool> go{false};
        std::thread tick([&] {
            while (!go)
                std::this_thread::yield();
            for (int brand = 1; brand <= writes; ++brand)
                SendMessageW(ticking_window, WM_COMMAND, brand_command_base + brand, 0);
        });
        std::vector<std::string> added;
        go = true;
        for (int line = 1; line <= writes; ++line) {
            added.push_back("P" + std::to_string(round) + "-" + std::to_string(line));
            SendMessageW(product_edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide(added.back()).c_str()));
            click(adding_window, control_id::add_preview_button);
        }
        click(adding_window, control_id::clear_button);
        tick.join();

        const std::string at = "round " + std::to_string(round) + ": ";
        const runtime::Text ticked = runtime::read_setting(settings, section_print, key_ticked_brands);
        if (ticked != (round % 2 ? all_ticked : runtime::Text()))
            lost.push_back(at + "pplist=" + runtime::utf8_from_gbk(ticked));
        const runtime::Text history = runtime::read_setting(settings, section_ls, key_history);
        for (const std::string& product : added)
            if (runtime::find_text(history, "|*|" + product + "|") < 0)
                lost.push_back(at + product + " not in ls");
    }
    EXPECT_TRUE(lost.empty()) << lost.size() << " values lost, first: " << lost.front();
    EXPECT_TRUE(ticking.running());
    EXPECT_TRUE(adding.running());
}

// The close box while the start waits for the vendor's server ends the program: the server holds its
// answer until the program has gone, and the start would otherwise wait ten minutes for it. Meanwhile
// the window shows with its inputs disabled; nothing is written and nothing more is asked for.
TEST_F(ProgramTest, CloseBoxDuringAnOnlineStartEndsTheProgram)
{
    online::testing::LocalHttpServer server;
    online::testing::Reply held;
    held.held = true;
    server.set_fallback(held);
    const ChildProgram program(own_program(), L"--program " + wide(server.address()), m_directory.path());
    ASSERT_TRUE(program.started());
    HWND window = nullptr;
    ASSERT_TRUE(wait_until([&] {
                    window = program.main_window();
                    return (window && server.request_count() >= 1 && IsWindowEnabled(window) &&
                            !IsWindowEnabled(GetDlgItem(window, control_id::add_preview_button))) ||
                           !program.running();
                }) &&
                program.running())
        << "the window never showed with its inputs disabled while the start waited";

    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    const long code = program.wait_for_exit(std::chrono::minutes(3));
    server.release();
    EXPECT_EQ(code, 0) << "the program was still waiting for the server after its close box";
    EXPECT_EQ(server.request_count(), 1u);
    EXPECT_FALSE(fs::exists(m_directory.path() / "dy.cfg"));
}

} // namespace
} // namespace vorsa::app::test

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--program")
        return vorsa::app::test::run_program_with_server(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc >= 2) vorsa::app::test::g_receipt_program = argv[1];
    vorsa::app::install_win32_program_platform();
    return RUN_ALL_TESTS();
}
