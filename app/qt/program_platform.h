#pragma once
// Every process-wide hook of the program in one object: the core's (fault handler, picture decoder,
// screen resolution, interaction, random generator), the Qt widgets' (popup menus, message box
// answers), the spooler's (time limit, client library) and the receipt numbers' state. The program
// installs its Qt services at start with install_qt_program_platform; a test of the window or of
// printing that replaces any hook holds a ProgramPlatformGuard, which puts back all of them when the
// test ends. (Parts below the program have guards of their own for their share: PlatformGuard,
// WidgetsPlatformGuard, ReceiptPlatformGuard.)
//
// Header only: everything that includes it links the printer part too (vorsa::program does).

#include "receipt/receipt_platform.h"
#include "runtime/platform/platform.h"
#include "runtime/print/printer.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/qt_interaction.h"

namespace vorsa::app {

struct ProgramPlatform
{
    runtime::Platform core;
    runtime::MenuChooser menu_chooser;                // empty: the menu runs modally
    runtime::MessageBoxAnswerer message_box_answerer; // empty: the box runs modally
    runtime::SpoolerHooks spooler;
    receipt::ReceiptState receipt;
};

// The hooks installed now.
inline ProgramPlatform current_program_platform()
{
    return {runtime::current_platform(), runtime::menu_chooser(), runtime::message_box_answerer(),
            runtime::current_spooler_hooks(), receipt::current_receipt_state()};
}

// Installs every hook of `platform` at once.
inline void install_program_platform(const ProgramPlatform& platform)
{
    runtime::install_platform(platform.core);
    runtime::set_menu_chooser(platform.menu_chooser);
    runtime::set_message_box_answerer(platform.message_box_answerer);
    runtime::install_spooler_hooks(platform.spooler);
    receipt::install_receipt_state(platform.receipt);
}

// The program's Qt services for the hooks that have them: Qt's picture decoder, the "宋体" face mapped
// to an installed one, message boxes, the cursor and the event loop through Qt, and faults shown in a
// message box. The other hooks keep what they have (the screen's resolution none: fonts are made at
// 96 dpi, see runtime/qt/qt_platform.h). Needs a QApplication; call it once after making the
// application.
inline void install_qt_program_platform()
{
    runtime::install_qt_platform();
    runtime::install_qt_interaction();
}

// Remembers every hook installed when it is made and installs them again when it ends, whatever was
// installed meanwhile.
class ProgramPlatformGuard
{
public:
    ProgramPlatformGuard() : m_saved(current_program_platform()) {}
    ~ProgramPlatformGuard() { install_program_platform(m_saved); }
    ProgramPlatformGuard(const ProgramPlatformGuard&) = delete;
    ProgramPlatformGuard& operator=(const ProgramPlatformGuard&) = delete;

private:
    ProgramPlatform m_saved;
};

} // namespace vorsa::app
