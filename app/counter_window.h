#pragma once
// What the counter needs of its window besides the controls: the two children it makes in the preview
// area, the menu commands, what the window does while the start waits for the vendor's server (shown,
// disabled, under a busy cursor, the close box ending the wait), its first paint and first input, and
// the window thread's queue. Each edition's window implements it over its toolkit (app/qt/ over Qt
// Widgets); tests use an in-memory one. Every call comes from the window's thread unless it says
// otherwise.

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"

#include <chrono>
#include <functional>

namespace vorsa::runtime {
class DrawingSurface;
}

namespace vorsa::app {

class CounterWindow
{
public:
    virtual ~CounterWindow() = default;

    // The preview picture box: a drawing board made as a visible child of the window on the preview's
    // rectangle (preview_left, preview_top, preview_width x preview_height, counter.h), with automatic
    // redraw on, so that what is drawn stays when the window is covered. Made once; the window owns it.
    virtual runtime::DrawingSurface& make_preview_board() = 0;
    virtual void set_preview_board_visible(bool shown) = 0;

    // A visible view showing the HTML text `page` (GBK) on the preview's rectangle, or nullptr when no
    // view can be made. The window owns it.
    virtual runtime::Control* make_notice_view(const runtime::Text& page) = 0;

    // Called with every menu command of the window: a popup menu's choice, Enter (1), Esc (2).
    virtual void on_menu_command(std::function<void(int command_id)> handler) = 0;

    // Shows the window before the start has ended (it waits for the vendor's server).
    virtual void show_window() = 0;
    // A disabled window takes no input; the close box still works.
    virtual void set_window_enabled(bool enabled) = 0;
    virtual void set_busy_cursor(bool busy) = 0;

    // Runs `due` once, `delay` from now, from the window's event dispatch: also while the start waits
    // for the network, which dispatches events. Returns the timer's number for stop_timer.
    virtual int start_timer(std::chrono::milliseconds delay, std::function<void()> due) = 0;
    // A stopped timer never runs; stopping one that ran or was stopped does nothing.
    virtual void stop_timer(int timer) = 0;

    // Called when the user closes the window (its close box); an empty handler withdraws it.
    virtual void on_close(std::function<void()> handler) = 0;

    // `painted` runs once, from the event dispatch after the window's first paint (soon, when the window
    // has been shown already). `input` runs once, before the first key or mouse input is handled, which
    // waits for it to return.
    virtual void on_first_paint(std::function<void()> painted) = 0;
    virtual void on_first_input(std::function<void()> input) = 0;

    // Runs `work` on the window's thread once the events queued before it have been handled. May be
    // called from any thread; work posted to a window that has gone is dropped.
    virtual void post(std::function<void()> work) = 0;
};

} // namespace vorsa::app
