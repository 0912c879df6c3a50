#pragma once
// The whole program as main() runs it: the Qt application with the platform services, message boxes,
// the printer and the web view, then the main window until it is closed. Kept out of main() so that
// the start-up benchmark runs exactly the same code.
//
// A program built without a vendor server (VORSA_VENDOR_SERVER empty) can never fetch a notice page,
// so it is built without the web view. One built with a server loads the web view's module only when a
// notice page has arrived (runtime/web/notice_view_module.h): mapping the web engine's libraries costs
// about 20 ms and 25 MB, which a start whose server does not answer need not pay.

#include <QApplication>
#include <functional>

namespace vorsa::app {

// Returns the program's exit code (0). `application_made` runs once the application exists, before
// anything else is set up.
int program_main(int argc, char* argv[], const std::function<void(QApplication&)>& application_made = {});

} // namespace vorsa::app
