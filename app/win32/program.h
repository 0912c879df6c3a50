#pragma once
// The whole Windows program as wWinMain runs it: the platform services, the printer, the vendor's
// server, then the main window until it is closed. Kept out of wWinMain so that tests start exactly the
// same program with a server of their own.

#include "app/win32/win32_counter_window.h"
#include "runtime/win32/printer.h"

namespace vorsa::app {

// Installs the program's services for the core's hooks: faults, message boxes, the mouse pointer and
// pending messages through the window system, pictures through WIC, fonts at the screen's resolution,
// and the message for memory running out. Call once, on the window's thread, before the window.
void install_win32_program_platform();

// The options the program starts with: the vendor's server it was built with (none: offline), its
// HTTP client and picture conversion, the spooler's printers (listed once the window has been painted),
// and `printer` for "开始打印".
StartOptions program_options(runtime::Printer& printer);

// The program: installs the platform, then start_program with program_options. Returns the exit code.
int program_main();

} // namespace vorsa::app
