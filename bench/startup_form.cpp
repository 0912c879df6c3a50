// The anchor of the start-up benchmark: the least a Qt Widgets program has to do to show this window as
// the program shows it at start, and nothing else. The window's form (resources/main_window.ui) with its
// texts, in the template font with "宋体" drawn in the same Song face, the edit boxes, lists and buttons
// in the default GUI font on a white ground, and the title picture in the preview area. No settings
// file, no spooler, no network, no brand logos.

#include "bench/startup_probe.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/widgets/control_widgets.h"
#include "runtime/widgets/window_controls.h"
#include "ui_main_window.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

int main(int argc, char* argv[])
{
    Q_INIT_RESOURCE(resources);
    QApplication application(argc, argv);
    vorsa::bench::install_idle_probe(application);
    const QString song = vorsa::runtime::song_face_family();
    if (!song.isEmpty()) QFont::insertSubstitution(QStringLiteral("宋体"), song);

    QDialog dialog;
    Ui::MainWindowForm form;
    form.setupUi(&dialog);
    dialog.setFont(vorsa::runtime::at_template_resolution(dialog.font()));
    dialog.setFixedSize(dialog.size());
    const QFont gui_font =
        vorsa::runtime::at_template_resolution(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    for (QWidget* control : dialog.findChildren<QWidget*>()) {
        auto* box = qobject_cast<QComboBox*>(control);
        if (!box && !qobject_cast<QLineEdit*>(control) && !qobject_cast<QPlainTextEdit*>(control) &&
            !qobject_cast<QPushButton*>(control))
            continue;
        control->setFont(gui_font);
        if (qobject_cast<QPushButton*>(control)) continue;
        QPalette palette = control->palette();
        palette.setColor(QPalette::Base, Qt::white);
        if (box && !box->isEditable()) palette.setColor(QPalette::Button, Qt::white);
        control->setPalette(palette);
    }

    auto* title = new QLabel(&dialog);
    title->setGeometry(180, 8, 340, 400);
    title->setPixmap(QPixmap(QStringLiteral(":/title.jpg")));
    return dialog.exec();
}
