// Opens the real main window, adds two product lines through its controls and saves a picture of the
// window as the screen shows it. Run under a display (for the README: xvfb-run), from an empty
// directory so that no remembered values show:
//   cd "$(mktemp -d)" && xvfb-run -a -s "-screen 0 800x600x24" vorsa_window_screenshot docs/window.png

#include "app/main_window.h"
#include "runtime/gbk.h"
#include "runtime/qt/qt_interaction.h"
#include "runtime/qt/qt_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <cstdio>

namespace {

void wait(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace vorsa;
    using namespace vorsa::runtime::literals;
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <picture.png>\n", argv[0]);
        return 2;
    }
    runtime::install_qt_platform();
    runtime::install_qt_interaction();

    app::StartOptions options;
    options.printers = [](runtime::TextList& names) {
        names = {"Receipt-Printer"_gbk, "PDF"_gbk};
        return 2;
    };
    app::MainWindow program(app::current_settings_path(), options);
    auto window = runtime::create_main_dialog(app::main_window_form, [&program](runtime::MainDialog& dialog) {
        program.on_window_created(dialog);
    });
    window->show();
    wait(500);

    const struct
    {
        const char* product;
        const char* size;
        const char* price;
        const char* quantity;
    } lines[] = {{"跑步鞋", "42", "399", "1"}, {"运动T恤", "L", "129", "2"}};
    app::WindowControls& controls = program.controls();
    for (const auto& line : lines) {
        controls.product_edit.set_control_text(runtime::gbk_from_utf8(line.product));
        controls.size_edit.set_control_text(runtime::gbk_from_utf8(line.size));
        controls.price_edit.set_control_text(runtime::gbk_from_utf8(line.price));
        controls.quantity_edit.set_control_text(runtime::gbk_from_utf8(line.quantity));
        static_cast<QPushButton*>(controls.add_preview_button.widget())->click();
        wait(200);
    }
    wait(500);

    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.save(QString::fromLocal8Bit(argv[1]))) return 1;
    return 0;
}
