#pragma once
// Interaction commands: message box, mouse position and dispatching queued window events. The window
// installs the real implementation; without one, messages go to standard error and nothing waits, so
// the core runs and tests without a display.

#include "runtime/text/text.h"

namespace vorsa::runtime {

// Message-box styles of the platform that the program uses.
inline constexpr int mb_ok = 0x0;
inline constexpr int mb_icon_error = 0x10;
inline constexpr int mb_icon_information = 0x40;

class Interaction
{
public:
    virtual ~Interaction() = default;
    // Modal box with no owner; returns the pressed button's platform code minus 1 (OK gives 0).
    virtual int message_box(const Text& content, int style, const Text& title) = 0;
    virtual int cursor_x() = 0;
    virtual int cursor_y() = 0;
    virtual void process_pending_events() = 0;
};

// Installs the implementation; nullptr restores the console fallback. The caller keeps ownership.
void set_interaction(Interaction* interaction);
// The installed implementation; nullptr for the console fallback.
Interaction* installed_interaction();

// Title defaults to "信息".
int message_box(const Text& content, int style = mb_ok);
int message_box(const Text& content, int style, const Text& title);
// Screen coordinates of the mouse cursor; 0 when unavailable.
int cursor_x();
int cursor_y();
// Dispatches every event already queued for the thread, then returns.
void process_pending_events();

} // namespace vorsa::runtime
