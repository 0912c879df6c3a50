#pragma once
// The counter: everything the program does at the sales counter, over the window's controls
// (runtime/controls/controls.h) and the window's seam (app/counter_window.h), with no toolkit in it. It
// holds the program-wide objects of a run (the remembered lists, the receipt's line table and record,
// the preview picture box), runs the start-up once the window's controls are bound, and handles every
// event: "添加预览", "开始打印", "清除", "X", "设置", "历史", the printer list, the spin control and the
// menu commands. Each edition's window binds its controls and hands them over (app/qt/ for Qt Widgets);
// tests hand over in-memory controls.

#include "app/counter_window.h"
#include "app/lists.h"
#include "app/startup.h"
#include "online/http_settings.h"
#include "online/refresh.h"
#include "receipt/layout.h"
#include "receipt/model.h"
#include "receipt/preview.h"
#include "runtime/controls/controls.h"
#include "runtime/controls/printer.h"
#include "runtime/settings/settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorsa::app {

// The preview area's rectangle in the window's client pixels: the preview picture box and the notice
// page's view lie on it.
inline constexpr int preview_left = 180;
inline constexpr int preview_top = 8;
inline constexpr int preview_width = receipt::preview_width;
inline constexpr int preview_height = receipt::preview_height;

// How long an online start may keep the window unseen: past this the window is shown while it waits.
inline constexpr std::chrono::milliseconds show_waiting_after{100};

// Makes the refresh's sources for a start: `show_notice` puts a fetched page in the window, every
// request is made with `http` (its time limit and the stop of the window's close box).
using OnlineSourcesFactory = std::function<std::unique_ptr<online::OnlineSources>(
    std::function<void(const runtime::Text& page)> show_notice, const online::HttpSettings& http)>;

// What the start takes from the outside: the clock, the vendor's server, the printers and the edition's
// pictures. The objects given here outlive the counter.
struct CounterOptions
{
    std::function<LocalDate()> today = local_today;
    // "http://host[:port]"; empty starts offline.
    runtime::Text server_address;
    // What fetches from the server and converts the pictures; required. A build without a vendor server
    // gives sources that fetch nothing, as from a server that does not answer.
    OnlineSourcesFactory online_sources;
    // The five built-in logos in the order of the built-in brands (any format the sources convert).
    // Used by the start only, and let go after it.
    std::vector<runtime::Bytes> builtin_logos;
    // The 340 x 400 title picture shown in the preview area until the first preview; drawn once at the
    // start and let go.
    runtime::Bytes title_picture;
    // Names of the installed printers; without a source the printer list stays empty.
    PrinterNameSource printers;
    // The printers asked for on a thread once the window has been painted, not while it is made. The
    // list is in before the first key or mouse input is handled (such input waits for it).
    bool printers_after_first_paint = false;
    // The printer "开始打印" prints on; without one the print button does nothing.
    runtime::PrintDevice* printer = nullptr;
    // The start waits for the vendor's server at most this long in all, counted from the window shown.
    std::chrono::milliseconds online_time_limit = online::refresh_time_limit;
    // A request to the server that moves no byte for this long is given up.
    std::chrono::milliseconds online_inactivity_timeout = online::HttpSettings{}.inactivity_timeout;
};

// The window's controls as the counter uses them, named as the program calls them. They belong to the
// window and outlive the counter.
struct CounterControls
{
    runtime::EditBox& product_edit;
    runtime::EditBox& size_edit;
    runtime::EditBox& price_edit;
    runtime::EditBox& quantity_edit;
    runtime::DropDownList& shop_box;
    runtime::EditBox& date_edit;
    runtime::EditBox& clerk_edit;
    runtime::EditBox& address_edit;
    runtime::SpinControl& quantity_spin;
    runtime::DropDownList& brand_box;
    runtime::DropDownList& printer_box;
    runtime::PushButton& add_preview_button;
    runtime::PushButton& print_button;
    runtime::PushButton& clear_button;
    runtime::PushButton& remove_shop_button;
    runtime::PushButton& settings_button;
    runtime::PushButton& history_button;
    runtime::PopupMenu& brand_menu;
    runtime::PopupMenu& history_menu;
};

// The window's controls, one object each of its window system's kinds, named as the program calls
// them, and the counter's view of them.
template <typename Edit, typename List, typename Spin, typename Button, typename Menu> struct WindowControlsOf
{
    Edit product_edit;
    Edit size_edit;
    Edit price_edit;
    Edit quantity_edit;
    List shop_box;
    Edit date_edit;
    Edit clerk_edit;
    Edit address_edit;
    Spin quantity_spin;
    List brand_box;
    List printer_box;
    Button add_preview_button;
    Button print_button;
    Button clear_button;
    Button remove_shop_button;
    Button settings_button;
    Button history_button;
    Menu brand_menu;
    Menu history_menu;

    CounterControls counter_controls()
    {
        return {product_edit,    size_edit,          price_edit,   quantity_edit, shop_box,
                date_edit,       clerk_edit,         address_edit, quantity_spin, brand_box,
                printer_box,     add_preview_button, print_button, clear_button,  remove_shop_button,
                settings_button, history_button,     brand_menu,   history_menu};
    }
};

class LatePrinterList;

class Counter : public receipt::PreviewContext
{
public:
    // Every object starts empty; start() fills them. `window` outlives the counter.
    Counter(CounterControls controls, CounterWindow& window, std::string settings_path,
            CounterOptions options);
    ~Counter() override;
    Counter(const Counter&) = delete;
    Counter& operator=(const Counter&) = delete;

    // The start, run once after the window's controls are bound: wires the spin control, writes the
    // date, wires the handlers, shows the title picture in the preview area, runs the online refresh and
    // fills the lists from the settings file. With a vendor server that does not answer at once the
    // window is shown while it waits and kept disabled, under a busy cursor, until the lists are filled;
    // the refresh ends within CounterOptions::online_time_limit. Closing the window meanwhile ends the
    // start at once: the transfers are aborted and nothing more is read, built or written.
    void start();

    // "添加预览": stores the typed line (nothing without product or size, a message when the table is
    // full), adds it to the history and rebuilds the preview.
    void add_line();
    // "清除": empties the line table and rebuilds the preview.
    void clear_lines();

    Lists& lists() { return m_lists; }
    const std::string& settings_path() const { return m_settings_path; }

    // The preview build's view of the window. The board exists once the start has made it.
    runtime::DrawingSurface& board() override;
    void set_board_visible(bool shown) override;
    bool web_view_visible() const override;
    void set_web_view_visible(bool shown) override;
    receipt::ReceiptFields receipt_fields() const override;
    const std::vector<runtime::Bytes>& ticked_logos() const override { return m_lists.ticked_logos(); }
    const receipt::ReceiptLines& receipt_lines() const override { return m_lines; }
    receipt::ReceiptData& receipt_data() override { return m_record; }

private:
    void wire_handlers();
    void show_title_picture();
    online::OnlineBrands run_online_refresh(const online::HttpSettings& http,
                                            runtime::SettingChanges& changes);
    // Fills the lists and writes what the start saves, `changes` and the tidied history, at once.
    void fill_lists(online::OnlineBrands brands, runtime::SettingChanges& changes);
    void print_receipt();

    CounterControls m_controls;
    CounterWindow& m_window;
    std::string m_settings_path;
    CounterOptions m_options;
    runtime::DrawingSurface* m_board = nullptr;
    runtime::Control* m_notice_view = nullptr;
    Lists m_lists;
    receipt::ReceiptLines m_lines;
    receipt::ReceiptData m_record;
    // Last, so that its wait for a running listing ends before the rest goes.
    std::shared_ptr<LatePrinterList> m_late_printers;
};

} // namespace vorsa::app
