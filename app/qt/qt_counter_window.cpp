#include "app/qt/qt_counter_window.h"

#include "app/control_ids.h"
#include "online/qt/local_sources.h"
#include "ui_main_window.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QTimer>
#include <mutex>
#include <utility>

// The resource file lives in a static library and is linked in only when registered; Qt's macro must
// be used outside any namespace.
static void register_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace vorsa::app {

namespace {

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

// The counter's options with the program's own pictures and, for a start that fetches nothing, sources
// that convert the pictures with Qt.
CounterOptions counter_options(StartOptions options)
{
    CounterOptions counter = static_cast<CounterOptions&&>(options);
    if (!counter.online_sources) {
        counter.online_sources =
            [](std::function<void(const runtime::Text&)> show_notice,
               const online::HttpSettings& http) -> std::unique_ptr<online::OnlineSources> {
            return std::make_unique<online::QtLocalSources>(std::move(show_notice), http);
        };
    }
    if (counter.builtin_logos.empty()) counter.builtin_logos = online::builtin_logos();
    if (counter.title_picture.empty()) counter.title_picture = title_picture();
    return counter;
}

} // namespace

// Watches the application's events for the window's first paint and the first key or mouse input.
class QtCounterWindow::FirstEvents : public QObject
{
public:
    explicit FirstEvents(QWidget* window) : m_window(window) {}

    void watch_paint(std::function<void()> painted)
    {
        m_painted = std::move(painted);
        update_filter();
    }
    void watch_input(std::function<void()> input)
    {
        m_input = std::move(input);
        update_filter();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_painted && watched == m_window && event->type() == QEvent::Paint) {
            QTimer::singleShot(0, this, std::exchange(m_painted, {}));
        } else if (m_input && is_input(event->type())) {
            std::exchange(m_input, {})();
        }
        update_filter();
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

    // Filters the application's events only while something is watched for.
    void update_filter()
    {
        const bool watching = m_painted || m_input;
        if (watching == m_installed) return;
        m_installed = watching;
        if (watching) {
            qApp->installEventFilter(this);
        } else {
            qApp->removeEventFilter(this);
        }
    }

    QPointer<QWidget> m_window;
    std::function<void()> m_painted;
    std::function<void()> m_input;
    bool m_installed = false;
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

QtCounterWindow::QtCounterWindow(std::string settings_path, StartOptions options)
    : m_notice_view(options.notice_view), m_context(std::make_unique<QObject>()),
      m_counter(m_controls.counter_controls(), *this, std::move(settings_path),
                counter_options(std::move(options)))
{
}

QtCounterWindow::~QtCounterWindow()
{
    if (m_busy) QGuiApplication::restoreOverrideCursor();
}

void QtCounterWindow::on_window_created(runtime::MainDialog& window)
{
    // The menus appear over this window and report their choice to it.
    m_window = &window;
    m_controls.brand_menu.set_owner(&window);
    m_controls.history_menu.set_owner(&window);

    window.set_window_icon(program_icon());
    bind_controls(window);
    QObject::connect(&window, &QDialog::finished, m_context.get(), [this] {
        if (m_close) m_close();
    });
    m_first_events = std::make_unique<FirstEvents>(&window);
    m_counter.start();
}

void QtCounterWindow::bind_controls(runtime::MainDialog& window)
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

runtime::DrawingSurface& QtCounterWindow::make_preview_board()
{
    if (!m_board) m_board = new runtime::DrawingBoard;
    m_board->create_board(m_window, preview_left, preview_top, preview_width, preview_height);
    // Screen readers call the preview by this and read the receipt's text as its description.
    m_board->setAccessibleName(QStringLiteral("小票预览"));
    m_board->set_auto_redraw(true);
    return *m_board;
}

void QtCounterWindow::set_preview_board_visible(bool shown)
{
    if (m_board) m_board->set_visible(shown);
}

runtime::Control* QtCounterWindow::make_notice_view(const runtime::Text& page)
{
    return m_notice_view ? m_notice_view(m_window, page) : nullptr;
}

void QtCounterWindow::on_menu_command(std::function<void(int)> handler)
{
    if (m_window) m_window->on_menu_command_event(std::move(handler));
}

void QtCounterWindow::show_window()
{
    if (m_window) m_window->show();
}

void QtCounterWindow::set_window_enabled(bool enabled)
{
    if (m_window) m_window->setEnabled(enabled);
}

void QtCounterWindow::set_busy_cursor(bool busy)
{
    if (busy == m_busy) return;
    m_busy = busy;
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}

int QtCounterWindow::start_timer(std::chrono::milliseconds delay, std::function<void()> due)
{
    const int number = ++m_next_timer;
    auto* timer = new QTimer(m_context.get());
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [this, number, timer, due = std::move(due)] {
        m_timers.erase(number);
        timer->deleteLater();
        due();
    });
    m_timers[number] = timer;
    timer->start(delay);
    return number;
}

void QtCounterWindow::stop_timer(int timer)
{
    const auto found = m_timers.find(timer);
    if (found == m_timers.end()) return;
    delete found->second;
    m_timers.erase(found);
}

void QtCounterWindow::on_close(std::function<void()> handler)
{
    m_close = std::move(handler);
}

void QtCounterWindow::on_first_paint(std::function<void()> painted)
{
    // A window that waited for the vendor's server has been painted already.
    if (m_window && m_window->isVisible()) {
        QTimer::singleShot(0, m_context.get(), std::move(painted));
    } else if (m_first_events) {
        m_first_events->watch_paint(std::move(painted));
    }
}

void QtCounterWindow::on_first_input(std::function<void()> input)
{
    if (m_first_events) m_first_events->watch_input(std::move(input));
}

void QtCounterWindow::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_context.get(), std::move(work), Qt::QueuedConnection);
}

int start_program(const StartOptions& options)
{
    QtCounterWindow counter_window(prepare_settings_file(), options);
    runtime::run_main_dialog(main_window_form, [&counter_window](runtime::MainDialog& window) {
        counter_window.on_window_created(window);
    });
    return 0;
}

} // namespace vorsa::app
