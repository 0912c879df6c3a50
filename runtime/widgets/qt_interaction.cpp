#include "runtime/widgets/qt_interaction.h"

#include "runtime/qt/qt_text.h"
#include "runtime/text/fatal.h"

#include <QApplication>
#include <QCursor>

namespace vorsa::runtime {

namespace {

QMessageBox::StandardButton run_box(QMessageBox& box)
{
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

MessageBoxAnswerer& answerer()
{
    static MessageBoxAnswerer installed = run_box;
    return installed;
}

QMessageBox::StandardButtons buttons_of(int style)
{
    switch (style & 0xF) {
    case 1:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case 2:
        return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case 3:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case 4:
        return QMessageBox::Yes | QMessageBox::No;
    case 5:
        return QMessageBox::Retry | QMessageBox::Cancel;
    default:
        return QMessageBox::Ok;
    }
}

QMessageBox::Icon icon_of(int style)
{
    switch (style & 0xF0) {
    case 0x10:
        return QMessageBox::Critical;
    case 0x20:
        return QMessageBox::Question;
    case 0x30:
        return QMessageBox::Warning;
    case 0x40:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The platform's codes of the buttons: IDOK 1, IDCANCEL 2, IDABORT 3, IDRETRY 4, IDIGNORE 5, IDYES 6,
// IDNO 7.
int platform_code(QMessageBox::StandardButton button, QMessageBox::StandardButtons offered)
{
    switch (button) {
    case QMessageBox::Ok:
        return 1;
    case QMessageBox::Cancel:
        return 2;
    case QMessageBox::Abort:
        return 3;
    case QMessageBox::Retry:
        return 4;
    case QMessageBox::Ignore:
        return 5;
    case QMessageBox::Yes:
        return 6;
    case QMessageBox::No:
        return 7;
    default:
        return offered.testFlag(QMessageBox::Cancel) ? 2 : 1;
    }
}

} // namespace

void set_message_box_answerer(MessageBoxAnswerer replacement)
{
    answerer() = replacement ? std::move(replacement) : MessageBoxAnswerer(run_box);
}

MessageBoxAnswerer message_box_answerer()
{
    return answerer();
}

int show_message_box(const Text& content, int style, const Text& title)
{
    const QMessageBox::StandardButtons offered = buttons_of(style);
    QString text = to_qstring(content);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon_of(style), to_qstring(title), text, offered);
    box.setTextFormat(Qt::PlainText);
    return platform_code(answerer()(box), offered) - 1;
}

void show_fault_message(const Text& title, const Text& message)
{
    // Without an application there is no window system to show a box on; the fault still ends the
    // program.
    if (!QApplication::instance()) return;
    show_message_box(message, mb_ok | mb_icon_error, title);
}

int QtInteraction::message_box(const Text& content, int style, const Text& title)
{
    return show_message_box(content, style, title);
}

int QtInteraction::cursor_x()
{
    return QCursor::pos().x();
}

int QtInteraction::cursor_y()
{
    return QCursor::pos().y();
}

void QtInteraction::process_pending_events()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void install_qt_interaction()
{
    static QtInteraction interaction;
    set_interaction(&interaction);
    set_fatal_handler(show_fault_message);
}

} // namespace vorsa::runtime
