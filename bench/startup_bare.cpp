// The baseline of the start-up benchmark: a bare Qt Widgets program that shows one empty dialog of the
// main window's size.

#include "bench/startup_probe.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    vorsa::bench::install_idle_probe(application);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("bare"));
    dialog.setFixedSize(532, 415);
    return dialog.exec();
}
