#pragma once
// The counter's window over Win32: the main dialog made from template 1000 of the program's resources,
// one control object bound to each of its controls by identifier and handed to the counter
// (app/counter.h), which does everything else. It implements the counter's window seam with the window
// system's own means: the drawing board and the notice page's view in the preview area, the menu
// commands, timers, the busy cursor and the disabled inputs while the start waits, the close box, the
// first paint and input, and the window thread's queue.

#include "app/counter.h"
#include "app/counter_window.h"
#include "runtime/win32/dialog.h"
#include "runtime/win32/drawing_board.h"
#include "runtime/win32/web_view_win32.h"
#include "runtime/win32/win32_controls.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

namespace vorsa::app {

// What the program's start takes: the counter's options and whether a fetched notice page is shown.
// Without online_sources nothing is fetched, as from a server that does not answer (the pictures are
// still converted through WIC). The title picture and the built-in logos, when not given, are the
// program's own resources.
struct StartOptions : CounterOptions
{
    // Shows a fetched notice page in the system's HTML view; where no engine answers the title picture
    // stays. Off: the title picture stays in any case.
    bool notice_view = true;
};

using WindowControls =
    WindowControlsOf<runtime::Win32EditBox, runtime::Win32DropDownList, runtime::Win32SpinControl,
                     runtime::Win32PushButton, runtime::Win32PopupMenu>;

// The RCDATA resources of the program's pictures (app/win32/pictures.rc): the title picture and the
// built-in logos 1 to 5 at builtin_logo_resource + 1 ... + 5.
inline constexpr int title_picture_resource = 300;
inline constexpr int builtin_logo_resource = 300;

// The built-in title picture (a 340 x 400 BMP) and the five built-in logos (BMPs), from the resources
// of the running program; empty when it carries none.
runtime::Bytes title_picture();
std::vector<runtime::Bytes> builtin_logos();

// Identifiers of the windows made at run time in the preview area: the board first, then the view.
inline constexpr int first_run_time_child_id = 501;

class Win32CounterWindow final : public CounterWindow
{
public:
    // The control objects start unbound; the window binds them when it is made.
    Win32CounterWindow(std::string settings_path, StartOptions options);
    ~Win32CounterWindow() override;
    Win32CounterWindow(const Win32CounterWindow&) = delete;
    Win32CounterWindow& operator=(const Win32CounterWindow&) = delete;

    // Makes the window from template 1000 and runs it modally until it is closed; the start runs while
    // the window is made. `created`, when given, runs on the window's thread once the start has ended.
    // Returns 0, or -1 when the window could not be made.
    int run(const std::function<void(Win32CounterWindow&)>& created = {});

    // The window's creation handler: keeps the window, sets its icon, binds the controls and starts the
    // counter over them.
    void on_window_created(HWND window);

    WindowControls& controls() { return m_controls; }
    Counter& counter() { return m_counter; }
    HWND window() const { return m_window; }
    // The preview picture box (its window exists once the start has made it) and the notice page's
    // view (null unless one was made).
    runtime::DrawingBoard& preview_board() { return m_board; }
    runtime::NoticeView* notice_view() const { return m_notice_view.get(); }

    runtime::DrawingSurface& make_preview_board() override;
    void set_preview_board_visible(bool shown) override;
    runtime::Control* make_notice_view(const runtime::Text& page) override;
    void on_menu_command(std::function<void(int command_id)> handler) override;
    void show_window() override;
    void set_window_enabled(bool enabled) override;
    void set_busy_cursor(bool busy) override;
    int start_timer(std::chrono::milliseconds delay, std::function<void()> due) override;
    void stop_timer(int timer) override;
    void on_close(std::function<void()> handler) override;
    void on_first_paint(std::function<void()> painted) override;
    void on_first_input(std::function<void()> input) override;
    void post(std::function<void()> work) override;

private:
    struct PostedWork;

    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                             UINT_PTR subclass, DWORD_PTR data);
    static LRESULT CALLBACK message_hook(int code, WPARAM wparam, LPARAM lparam);
    LRESULT handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void bind_controls(HWND window);
    void run_posted_work();
    void watch_input(bool on);
    void show_busy_cursor();

    runtime::Text m_server_address;
    bool m_show_notice_view = true;
    runtime::Win32MainDialog m_dialog;
    HWND m_window = nullptr;
    WindowControls m_controls;
    runtime::DrawingBoard m_board;
    std::unique_ptr<runtime::NoticeView> m_notice_view;
    int m_next_child_id = first_run_time_child_id;
    // Shared with post() callers on other threads; it forgets the window when the window goes.
    std::shared_ptr<PostedWork> m_posted;
    std::map<UINT_PTR, std::function<void()>> m_timers;
    UINT_PTR m_next_timer = 0;
    std::function<void()> m_close;
    bool m_painted = false;
    std::function<void()> m_on_painted;
    std::function<void()> m_on_input;
    HHOOK m_input_hook = nullptr;
    bool m_busy = false;
    // The controls the start disabled, enabled again after it.
    std::vector<HWND> m_disabled;
    // Last: it goes first, with the late printer list's wait, while what it uses is still there.
    Counter m_counter;
};

// The program: the settings file in the current directory, marked hidden, then the window until it is
// closed. Returns 0. The program's platform services must be installed (app/win32/program.h).
int start_program(const StartOptions& options);

} // namespace vorsa::app
