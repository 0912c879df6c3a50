#include "app/counter.h"

#include "app/printing.h"
#include "app/quantity.h"
#include "runtime/controls/interaction.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"

#include <cassert>
#include <future>

namespace vorsa::app {

// The printer list asked for once the window has been painted. Listing the spooler's queues loads
// libcups with its TLS, Kerberos and Avahi libraries, which would otherwise compete with making and
// painting the window. The list is filled in when the answer arrives, or earlier, at the first key or
// mouse input, which then waits for it: the user never acts on a window whose printer list is missing.
class LatePrinterList : public std::enable_shared_from_this<LatePrinterList>
{
public:
    LatePrinterList(CounterWindow& window, PrinterNameSource source,
                    std::function<void(const TextList&)> fill)
        : m_window(window), m_source(std::move(source)), m_fill(std::move(fill))
    {
    }

    // Asks for the list on a thread of its own, once; the answer is posted to the window.
    void start()
    {
        if (m_filled || m_listing.valid()) return;
        m_listing =
            std::async(std::launch::async, [late = weak_from_this(), source = m_source, &window = m_window] {
                TextList names;
                if (source) source(names);
                window.post([late] {
                    if (const auto list = late.lock()) list->fill_now();
                });
                return names;
            });
    }

    // Fills the list in now, once, waiting for the answer (and asking for it first if need be).
    void fill_now()
    {
        if (m_filled) return;
        start();
        m_filled = true;
        m_fill(m_listing.get());
    }

private:
    CounterWindow& m_window;
    PrinterNameSource m_source;
    std::function<void(const TextList&)> m_fill;
    bool m_filled = false;
    // Last, so that its wait for a running listing ends before the rest goes.
    std::future<TextList> m_listing;
};

Counter::Counter(CounterControls controls, CounterWindow& window, std::string settings_path,
                 CounterOptions options)
    : m_controls(controls), m_window(window), m_settings_path(std::move(settings_path)),
      m_options(std::move(options)),
      m_lists(ListControls{controls.brand_box, controls.shop_box, controls.printer_box, controls.product_edit,
                           controls.size_edit, controls.price_edit, controls.clerk_edit,
                           controls.address_edit, controls.brand_menu, controls.history_menu},
              m_settings_path)
{
    assert(m_options.online_sources);
}

Counter::~Counter() = default;

void Counter::start()
{
    m_controls.quantity_spin.on_delta([this](int delta) { step_quantity(m_controls.quantity_edit, delta); });
    m_controls.date_edit.set_control_text(make_date_text(m_options.today()));
    wire_handlers();
    show_title_picture();

    // With a vendor server the rest of the start waits for the network, up to the start's time limit
    // counted from here. A server that answers at once keeps nobody waiting, and the window appears
    // once, complete, as in an offline start. One that keeps the start waiting longer gets the window
    // shown with its title picture, its inputs disabled under a busy cursor until the brands and
    // lists are in.
    bool shown_waiting = false;
    int show_waiting = -1;
    if (!m_options.server_address.empty()) {
        show_waiting = m_window.start_timer(show_waiting_after, [this, &shown_waiting] {
            m_window.show_window();
            m_window.set_window_enabled(false);
            m_window.set_busy_cursor(true);
            shown_waiting = true;
        });
    }

    // The close box meanwhile ends the start: the transfers are aborted, and the rest of the start,
    // which would read the spooler and write the settings file, is left out.
    online::HttpStop stop;
    m_window.on_close([&stop] { stop.stop(); });
    online::HttpSettings http;
    http.inactivity_timeout = m_options.online_inactivity_timeout;
    http.deadline = std::chrono::steady_clock::now() + m_options.online_time_limit;
    http.stop = &stop;
    // What the start saves (the online brands, the history made tidy) goes into one write of the file.
    runtime::SettingChanges start_changes;
    online::OnlineBrands brands = run_online_refresh(http, start_changes);
    m_window.on_close({});
    if (!stop.stopped()) fill_lists(std::move(brands), start_changes);

    if (show_waiting >= 0) m_window.stop_timer(show_waiting);
    if (shown_waiting) {
        m_window.set_busy_cursor(false);
        if (!stop.stopped()) m_window.set_window_enabled(true);
    }
}

void Counter::wire_handlers()
{
    CounterControls& c = m_controls;
    c.print_button.on_click([this] { print_receipt(); });
    c.add_preview_button.on_click([this] { add_line(); });
    c.clear_button.on_click([this] { clear_lines(); });
    c.remove_shop_button.on_click([this] { m_lists.remove_shop(); });
    c.settings_button.on_click([this] { m_lists.show_brand_menu(); });
    c.history_button.on_click([this] { m_lists.show_history_menu(); });
    c.printer_box.on_selection_changed([this] { m_lists.remember_printer(); });
    m_window.on_menu_command([this](int id) { m_lists.on_menu_command(id); });
}

void Counter::show_title_picture()
{
    m_board = &m_window.make_preview_board();
    m_board->set_mapping_mode(runtime::mapping_pixels);
    if (const auto title = runtime::picture_from_bytes(m_options.title_picture))
        m_board->draw_picture(*title, 0, 0, preview_width, preview_height);
    // The board keeps the drawing; the picture's bytes are not needed again.
    m_options.title_picture = runtime::Bytes();
}

online::OnlineBrands Counter::run_online_refresh(const online::HttpSettings& http,
                                                 runtime::SettingChanges& changes)
{
    // A fetched notice page takes the preview's place until the first preview.
    auto show_notice = [this](const runtime::Text& page) {
        m_window.set_preview_board_visible(false);
        m_notice_view = m_window.make_notice_view(page);
        if (!m_notice_view) m_window.set_preview_board_visible(true);
    };
    const std::unique_ptr<online::OnlineSources> sources = m_options.online_sources(show_notice, http);
    online::OnlineBrands brands = online::online_refresh(*sources, m_settings_path, m_options.server_address,
                                                         m_options.builtin_logos, changes);
    // The brand list has its own copies of the built-in logos now.
    m_options.builtin_logos = std::vector<runtime::Bytes>();
    return brands;
}

void Counter::fill_lists(online::OnlineBrands brands, runtime::SettingChanges& changes)
{
    const runtime::Text ticked = runtime::read_setting(m_settings_path, section_print, key_ticked_brands);
    if (m_options.printers_after_first_paint) {
        m_lists.load_remembered_values({});
        m_late_printers = std::make_shared<LatePrinterList>(
            m_window, m_options.printers, [this](const TextList& names) { m_lists.add_printers(names); });
        const std::weak_ptr<LatePrinterList> late = m_late_printers;
        m_window.on_first_paint([late] {
            if (const auto list = late.lock()) list->start();
        });
        m_window.on_first_input([late] {
            if (const auto list = late.lock()) list->fill_now();
        });
    } else {
        m_lists.load_remembered_values(m_options.printers ? m_options.printers
                                                          : PrinterNameSource([](TextList&) { return 0; }));
    }
    m_lists.rebuild_history_menu({}, changes);
    runtime::write_settings(m_settings_path, changes);
    m_lists.build_brand_lists(std::move(brands.brand_names), std::move(brands.brand_logos), ticked);
}

void Counter::add_line()
{
    m_window.set_preview_board_visible(true);
    const receipt::LineInput input{
        m_controls.product_edit.get_control_text(), m_controls.size_edit.get_control_text(),
        m_controls.price_edit.get_control_text(), m_controls.quantity_edit.get_control_text()};
    const receipt::AddOutcome outcome = receipt::add_line(m_lines, input);
    switch (outcome.result) {
    case receipt::AddResult::ignored:
        return;
    case receipt::AddResult::table_full:
        runtime::message_box(receipt::table_full_message(), runtime::mb_ok, receipt::table_full_caption());
        return;
    case receipt::AddResult::added:
        break;
    }
    m_lists.rebuild_history_menu(outcome.history_entry);
    receipt::refresh_preview(*this);
}

void Counter::clear_lines()
{
    m_lines.clear();
    receipt::refresh_preview(*this);
}

void Counter::print_receipt()
{
    if (m_options.printer) app::print_receipt(m_lists, *m_options.printer, m_record, m_lines);
}

runtime::DrawingSurface& Counter::board()
{
    assert(m_board);
    return *m_board;
}

void Counter::set_board_visible(bool shown)
{
    m_window.set_preview_board_visible(shown);
}

bool Counter::web_view_visible() const
{
    return m_notice_view && m_notice_view->is_visible();
}

void Counter::set_web_view_visible(bool shown)
{
    if (m_notice_view) m_notice_view->set_visible(shown);
}

receipt::ReceiptFields Counter::receipt_fields() const
{
    const CounterControls& c = m_controls;
    return {c.shop_box.get_control_text(),     c.clerk_edit.get_control_text(),
            c.address_edit.get_control_text(), c.date_edit.get_control_text(),
            c.brand_box.get_control_text(),    c.brand_box.get_selection()};
}

} // namespace vorsa::app
