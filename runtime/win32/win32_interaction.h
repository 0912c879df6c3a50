#pragma once
// The interaction commands over Win32: message boxes, the mouse position, dispatching the queued window
// messages; and the fault report as a message box.

#include "runtime/controls/interaction.h"

namespace vorsa::runtime {

class Win32Interaction : public Interaction
{
public:
    // MessageBoxW without owner; all the thread's windows are disabled while it shows (task modal), so no
    // button of the main window runs meanwhile. Returns the pressed button's code minus 1 (OK 0, Cancel 1,
    // ..., No 6), or -1 when the box could not be shown.
    int message_box(const Text& content, int style, const Text& title) override;
    // Screen coordinates of the mouse pointer (GetCursorPos); 0 when unavailable.
    int cursor_x() override;
    int cursor_y() override;
    // Dispatches every message already queued for the thread, with the dialog manager's keyboard handling
    // for dialogs; a WM_QUIT found is put back for the loop that waits for it.
    void process_pending_events() override;
};

// The fault report: a task-modal message box with the title, the message, an error icon and OK.
void show_fault_message_box(const Text& title, const Text& message);

// Installs a Win32Interaction for the interaction commands and show_fault_message_box as the fault
// handler. The interaction object lives as long as the program.
void install_win32_interaction();

} // namespace vorsa::runtime
