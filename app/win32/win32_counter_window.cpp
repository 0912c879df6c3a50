#include "app/win32/win32_counter_window.h"

#include "app/control_ids.h"
#include "online/win32/win32_sources.h"

#include <commctrl.h>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

namespace vorsa::app {

// What post() hands to the window's thread: the work waiting, and the window that runs it while there
// is one. Threads that post may outlive the window.
struct Win32CounterWindow::PostedWork
{
    std::mutex mutex;
    HWND window = nullptr;
    std::deque<std::function<void()>> work;
};

namespace {

// The message that tells the window's thread that posted work waits.
constexpr UINT work_posted = WM_APP + 0x5A1;
constexpr UINT_PTR subclass_id = 0x5A1;

// The window whose first input the thread's message hook watches for (one window per thread).
thread_local Win32CounterWindow* t_input_window = nullptr;

runtime::Bytes resource_bytes(int id)
{
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10)); // RT_RCDATA
    if (!found) return {};
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
    if (!data) return {};
    return runtime::Bytes(data, data + SizeofResource(nullptr, found));
}

// The counter's options with the program's own pictures and, unless given, its own sources (WinHTTP,
// WIC), which fetch nothing without a server address.
CounterOptions counter_options(StartOptions options)
{
    CounterOptions counter = static_cast<CounterOptions&&>(options);
    if (!counter.online_sources) counter.online_sources = online::make_http_sources;
    if (counter.builtin_logos.empty()) counter.builtin_logos = builtin_logos();
    if (counter.title_picture.empty()) counter.title_picture = title_picture();
    return counter;
}

// Key and mouse input as the user gives it; the pointer merely moving over the window is none.
bool is_input(UINT message)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
    case WM_XBUTTONDBLCLK:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_NCXBUTTONDOWN:
        return true;
    default:
        return false;
    }
}

bool pointer_over(HWND window)
{
    POINT at{};
    if (!GetCursorPos(&at)) return false;
    const HWND under = WindowFromPoint(at);
    return under && (under == window || IsChild(window, under));
}

} // namespace

runtime::Bytes title_picture()
{
    return resource_bytes(title_picture_resource);
}

std::vector<runtime::Bytes> builtin_logos()
{
    std::vector<runtime::Bytes> logos;
    for (int n = 1; n <= 5; ++n)
        logos.push_back(resource_bytes(builtin_logo_resource + n));
    return logos;
}

Win32CounterWindow::Win32CounterWindow(std::string settings_path, StartOptions options)
    : m_server_address(options.server_address), m_show_notice_view(options.notice_view),
      m_posted(std::make_shared<PostedWork>()),
      m_counter(m_controls.counter_controls(), *this, std::move(settings_path),
                counter_options(std::move(options)))
{
}

Win32CounterWindow::~Win32CounterWindow()
{
    {
        const std::lock_guard lock(m_posted->mutex);
        m_posted->window = nullptr;
        m_posted->work.clear();
    }
    watch_input(false);
    if (m_window) {
        for (const auto& timer : m_timers)
            KillTimer(m_window, timer.first);
        RemoveWindowSubclass(m_window, window_procedure, subclass_id);
    }
    if (m_busy) SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512))); // IDC_ARROW
}

int Win32CounterWindow::run(const std::function<void(Win32CounterWindow&)>& created)
{
    const INT_PTR result =
        m_dialog.run(nullptr, runtime::main_dialog_template, [this, &created](HWND window) {
            on_window_created(window);
            if (created) post([this, &created] { created(*this); });
        });
    return result < 0 ? -1 : 0;
}

void Win32CounterWindow::on_window_created(HWND window)
{
    m_window = window;
    {
        const std::lock_guard lock(m_posted->mutex);
        m_posted->window = window;
    }
    SetWindowSubclass(window, window_procedure, subclass_id, reinterpret_cast<DWORD_PTR>(this));
    // The menus appear over this window and send their choice to it.
    m_controls.brand_menu.set_owner(window);
    m_controls.history_menu.set_owner(window);
    m_dialog.set_window_icon(runtime::load_big_icon(nullptr, runtime::program_icon_resource));
    bind_controls(window);
    m_counter.start();
}

void Win32CounterWindow::bind_controls(HWND window)
{
    WindowControls& c = m_controls;
    c.product_edit.bind_control(window, control_id::product_edit);
    c.size_edit.bind_control(window, control_id::size_edit);
    c.price_edit.bind_control(window, control_id::price_edit);
    c.quantity_edit.bind_control(window, control_id::quantity_edit);
    c.shop_box.bind_control(window, control_id::shop_box);
    c.date_edit.bind_control(window, control_id::date_edit);
    c.clerk_edit.bind_control(window, control_id::clerk_edit);
    c.address_edit.bind_control(window, control_id::address_edit);
    c.quantity_spin.bind_control(window, control_id::quantity_spin);
    c.brand_box.bind_control(window, control_id::brand_box);
    c.printer_box.bind_control(window, control_id::printer_box);
    c.add_preview_button.bind_control(window, control_id::add_preview_button);
    c.print_button.bind_control(window, control_id::print_button);
    c.clear_button.bind_control(window, control_id::clear_button);
    c.remove_shop_button.bind_control(window, control_id::remove_shop_button);
    c.settings_button.bind_control(window, control_id::settings_button);
    c.history_button.bind_control(window, control_id::history_button);
}

runtime::DrawingSurface& Win32CounterWindow::make_preview_board()
{
    if (!m_board.window()) {
        m_board.create_board(m_window, preview_left, preview_top, preview_width, preview_height, 0, 0,
                             m_next_child_id++);
        m_board.set_auto_redraw(true);
    }
    return m_board;
}

void Win32CounterWindow::set_preview_board_visible(bool shown)
{
    if (m_board.window()) m_board.set_visible(shown);
}

runtime::Control* Win32CounterWindow::make_notice_view(const runtime::Text& page)
{
    if (!m_show_notice_view || !m_window || m_notice_view) return nullptr;
    m_notice_view = runtime::make_notice_view(m_window, page, m_server_address, preview_left, preview_top,
                                              preview_width, preview_height, m_next_child_id);
    if (m_notice_view) ++m_next_child_id;
    return m_notice_view.get();
}

void Win32CounterWindow::on_menu_command(std::function<void(int)> handler)
{
    m_dialog.on_menu_command_event(std::move(handler));
}

void Win32CounterWindow::show_window()
{
    if (!m_window) return;
    ShowWindow(m_window, SW_SHOW);
    UpdateWindow(m_window);
}

void Win32CounterWindow::set_window_enabled(bool enabled)
{
    if (!m_window) return;
    // The window itself stays enabled: a disabled window would not take the click of its close box.
    if (!enabled) {
        for (HWND child = GetWindow(m_window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!IsWindowEnabled(child)) continue;
            EnableWindow(child, FALSE);
            m_disabled.push_back(child);
        }
    } else {
        for (HWND child : m_disabled)
            if (IsWindow(child)) EnableWindow(child, TRUE);
        m_disabled.clear();
    }
}

void Win32CounterWindow::set_busy_cursor(bool busy)
{
    if (busy == m_busy) return;
    m_busy = busy;
    if (!m_window || !pointer_over(m_window)) return;
    if (busy) {
        show_busy_cursor();
    } else {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512))); // IDC_ARROW
    }
}

void Win32CounterWindow::show_busy_cursor()
{
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514))); // IDC_WAIT
}

int Win32CounterWindow::start_timer(std::chrono::milliseconds delay, std::function<void()> due)
{
    const UINT_PTR timer = ++m_next_timer;
    m_timers[timer] = std::move(due);
    const auto milliseconds = std::max<long long>(USER_TIMER_MINIMUM, delay.count());
    if (m_window)
        SetTimer(m_window, timer, static_cast<UINT>(std::min<long long>(milliseconds, 0x7FFFFFFF)), nullptr);
    return static_cast<int>(timer);
}

void Win32CounterWindow::stop_timer(int timer)
{
    const auto found = m_timers.find(static_cast<UINT_PTR>(timer));
    if (found == m_timers.end()) return;
    if (m_window) KillTimer(m_window, found->first);
    m_timers.erase(found);
}

void Win32CounterWindow::on_close(std::function<void()> handler)
{
    m_close = std::move(handler);
}

void Win32CounterWindow::on_first_paint(std::function<void()> painted)
{
    if (m_painted) {
        post(std::move(painted));
    } else {
        m_on_painted = std::move(painted);
    }
}

void Win32CounterWindow::on_first_input(std::function<void()> input)
{
    m_on_input = std::move(input);
    watch_input(static_cast<bool>(m_on_input));
}

void Win32CounterWindow::watch_input(bool on)
{
    if (on && !m_input_hook) {
        // Every message the thread takes from its queue passes the hook before it is handled.
        m_input_hook = SetWindowsHookExW(WH_GETMESSAGE, message_hook, nullptr, GetCurrentThreadId());
        if (m_input_hook) t_input_window = this;
    } else if (!on && m_input_hook) {
        UnhookWindowsHookEx(m_input_hook);
        m_input_hook = nullptr;
        if (t_input_window == this) t_input_window = nullptr;
    }
}

LRESULT CALLBACK Win32CounterWindow::message_hook(int code, WPARAM wparam, LPARAM lparam)
{
    Win32CounterWindow* window = t_input_window;
    if (code == HC_ACTION && window && window->m_on_input &&
        is_input(reinterpret_cast<const MSG*>(lparam)->message)) {
        // Runs before the input is handled; the hook goes once the queue is back to this window.
        std::exchange(window->m_on_input, {})();
        window->post([window] {
            if (!window->m_on_input) window->watch_input(false);
        });
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

void Win32CounterWindow::post(std::function<void()> work)
{
    const std::lock_guard lock(m_posted->mutex);
    if (!m_posted->window) return;
    m_posted->work.push_back(std::move(work));
    // Should the queue be full, the work runs with the next work posted.
    PostMessageW(m_posted->window, work_posted, 0, 0);
}

void Win32CounterWindow::run_posted_work()
{
    for (;;) {
        std::function<void()> work;
        {
            const std::lock_guard lock(m_posted->mutex);
            if (m_posted->work.empty()) return;
            work = std::move(m_posted->work.front());
            m_posted->work.pop_front();
        }
        work();
    }
}

LRESULT CALLBACK Win32CounterWindow::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                                      UINT_PTR, DWORD_PTR data)
{
    return reinterpret_cast<Win32CounterWindow*>(data)->handle(window, message, wparam, lparam);
}

LRESULT Win32CounterWindow::handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case work_posted:
        run_posted_work();
        return 0;
    case WM_TIMER: {
        const auto found = m_timers.find(wparam);
        if (found == m_timers.end()) break;
        KillTimer(window, found->first);
        const std::function<void()> due = std::move(found->second);
        m_timers.erase(found);
        if (due) due();
        return 0;
    }
    case WM_PAINT: {
        const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
        if (!m_painted) {
            m_painted = true;
            if (m_on_painted) post(std::exchange(m_on_painted, {}));
        }
        return result;
    }
    case WM_SETCURSOR:
        if (!m_busy) break;
        show_busy_cursor();
        return TRUE;
    case WM_CLOSE:
        // The close box (also the system menu's Close and Alt+F4); the dialog then ends.
        if (m_close) {
            const std::function<void()> close = m_close;
            close();
        }
        break;
    case WM_NCDESTROY: {
        {
            const std::lock_guard lock(m_posted->mutex);
            m_posted->window = nullptr;
            m_posted->work.clear();
        }
        for (const auto& timer : m_timers)
            KillTimer(window, timer.first);
        m_timers.clear();
        watch_input(false);
        RemoveWindowSubclass(window, window_procedure, subclass_id);
        m_window = nullptr;
        m_disabled.clear();
        break;
    }
    default:
        break;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

int start_program(const StartOptions& options)
{
    Win32CounterWindow window(prepare_settings_file(), options);
    window.run();
    return 0;
}

} // namespace vorsa::app
