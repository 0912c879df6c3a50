// The main dialog run modally from template 1000: the created handler and the size that follows it,
// Enter and Esc as menu commands that close nothing, the close box, menu commands from popup menus
// (shown at the mouse pointer, or under the button when the keyboard opened them), and the interaction
// commands (message boxes, the mouse pointer, pending messages).

#include "runtime/win32/dialog.h"
#include "runtime/win32/win32_controls.h"
#include "runtime/win32/win32_interaction.h"
#include "tests/runtime/win32/window_test_support.h"

#include <atomic>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <thread>

namespace vorsa::runtime::test {
namespace {

constexpr int product_edit = 1001;
constexpr int size_edit = 1008;
constexpr int settings_button = 1022;
constexpr int clear_button = 1032;
constexpr int add_group = 1014;
constexpr UINT run_script = WM_APP + 1;

// Runs the main dialog and, once its message loop runs, `script` with the window; the script ends the
// dialog (a close is posted after it in any case). `created` is the created handler. Every message the
// window gets after the created handler is handed to `watch` first.
struct ScriptedRun
{
    std::function<void(HWND)> created;
    std::function<void(HWND)> script;
    std::function<void(UINT message, WPARAM, LPARAM)> watch;

    INT_PTR run(Win32MainDialog& dialog)
    {
        return dialog.run(nullptr, main_dialog_template, [this](HWND window) {
            if (created) created(window);
            SetWindowSubclass(window, procedure, 1, reinterpret_cast<DWORD_PTR>(this));
            PostMessageW(window, run_script, 0, 0);
        });
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                      DWORD_PTR data)
    {
        auto* run = reinterpret_cast<ScriptedRun*>(data);
        if (message == WM_NCDESTROY) RemoveWindowSubclass(window, procedure, 1);
        if (run->watch) run->watch(message, wparam, lparam);
        if (message == run_script) {
            if (run->script) run->script(window);
            PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        }
        return DefSubclassProc(window, message, wparam, lparam);
    }
};

// A key pressed and released on `control`, as the keyboard would queue it.
void press(HWND control, WPARAM key)
{
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(control, WM_KEYDOWN, key, scan | 1);
    PostMessageW(control, WM_KEYUP, key, scan | 1 | (LPARAM{3} << 30));
}

TEST(Win32MainDialog, CallsTheCreatedHandlerBeforeShowingAndEndsAtTheCloseBox)
{
    Win32MainDialog dialog;
    std::vector<std::string> events;
    HWND created_window = nullptr;
    std::vector<int> commands;
    ScriptedRun run;
    run.created = [&](HWND window) {
        created_window = window;
        events.push_back(IsWindowVisible(window) ? "created visible" : "created");
        EXPECT_EQ(dialog.window(), window);
        dialog.on_menu_command_event([&commands](int id) { commands.push_back(id); });
    };
    run.watch = [&](UINT message, WPARAM, LPARAM lparam) {
        if (message != WM_SIZE) return;
        RECT client{};
        GetClientRect(created_window, &client);
        if (LOWORD(lparam) == client.right && HIWORD(lparam) == client.bottom) events.push_back("size");
    };
    run.script = [&](HWND window) {
        EXPECT_TRUE(IsWindowVisible(window));
        // No owner, a taskbar window of its own.
        EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    };
    EXPECT_EQ(run.run(dialog), 0);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "created");
    EXPECT_EQ(events[1], "size");
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(dialog.window(), nullptr);
    EXPECT_FALSE(IsWindow(created_window));
}

TEST(Win32MainDialog, EnterAndEscAreMenuCommandsThatCloseNothing)
{
    Win32MainDialog dialog;
    std::vector<int> commands;
    Win32EditBox size;
    Win32PushButton clear;
    int cleared = 0;
    bool survived = false;
    ScriptedRun run;
    run.created = [&](HWND window) {
        ASSERT_TRUE(size.bind_control(window, size_edit));
        ASSERT_TRUE(clear.bind_control(window, clear_button));
        clear.on_click([&cleared] { ++cleared; });
        dialog.on_menu_command_event([&commands](int id) { commands.push_back(id); });
    };
    run.script = [&](HWND window) {
        HWND product = GetDlgItem(window, product_edit);
        SetFocus(product);
        press(product, VK_RETURN);
        ASSERT_TRUE(pump_until([&] { return commands.size() == 1; }));
        press(product, VK_ESCAPE);
        ASSERT_TRUE(pump_until([&] { return commands.size() == 2; }));
        EXPECT_EQ(commands, (std::vector<int>{command_enter, command_escape}));

        // In the size box Enter is a line break.
        size.set_control_text({});
        SetFocus(size.window());
        press(size.window(), VK_RETURN);
        ASSERT_TRUE(pump_until([&] { return size.get_control_text() == "\r\n"; }));
        // A push button with the focus is the one Enter presses (given the focus as Tab gives it).
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(clear.window()), TRUE);
        press(clear.window(), VK_RETURN);
        ASSERT_TRUE(pump_until([&] { return cleared == 1; }));
        EXPECT_EQ(commands.size(), 2u);

        // Commands from no control reach the handler whether a menu (0) or an accelerator (1) sent them; a
        // control's notification does not.
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(13246, 0), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(13146, 1), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(add_group, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, add_group)));
        EXPECT_EQ(commands, (std::vector<int>{command_enter, command_escape, 13246, 13146}));
        survived = IsWindow(window) && IsWindowVisible(window);
    };
    EXPECT_EQ(run.run(dialog), 0);
    EXPECT_TRUE(survived);
}

// How a case of the popup menu ends once the menu is open.
enum class MenuAction
{
    pick_second,
    dismiss,
    destroy,
};

TEST(Win32PopupMenu, ChosenItemArrivesOnceAsAMenuCommandAfterTheMenuCloses)
{
    const struct
    {
        const char* name;
        bool mouse_over_button;
        MenuAction action;
        std::vector<int> expected;
    } rows[] = {
        {"mouse, second item", true, MenuAction::pick_second, {13247}},
        {"keyboard, second item", false, MenuAction::pick_second, {13247}},
        {"mouse, dismissed", true, MenuAction::dismiss, {}},
        {"keyboard, menu destroyed while open", false, MenuAction::destroy, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Win32MainDialog dialog;
        Win32PushButton button;
        Win32PopupMenu menu;
        std::vector<int> commands;
        std::vector<int> commands_when_closed;
        POINT pointer{};
        RECT button_area{};
        RECT shown{};
        bool menu_open = false;
        ScriptedRun run;
        run.created = [&](HWND window) {
            ASSERT_TRUE(button.bind_control(window, settings_button));
            dialog.on_menu_command_event([&commands](int id) { commands.push_back(id); });
            menu.set_owner(window);
            menu.create_popup_menu();
            menu.append_menu_item(gbk("耐克"), 13246);
            menu.append_menu_item(gbk("阿迪达斯"), 13247);
            menu.append_menu_item(gbk("新百伦"), 13248);
            button.on_click([&] {
                POINT at{};
                GetCursorPos(&at);
                menu.show_popup_menu(at.x, at.y);
                commands_when_closed = commands;
            });
        };
        run.watch = [&](UINT message, WPARAM wparam, LPARAM lparam) {
            if (message != WM_ENTERIDLE || wparam != MSGF_MENU || menu_open) return;
            menu_open = true;
            auto* menu_window = reinterpret_cast<HWND>(lparam);
            GetWindowRect(menu_window, &shown);
            switch (row.action) {
            case MenuAction::pick_second:
                press(menu_window, VK_DOWN);
                press(menu_window, VK_DOWN);
                press(menu_window, VK_RETURN);
                break;
            case MenuAction::dismiss:
                press(menu_window, VK_ESCAPE);
                break;
            case MenuAction::destroy:
                menu.destroy_popup_menu();
                break;
            }
        };
        run.script = [&](HWND window) {
            HWND settings = GetDlgItem(window, settings_button);
            GetWindowRect(settings, &button_area);
            pointer = row.mouse_over_button ? POINT{button_area.left + 5, button_area.top + 5}
                                            : POINT{button_area.left - 100, button_area.bottom + 100};
            SetCursorPos(pointer.x, pointer.y);
            ASSERT_TRUE(pump_until([&] {
                POINT at{};
                return GetCursorPos(&at) && at.x == pointer.x && at.y == pointer.y;
            }));
            SendMessageW(settings, BM_CLICK, 0, 0);
            EXPECT_TRUE(menu_open);
            // The choice arrives once the menu has closed, and only once.
            EXPECT_TRUE(commands_when_closed.empty());
            pump_until([&] { return !commands.empty(); }, row.expected.empty() ? 10 : 400);
            pump_pending();
        };
        EXPECT_EQ(run.run(dialog), 0);
        EXPECT_EQ(commands, row.expected);
        // At the mouse pointer, or under the button for the keyboard's user.
        const POINT corner = row.mouse_over_button ? pointer : POINT{button_area.left, button_area.bottom};
        EXPECT_EQ(shown.left, corner.x);
        EXPECT_EQ(shown.top, corner.y);
        EXPECT_EQ(menu.menu() == nullptr, row.action == MenuAction::destroy);
    }
}

// Finds the message box titled `title` from another thread, notes whether `window` was enabled meanwhile
// and presses the box's button `button`.
class MessageBoxAnswerer
{
public:
    MessageBoxAnswerer(std::wstring title, HWND window, int button)
        : m_thread([this, title = std::move(title), window, button] {
              for (int round = 0; round < 2000 && !m_found; ++round) {
                  HWND box = FindWindowW(L"#32770", title.c_str());
                  if (!box) {
                      Sleep(10);
                      continue;
                  }
                  m_found = true;
                  m_window_enabled = IsWindowEnabled(window) != FALSE;
                  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              }
          })
    {
    }
    ~MessageBoxAnswerer()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    bool found()
    {
        m_thread.join();
        return m_found;
    }
    bool window_enabled() const { return m_window_enabled; }

private:
    std::atomic<bool> m_found{false};
    std::atomic<bool> m_window_enabled{true};
    std::thread m_thread;
};

TEST(Win32Interaction, MessageBoxesShowChineseBlockTheWindowAndAnswerWithTheButton)
{
    ASSERT_EQ(GetACP(), 1252u) << "run the test with LANG=en_US.UTF-8";
    TemplateWindow window;
    ASSERT_NE(window.window(), nullptr);
    Win32Interaction interaction;
    const struct
    {
        int style;
        int button;
        int expected;
    } rows[] = {
        {mb_ok | mb_icon_information, IDOK, 0},
        {0x1 /* OK and Cancel */, IDCANCEL, 1},
        {0x4 /* Yes and No */, IDNO, 6},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("style " + std::to_string(row.style));
        MessageBoxAnswerer answerer(wide_from_utf8("已满5条"), window.window(), row.button);
        EXPECT_EQ(interaction.message_box(gbk("最多5条，已满5条，清除重来吧"), row.style, gbk("已满5条")),
                  row.expected);
        ASSERT_TRUE(answerer.found());
        // No button of the window can run while the box is up.
        EXPECT_FALSE(answerer.window_enabled());
        EXPECT_TRUE(IsWindowEnabled(window.window()));
    }
}

TEST(Win32Interaction, ReportsTheMousePointerAndDispatchesWhatIsQueued)
{
    Win32Interaction interaction;
    SetCursorPos(123, 234);
    ASSERT_TRUE(pump_until([&] { return interaction.cursor_x() == 123 && interaction.cursor_y() == 234; }));

    TemplateWindow window;
    ASSERT_NE(window.window(), nullptr);
    Win32EditBox edit;
    ASSERT_TRUE(edit.bind_control(window.window(), product_edit));
    edit.set_control_text({});
    // What is queued for the window has happened by the time the call returns, keys that move between the
    // controls included.
    SetFocus(edit.window());
    PostMessageW(edit.window(), WM_CHAR, L'B', 1);
    press(edit.window(), VK_TAB);
    interaction.process_pending_events();
    EXPECT_EQ(edit.get_control_text(), "B");
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 1024);

    // The request to quit stays for the loop that waits for it.
    PostQuitMessage(7);
    PostMessageW(edit.window(), WM_CHAR, L'C', 1);
    interaction.process_pending_events();
    EXPECT_EQ(edit.get_control_text(), "BC");
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 7u);
}

} // namespace
} // namespace vorsa::runtime::test
