#pragma once
// The whole program as main() runs it: the Qt application with the platform services, message boxes,
// the printer and the web view, then the main window until it is closed. Kept out of main() so that
// the start-up benchmark runs exactly the same code.

#include <QApplication>
#include <functional>

namespace vorsa::app {

// Returns the program's exit code (0). `application_made` runs once the application exists, before
// anything else is set up.
int program_main(int argc, char* argv[], const std::function<void(QApplication&)>& application_made = {});

} // namespace vorsa::app
