#pragma once
// The counter's window and controls without a toolkit, for tests of the counter. The window writes down
// what the counter asks of it; the test plays the user and the event loop: it chooses menu commands,
// closes the window, lets time pass (which runs the timers due), paints the window, presses a key and
// runs the work posted to the window's thread.

#include "app/counter.h"
#include "app/counter_window.h"
#include "runtime/controls/memory_controls.h"
#include "tests/receipt/recording_surface.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vorsa::app::testing {

// The window's controls, one in-memory object each.
struct MemoryCounterControls
{
    runtime::MemoryEditBox product_edit;
    runtime::MemoryEditBox size_edit;
    runtime::MemoryEditBox price_edit;
    runtime::MemoryEditBox quantity_edit;
    runtime::MemoryDropDownList shop_box{true};
    runtime::MemoryEditBox date_edit;
    runtime::MemoryEditBox clerk_edit;
    runtime::MemoryEditBox address_edit;
    runtime::MemorySpinControl quantity_spin;
    runtime::MemoryDropDownList brand_box;
    runtime::MemoryDropDownList printer_box;
    runtime::MemoryPushButton add_preview_button;
    runtime::MemoryPushButton print_button;
    runtime::MemoryPushButton clear_button;
    runtime::MemoryPushButton remove_shop_button;
    runtime::MemoryPushButton settings_button;
    runtime::MemoryPushButton history_button;
    runtime::MemoryPopupMenu brand_menu;
    runtime::MemoryPopupMenu history_menu;

    CounterControls refs()
    {
        return {product_edit,    size_edit,          price_edit,   quantity_edit, shop_box,
                date_edit,       clerk_edit,         address_edit, quantity_spin, brand_box,
                printer_box,     add_preview_button, print_button, clear_button,  remove_shop_button,
                settings_button, history_button,     brand_menu,   history_menu};
    }
};

// The notice page's view: shown until hidden.
class MemoryNoticeView : public runtime::Control
{
public:
    explicit MemoryNoticeView(runtime::Text shown_page) : page(std::move(shown_page)) {}
    void set_visible(bool shown) override { m_visible = shown; }
    bool is_visible() const override { return m_visible; }
    const runtime::Text page;

private:
    bool m_visible = true;
};

class MemoryCounterWindow : public CounterWindow
{
public:
    // The preview picture box, in pixels at 96 dpi.
    receipt::testing::RecordingSurface board{runtime::mapping_pixels, 96};
    int boards_made = 0;
    bool board_visible = false;
    // Views made for notice pages, in order; none is made while refuse_notice_view is set.
    std::vector<std::unique_ptr<MemoryNoticeView>> notice_views;
    bool refuse_notice_view = false;
    // What the window went through while the start waited, in order: "shown", "disabled", "busy",
    // "idle", "enabled".
    std::vector<std::string> waiting_log;
    bool shown = false;
    bool enabled = true;
    bool busy = false;

    runtime::DrawingSurface& make_preview_board() override
    {
        ++boards_made;
        board_visible = true;
        return board;
    }
    void set_preview_board_visible(bool visible) override { board_visible = visible; }
    runtime::Control* make_notice_view(const runtime::Text& page) override
    {
        if (refuse_notice_view) return nullptr;
        notice_views.push_back(std::make_unique<MemoryNoticeView>(page));
        return notice_views.back().get();
    }
    void on_menu_command(std::function<void(int)> handler) override { m_menu_command = std::move(handler); }
    void show_window() override
    {
        shown = true;
        waiting_log.emplace_back("shown");
    }
    void set_window_enabled(bool on) override
    {
        enabled = on;
        waiting_log.emplace_back(on ? "enabled" : "disabled");
    }
    void set_busy_cursor(bool on) override
    {
        busy = on;
        waiting_log.emplace_back(on ? "busy" : "idle");
    }
    int start_timer(std::chrono::milliseconds delay, std::function<void()> due) override
    {
        m_timers.push_back({++m_timer_count, m_now + delay, std::move(due)});
        return m_timer_count;
    }
    void stop_timer(int timer) override
    {
        std::erase_if(m_timers, [timer](const Timer& t) { return t.number == timer; });
    }
    void on_close(std::function<void()> handler) override { m_close = std::move(handler); }
    void on_first_paint(std::function<void()> painted) override { m_painted = std::move(painted); }
    void on_first_input(std::function<void()> input) override { m_input = std::move(input); }
    void post(std::function<void()> work) override
    {
        {
            const std::lock_guard lock(m_posted_mutex);
            m_posted.push_back(std::move(work));
        }
        m_posted_changed.notify_all();
    }

    // The user's choice in a popup menu, or Enter (1) and Esc (2).
    void choose_menu_command(int id)
    {
        if (m_menu_command) m_menu_command(id);
    }
    // The close box.
    void close()
    {
        if (m_close) m_close();
    }
    // Time passes: the timers that fall due run, in the order they fall due.
    void let_time_pass(std::chrono::milliseconds span)
    {
        m_now += span;
        for (;;) {
            auto due = std::find_if(m_timers.begin(), m_timers.end(),
                                    [this](const Timer& t) { return t.at <= m_now; });
            if (due == m_timers.end()) return;
            const std::function<void()> run = std::move(due->run);
            m_timers.erase(due);
            run();
        }
    }
    int running_timers() const { return static_cast<int>(m_timers.size()); }
    std::chrono::milliseconds first_timer_delay() const
    {
        return m_timers.empty() ? std::chrono::milliseconds(-1) : m_timers.front().at - m_now;
    }
    // The window's first paint, then its first key or mouse input.
    void paint() { run_once(m_painted); }
    void press_key() { run_once(m_input); }
    bool watches_paint() const { return static_cast<bool>(m_painted); }
    bool watches_input() const { return static_cast<bool>(m_input); }

    // Waits until work has been posted, at most `cap`; false when none came.
    bool wait_for_posted(std::chrono::milliseconds cap)
    {
        std::unique_lock lock(m_posted_mutex);
        return m_posted_changed.wait_for(lock, cap, [this] { return !m_posted.empty(); });
    }
    // Runs the work posted so far, in order; how much it was.
    int run_posted()
    {
        std::deque<std::function<void()>> work;
        {
            const std::lock_guard lock(m_posted_mutex);
            work.swap(m_posted);
        }
        for (auto& item : work)
            item();
        return static_cast<int>(work.size());
    }

private:
    struct Timer
    {
        int number;
        std::chrono::milliseconds at;
        std::function<void()> run;
    };
    static void run_once(std::function<void()>& handler)
    {
        if (const std::function<void()> run = std::exchange(handler, {})) run();
    }

    std::function<void(int)> m_menu_command;
    std::function<void()> m_close;
    std::function<void()> m_painted;
    std::function<void()> m_input;
    std::chrono::milliseconds m_now{0};
    std::vector<Timer> m_timers;
    int m_timer_count = 0;
    std::mutex m_posted_mutex;
    std::condition_variable m_posted_changed;
    std::deque<std::function<void()>> m_posted;
};

} // namespace vorsa::app::testing
