#pragma once
// The counter's window over Qt Widgets: makes the window's controls from its form
// (resources/main_window.ui), binds one control object to each by identifier and hands them to the
// counter (app/counter.h), which does everything else. It implements the counter's window seam with Qt:
// the drawing board and the notice page's view in the preview area, timers, the busy cursor, the close
// box, the first paint and input, and the window thread's queue.

#include "app/counter.h"
#include "app/counter_window.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/window_controls.h"

#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QTimer;
class QWidget;

namespace vorsa::app {

// Shows the notice page in a child of `parent` on the preview's rectangle and returns it as a control
// (the first preview hides it), or nullptr when no view could be made.
using NoticeViewFactory = std::function<runtime::Control*(QWidget* parent, const runtime::Text& page)>;

// What the program's start takes: the counter's options and the web view. Without an online_sources
// factory nothing is fetched, as from a server that does not answer: the window then converts the
// pictures with Qt and links no HTTP client, which an offline build does without. The title picture
// and the built-in logos, when not given, are the program's own.
struct StartOptions : CounterOptions
{
    // Without a factory the notice page is not shown (the title picture stays).
    NoticeViewFactory notice_view;
};

using WindowControls = WindowControlsOf<runtime::QtEditBox, runtime::QtDropDownList, runtime::QtSpinControl,
                                        runtime::QtPushButton, runtime::QtPopupMenu>;

// Fills a dialog with the window's form: its 28 controls, size, title and template font.
void main_window_form(QDialog& dialog);

// The window's icon: the program's artwork at 16, 32 and 48 pixels.
QIcon program_icon();

// The built-in title picture (a 340 x 400 JPEG) shown in the preview area until the first preview.
runtime::Bytes title_picture();

class QtCounterWindow final : public CounterWindow
{
public:
    // Needs a QApplication. The control objects start unbound; the window binds them when it is made.
    QtCounterWindow(std::string settings_path, StartOptions options);
    ~QtCounterWindow() override;
    QtCounterWindow(const QtCounterWindow&) = delete;
    QtCounterWindow& operator=(const QtCounterWindow&) = delete;

    // The window's creation handler: keeps the window, sets the icon, binds the controls and starts the
    // counter over them.
    void on_window_created(runtime::MainDialog& window);

    WindowControls& controls() { return m_controls; }
    Counter& counter() { return m_counter; }
    runtime::MainDialog* window() const { return m_window; }
    // The preview picture box, once the counter has made it.
    runtime::DrawingBoard& preview_board() { return *m_board; }

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
    class FirstEvents;

    void bind_controls(runtime::MainDialog& window);

    NoticeViewFactory m_notice_view;
    WindowControls m_controls;
    QPointer<runtime::MainDialog> m_window;
    // The board is a child of the window, which deletes it; the pointer notices.
    QPointer<runtime::DrawingBoard> m_board;
    // What posted work and timers run in: gone with this object, so nothing runs on after it.
    std::unique_ptr<QObject> m_context;
    std::map<int, QTimer*> m_timers;
    int m_next_timer = 0;
    std::function<void()> m_close;
    std::unique_ptr<FirstEvents> m_first_events;
    bool m_busy = false;
    // Last: it goes first, with the late printer list's wait, while what it uses is still there.
    Counter m_counter;
};

// The program: the settings file in the current directory, marked hidden, then the window until it is
// closed. Returns 0. Needs a QApplication with the Qt platform and interaction installed.
int start_program(const StartOptions& options);

} // namespace vorsa::app
