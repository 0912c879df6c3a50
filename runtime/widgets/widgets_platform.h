#pragma once
// The hooks of the Qt widgets beside the core's: what runs popup menus and what answers message
// boxes. A test that replaces any hook, the core's or these, holds a WidgetsPlatformGuard, which puts
// back all of them when the test ends.

#include "runtime/platform/platform.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/qt_interaction.h"

namespace vorsa::runtime {

class WidgetsPlatformGuard : public PlatformGuard
{
public:
    WidgetsPlatformGuard() : m_chooser(menu_chooser()), m_answerer(message_box_answerer()) {}
    ~WidgetsPlatformGuard()
    {
        set_menu_chooser(m_chooser);
        set_message_box_answerer(m_answerer);
    }

private:
    MenuChooser m_chooser;
    MessageBoxAnswerer m_answerer;
};

} // namespace vorsa::runtime
