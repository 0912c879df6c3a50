#pragma once
// The main window: the program-wide objects (one control object per control, the preview picture
// box, the popup menus, the receipt's line table and record, the remembered lists), the window's
// creation handler that binds and fills them, and the handlers of the buttons and the spin control.

#include "app/lists.h"
#include "app/startup.h"
#include "online/http_settings.h"
#include "online/refresh.h"
#include "receipt/layout.h"
#include "receipt/model.h"
#include "receipt/preview.h"
#include "runtime/controls/printer.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/window_controls.h"

#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace vorsa::app {

class LatePrinterList;

// The preview area's rectangle in the window's client pixels.
inline constexpr int preview_left = 180;
inline constexpr int preview_top = 8;
inline constexpr int preview_width = receipt::preview_width;
inline constexpr int preview_height = receipt::preview_height;

// Shows the notice page in a child of `parent` at the preview's rectangle and returns it as a control
// (the first preview hides it), or nullptr when no view could be made.
using NoticeViewFactory = std::function<runtime::Control*(QWidget* parent, const runtime::Text& page)>;

// Makes the refresh's sources for a start with a vendor server: `show_notice` puts a fetched page in the
// window, every request is made with `http` (its time limit and the stop of the window's close box).
// online::make_http_sources is the one over the Qt HTTP client.
using OnlineSourcesFactory = std::function<std::unique_ptr<online::OnlineSources>(
    std::function<void(const runtime::Text& page)> show_notice, const online::HttpSettings& http)>;

// What start-up takes from the outside: the clock, the vendor's server, the printers, the web view.
// The objects given here outlive the window.
struct StartOptions
{
    std::function<LocalDate()> today = local_today;
    // "http://host[:port]"; empty starts offline.
    runtime::Text server_address;
    // What fetches from the server. Without a factory nothing is fetched, as from a server that does not
    // answer: the window then links no HTTP client, which an offline build does without.
    OnlineSourcesFactory online_sources;
    // Names of the installed printers; without a source the printer list stays empty.
    PrinterNameSource printers;
    // The printers asked for on a thread once the window has been painted, not while it is made. The
    // list is in before the first key or mouse input is handled (such input waits for it).
    bool printers_after_first_paint = false;
    // Without a factory the notice page is not shown (the title picture stays).
    NoticeViewFactory notice_view;
    // The printer "开始打印" prints on; without one the print button does nothing.
    runtime::PrintDevice* printer = nullptr;
    // The start waits for the vendor's server at most this long in all, counted from the window shown.
    std::chrono::milliseconds online_time_limit = online::refresh_time_limit;
    // A request to the server that moves no byte for this long is given up.
    std::chrono::milliseconds online_inactivity_timeout = online::HttpSettings{}.inactivity_timeout;
};

// The window's controls, one object each, named as the program calls them.
struct WindowControls
{
    runtime::QtEditBox product_edit;
    runtime::QtEditBox size_edit;
    runtime::QtEditBox price_edit;
    runtime::QtEditBox quantity_edit;
    runtime::QtDropDownList shop_box;
    runtime::QtEditBox date_edit;
    runtime::QtEditBox clerk_edit;
    runtime::QtEditBox address_edit;
    runtime::QtSpinControl quantity_spin;
    runtime::QtDropDownList brand_box;
    runtime::QtDropDownList printer_box;
    runtime::QtPushButton add_preview_button;
    runtime::QtPushButton print_button;
    runtime::QtPushButton clear_button;
    runtime::QtPushButton remove_shop_button;
    runtime::QtPushButton settings_button;
    runtime::QtPushButton history_button;
    runtime::QtPopupMenu brand_menu;
    runtime::QtPopupMenu history_menu;
};

// Fills a dialog with the window's form: its 28 controls, size, title and template font.
void main_window_form(QDialog& dialog);

// The window's icon: the program's artwork at 16, 32 and 48 pixels.
QIcon program_icon();

// The built-in title picture (a 340 x 400 JPEG) shown in the preview area until the first preview.
runtime::Bytes title_picture();

class MainWindow : public receipt::PreviewContext
{
public:
    // Needs a QApplication. Every object starts empty; the window binds them when it is created.
    MainWindow(std::string settings_path, StartOptions options);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The window's creation handler: keeps the window, sets the icon, binds the controls, wires the
    // spin control, writes the date, wires the handlers, shows the title picture in the preview area,
    // runs the online refresh and fills the lists from the settings file. With a vendor server that
    // does not answer at once the window is shown while it waits and kept disabled, under a busy
    // cursor, until the lists are filled; the refresh ends within StartOptions::online_time_limit.
    // Closing the window meanwhile ends the start at once: the transfers are aborted and nothing more
    // is read, built or written.
    void on_window_created(runtime::MainDialog& window);

    // "添加预览": stores the typed line (nothing without product or size, a message when the table is
    // full), adds it to the history and rebuilds the preview.
    void add_line();
    // "清除": empties the line table and rebuilds the preview.
    void clear_lines();

    WindowControls& controls() { return m_controls; }
    runtime::MainDialog* window() const { return m_window; }
    Lists& lists() { return m_lists; }
    const std::string& settings_path() const { return m_settings_path; }

    // The preview build's view of the window.
    runtime::DrawingSurface& board() override;
    void set_board_visible(bool shown) override;
    bool web_view_visible() const override;
    void set_web_view_visible(bool shown) override;
    receipt::ReceiptFields receipt_fields() const override;
    const std::vector<runtime::Bytes>& ticked_logos() const override { return m_lists.ticked_logos(); }
    const receipt::ReceiptLines& receipt_lines() const override { return m_lines; }
    receipt::ReceiptData& receipt_data() override { return m_record; }

    runtime::DrawingBoard& preview_board() { return *m_board; }

private:
    void bind_controls(runtime::MainDialog& window);
    void show_title_picture(runtime::MainDialog& window);
    void run_online_refresh(runtime::MainDialog& window, online::OnlineBrands& brands,
                            const online::HttpSettings& http, runtime::SettingChanges& changes);

    std::string m_settings_path;
    StartOptions m_options;
    WindowControls m_controls;
    // The board becomes a child of the window, which deletes it; the pointer notices.
    QPointer<runtime::DrawingBoard> m_board;
    runtime::Control* m_notice_view = nullptr;
    QPointer<runtime::MainDialog> m_window;
    std::unique_ptr<LatePrinterList> m_late_printers;
    Lists m_lists;
    receipt::ReceiptLines m_lines;
    receipt::ReceiptData m_record;
};

// The program: the settings file in the current directory, marked hidden, then the main window until
// it is closed. Returns 0. Needs a QApplication with the Qt platform and interaction installed.
int start_program(const StartOptions& options);

} // namespace vorsa::app
