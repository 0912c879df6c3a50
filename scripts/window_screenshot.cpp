// Takes the README's picture of the window: runs the program's own entry (program_main, exactly what
// main() runs: the settings file of the current directory, the installed printers, the real form and
// handlers), and once the window shows, types product lines into its boxes as the keyboard would,
// clicks "添加预览" with the mouse, and saves what the X server shows of the window. Run by
// scripts/screenshots.sh under Xvfb; the picture's path is the only argument.

#include "app/qt/program.h"
#include "runtime/widgets/window_controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <cstdio>

namespace {

QString picture_path;
int exit_code = 1;

void wait(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// Empties the box and types the text into it one character at a time.
void retype(QWidget* box, const QString& text)
{
    if (auto* line = qobject_cast<QLineEdit*>(box)) line->clear();
    if (auto* lines = qobject_cast<QPlainTextEdit*>(box)) lines->clear();
    box->setFocus();
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(box, &press);
        QApplication::sendEvent(box, &release);
    }
}

void click(QWidget* button)
{
    const QPointF centre = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(button, &press);
    QApplication::sendEvent(button, &release);
}

void take_picture(vorsa::runtime::MainDialog& window)
{
    struct Line
    {
        const char* product;
        const char* size;
        const char* price;
        const char* quantity;
    };
    const Line lines[] = {
        {"跑步鞋", "42", "399", "1"}, {"运动T恤", "L", "129", "2"}, {"运动袜", "均码", "29", "3"}};
    const auto box = [&window](const char* name) {
        return window.findChild<QWidget*>(QString::fromLatin1(name));
    };
    for (const Line& line : lines) {
        retype(box("product_edit"), QString::fromUtf8(line.product));
        retype(box("size_edit"), QString::fromUtf8(line.size));
        retype(box("price_edit"), QString::fromUtf8(line.price));
        retype(box("quantity_edit"), QString::fromUtf8(line.quantity));
        click(box("add_preview_button"));
        wait(150);
    }
    box("product_edit")->setFocus();
    wait(500);

    // What the X server shows at the window's place, not a rendering of the widgets.
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (shot.save(picture_path, "png")) exit_code = 0;
    window.close();
}

void on_application_made(QApplication& application)
{
    auto* poll = new QTimer(&application);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<vorsa::runtime::MainDialog*>(widget);
            if (!window || !window->isVisible() || !window->windowHandle() ||
                !window->windowHandle()->isExposed())
                continue;
            poll->stop();
            wait(300);
            take_picture(*window);
            return;
        }
    });
    poll->start(50);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <picture.png>\n", argv[0]);
        return 2;
    }
    picture_path = QString::fromLocal8Bit(argv[1]);
    int program_argc = 1;
    vorsa::app::program_main(program_argc, argv, on_application_made);
    if (exit_code != 0) std::fprintf(stderr, "%s: no picture saved\n", argv[0]);
    return exit_code;
}
