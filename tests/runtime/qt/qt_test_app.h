#pragma once
// The application that Qt tests draw in: the offscreen platform (no display needed, fixed 96 dpi) and
// the program's Qt services installed, made once per test binary.

#include "runtime/qt/qt_platform.h"

#include <QApplication>
#include <QByteArray>

namespace vorsa::runtime::testing {

inline QApplication& test_application()
{
    static int argc = 1;
    static char name[] = "vorsa-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* made = new QApplication(argc, argv);
        install_qt_platform();
        return made;
    }();
    return *application;
}

} // namespace vorsa::runtime::testing
