#include "app/qt/main_window.h"

#include "app/control_ids.h"
#include "app/printing.h"
#include "app/quantity.h"
#include "online/qt/local_sources.h"
#include "runtime/controls/interaction.h"
#include "runtime/qt/drawing_board.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "ui_main_window.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QTimer>
#include <future>
#include <mutex>

// The resource file lives in a static library and is linked in only when registered; Qt's macro must
// be used outside any namespace.
static void register_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace vorsa::app {

namespace {

// How long an online start may keep the window unseen: past this the window is shown while it waits.
constexpr std::chrono::milliseconds show_waiting_after{100};

void ensure_resources()
{
    static std::once_flag registered;
    std::call_once(registered, register_resources);
}

runtime::Bytes resource_bytes(const QString& name)
{
    ensure_resources();
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    return runtime::Bytes(data.begin(), data.end());
}

} // namespace

// The printer list asked for once the window has been painted. Listing the spooler's queues loads
// libcups with its TLS, Kerberos and Avahi libraries, which would otherwise compete with making and
// painting the window. The list is filled in when the answer arrives, or earlier, at the first key or
// mouse input, which then waits for it: the user never acts on a window whose printer list is missing.
class LatePrinterList : public QObject
{
public:
    LatePrinterList(QWidget& window, PrinterNameSource source, std::function<void(const TextList&)> fill)
        : m_window(&window), m_source(std::move(source)), m_fill(std::move(fill))
    {
        qApp->installEventFilter(this);
        // A window that waited for the vendor's server has been painted already.
        if (window.isVisible()) QTimer::singleShot(0, this, [this] { start(); });
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_filled) return false;
        if (watched == m_window && event->type() == QEvent::Paint && !m_listing.valid())
            QTimer::singleShot(0, this, [this] { start(); });
        else if (is_input(event->type()))
            fill_now();
        return false;
    }

private:
    static bool is_input(QEvent::Type type)
    {
        switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
            return true;
        default:
            return false;
        }
    }

    void start()
    {
        if (m_listing.valid()) return;
        m_listing = std::async(std::launch::async, [this, source = m_source] {
            TextList names;
            if (source) source(names);
            QMetaObject::invokeMethod(
                this, [this] { fill_now(); }, Qt::QueuedConnection);
            return names;
        });
    }

    void fill_now()
    {
        if (m_filled) return;
        m_filled = true;
        qApp->removeEventFilter(this);
        start();
        m_fill(m_listing.get());
    }

    QPointer<QWidget> m_window;
    PrinterNameSource m_source;
    std::function<void(const TextList&)> m_fill;
    bool m_filled = false;
    // Last, so that its wait for a running listing ends before the rest goes.
    std::future<TextList> m_listing;
};

void main_window_form(QDialog& dialog)
{
    Ui::MainWindowForm form;
    form.setupUi(&dialog);
}

QIcon program_icon()
{
    ensure_resources();
    // Read as PNG with format detection off: QIcon::addFile, and a reader merely told the format, ask
    // every image plug-in of the system whether it reads the file, which loads them all (TIFF, WebP,
    // SVG, MNG, ... with their libraries) at every start.
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QImageReader reader(QStringLiteral(":/icons/vorsa-receipt-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        if (const QImage image = reader.read(); !image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

runtime::Bytes title_picture()
{
    return resource_bytes(QStringLiteral(":/title.jpg"));
}

MainWindow::MainWindow(std::string settings_path, StartOptions options)
    : m_settings_path(std::move(settings_path)), m_options(std::move(options)),
      m_board(new runtime::DrawingBoard),
      m_lists(ListControls{m_controls.brand_box, m_controls.shop_box, m_controls.printer_box,
                           m_controls.product_edit, m_controls.size_edit, m_controls.price_edit,
                           m_controls.clerk_edit, m_controls.address_edit, m_controls.brand_menu,
                           m_controls.history_menu},
              m_settings_path)
{
}

// The board and the notice view are children of the window once it exists and go with it; a board
// that never got its window is ours to delete.
MainWindow::~MainWindow()
{
    delete m_board;
}

void MainWindow::on_window_created(runtime::MainDialog& window)
{
    // The menus appear over this window and report their choice to it.
    m_window = &window;
    m_controls.brand_menu.set_owner(&window);
    m_controls.history_menu.set_owner(&window);

    window.set_window_icon(program_icon());
    bind_controls(window);
    m_controls.quantity_spin.on_delta([this](int delta) { step_quantity(m_controls.quantity_edit, delta); });
    m_controls.date_edit.set_control_text(make_date_text(m_options.today()));

    m_controls.print_button.on_click([this] {
        if (m_options.printer) print_receipt(m_lists, *m_options.printer, m_record, m_lines);
    });
    m_controls.add_preview_button.on_click([this] { add_line(); });
    m_controls.clear_button.on_click([this] { clear_lines(); });
    m_controls.remove_shop_button.on_click([this] { m_lists.remove_shop(); });
    m_controls.settings_button.on_click([this] { m_lists.show_brand_menu(); });
    m_controls.history_button.on_click([this] { m_lists.show_history_menu(); });
    m_controls.printer_box.on_selection_changed([this] { m_lists.remember_printer(); });
    window.on_menu_command_event([this](int id) { m_lists.on_menu_command(id); });

    show_title_picture(window);

    // With a vendor server the rest of the start waits for the network, up to the start's time limit
    // counted from here. A server that answers at once keeps nobody waiting, and the window appears
    // once, complete, as in an offline start. One that keeps the start waiting longer gets the window
    // shown with its title picture, its inputs disabled under a busy cursor until the brands and
    // lists are in.
    const bool waits_for_network = !m_options.server_address.empty();
    bool shown_waiting = false;
    QTimer show_waiting;
    if (waits_for_network) {
        show_waiting.setSingleShot(true);
        QObject::connect(&show_waiting, &QTimer::timeout, &window, [&window, &shown_waiting] {
            window.show();
            window.setEnabled(false);
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            shown_waiting = true;
        });
        show_waiting.start(show_waiting_after);
    }

    // The close box meanwhile ends the start: the transfers are aborted, and the rest of the start,
    // which would read the spooler and write the settings file, is left out.
    online::HttpStop stop;
    const QMetaObject::Connection closing =
        QObject::connect(&window, &QDialog::finished, &window, [&stop] { stop.stop(); });
    online::HttpSettings http;
    http.inactivity_timeout = m_options.online_inactivity_timeout;
    http.deadline = std::chrono::steady_clock::now() + m_options.online_time_limit;
    http.stop = &stop;
    online::OnlineBrands brands;
    // What the start saves (the online brands, the history made tidy) goes into one write of the file.
    runtime::SettingChanges start_changes;
    run_online_refresh(window, brands, http, start_changes);
    QObject::disconnect(closing);
    if (stop.stopped()) {
        if (shown_waiting) QGuiApplication::restoreOverrideCursor();
        return;
    }

    const runtime::Text ticked = runtime::read_setting(m_settings_path, section_print, key_ticked_brands);
    if (m_options.printers_after_first_paint) {
        m_lists.load_remembered_values({});
        m_late_printers = std::make_unique<LatePrinterList>(
            window, m_options.printers, [this](const TextList& names) { m_lists.add_printers(names); });
    } else {
        m_lists.load_remembered_values(m_options.printers ? m_options.printers
                                                          : PrinterNameSource([](TextList&) { return 0; }));
    }
    m_lists.rebuild_history_menu({}, start_changes);
    runtime::write_settings(m_settings_path, start_changes);
    m_lists.build_brand_lists(std::move(brands.brand_names), std::move(brands.brand_logos), ticked);

    show_waiting.stop();
    if (shown_waiting) {
        QGuiApplication::restoreOverrideCursor();
        window.setEnabled(true);
    }
}

void MainWindow::bind_controls(runtime::MainDialog& window)
{
    WindowControls& c = m_controls;
    c.product_edit.bind_control(&window, control_id::product_edit);
    c.size_edit.bind_control(&window, control_id::size_edit);
    c.price_edit.bind_control(&window, control_id::price_edit);
    c.quantity_edit.bind_control(&window, control_id::quantity_edit);
    c.shop_box.bind_control(&window, control_id::shop_box);
    c.date_edit.bind_control(&window, control_id::date_edit);
    c.clerk_edit.bind_control(&window, control_id::clerk_edit);
    c.address_edit.bind_control(&window, control_id::address_edit);
    c.quantity_spin.bind_control(&window, control_id::quantity_spin);
    c.brand_box.bind_control(&window, control_id::brand_box);
    c.printer_box.bind_control(&window, control_id::printer_box);
    c.add_preview_button.bind_control(&window, control_id::add_preview_button);
    c.print_button.bind_control(&window, control_id::print_button);
    c.clear_button.bind_control(&window, control_id::clear_button);
    c.remove_shop_button.bind_control(&window, control_id::remove_shop_button);
    c.settings_button.bind_control(&window, control_id::settings_button);
    c.history_button.bind_control(&window, control_id::history_button);
}

void MainWindow::show_title_picture(runtime::MainDialog& window)
{
    m_board->create_board(&window, preview_left, preview_top, preview_width, preview_height);
    // Screen readers call the preview by this and read the receipt's text as its description.
    m_board->setAccessibleName(QStringLiteral("小票预览"));
    m_board->set_auto_redraw(true);
    m_board->set_mapping_mode(runtime::mapping_pixels);
    if (const auto title = runtime::picture_from_bytes(title_picture()))
        m_board->draw_picture(*title, 0, 0, preview_width, preview_height);
}

void MainWindow::run_online_refresh(runtime::MainDialog& window, online::OnlineBrands& brands,
                                    const online::HttpSettings& http, runtime::SettingChanges& changes)
{
    // A fetched notice page takes the preview's place until the first preview.
    auto show_notice = [this, &window](const runtime::Text& page) {
        if (!m_options.notice_view) return;
        m_board->set_visible(false);
        m_notice_view = m_options.notice_view(&window, page);
        if (!m_notice_view) m_board->set_visible(true);
    };
    const std::unique_ptr<online::OnlineSources> sources =
        m_options.online_sources ? m_options.online_sources(show_notice, http)
                                 : std::make_unique<online::QtLocalSources>(show_notice, http);
    brands = online::online_refresh(*sources, m_settings_path, m_options.server_address,
                                    online::builtin_logos(), changes);
}

void MainWindow::add_line()
{
    m_board->set_visible(true);
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

void MainWindow::clear_lines()
{
    m_lines.clear();
    receipt::refresh_preview(*this);
}

runtime::DrawingSurface& MainWindow::board()
{
    return *m_board;
}

void MainWindow::set_board_visible(bool shown)
{
    m_board->set_visible(shown);
}

bool MainWindow::web_view_visible() const
{
    return m_notice_view && m_notice_view->is_visible();
}

void MainWindow::set_web_view_visible(bool shown)
{
    if (m_notice_view) m_notice_view->set_visible(shown);
}

receipt::ReceiptFields MainWindow::receipt_fields() const
{
    const WindowControls& c = m_controls;
    return {c.shop_box.get_control_text(),     c.clerk_edit.get_control_text(),
            c.address_edit.get_control_text(), c.date_edit.get_control_text(),
            c.brand_box.get_control_text(),    c.brand_box.get_selection()};
}

int start_program(const StartOptions& options)
{
    const std::string settings_path = current_settings_path();
    mark_hidden(settings_path);
    clear_read_only(settings_path);
    MainWindow program(settings_path, options);
    runtime::run_main_dialog(main_window_form,
                             [&program](runtime::MainDialog& window) { program.on_window_created(window); });
    return 0;
}

} // namespace vorsa::app
