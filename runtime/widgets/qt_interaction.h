#pragma once
// The interaction commands over Qt: message boxes without owner, the cursor position, dispatching the
// queued events; and the fault report as a message box. Tests answer message boxes through a
// replaceable answerer instead of a user.

#include "runtime/controls/interaction.h"

#include <QMessageBox>
#include <functional>

namespace vorsa::runtime {

// Shows a prepared message box and returns the button that closed it. The default runs the box
// modally; tests install one that reads the box and presses a button.
using MessageBoxAnswerer = std::function<QMessageBox::StandardButton(QMessageBox& box)>;

// Installs an answerer; an empty one restores the default.
void set_message_box_answerer(MessageBoxAnswerer answerer);
MessageBoxAnswerer message_box_answerer();

// The platform's message box: `style` selects buttons (low four bits: 0 OK, 1 OK and Cancel, 2 Abort,
// Retry and Ignore, 3 Yes, No and Cancel, 4 Yes and No, 5 Retry and Cancel) and icon (0x10 error,
// 0x20 question, 0x30 warning, 0x40 information). Returns the pressed button's platform code minus 1:
// OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6; closing the box without a button counts as
// Cancel when it has one, else as OK.
int show_message_box(const Text& content, int style, const Text& title);

class QtInteraction : public Interaction
{
public:
    int message_box(const Text& content, int style, const Text& title) override;
    int cursor_x() override;
    int cursor_y() override;
    void process_pending_events() override;
};

// The fault report: a message box with the title, the message, an error icon and OK.
void show_fault_message(const Text& title, const Text& message);

// Installs QtInteraction for the interaction commands and show_fault_message as the fault handler. Needs a
// QApplication; call once after making it.
void install_qt_interaction();

} // namespace vorsa::runtime
