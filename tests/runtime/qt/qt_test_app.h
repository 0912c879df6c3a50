#pragma once
// The application that Qt tests draw in: the offscreen platform (no display needed, fixed 96 dpi) and
// the program's Qt services installed. The application is made once per test binary; the services are
// installed again on every call, so a test that finds them put back by a platform guard has them again.

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
        return new QApplication(argc, argv);
    }();
    install_qt_platform();
    return *application;
}

} // namespace vorsa::runtime::testing
