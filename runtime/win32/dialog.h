#pragma once
// The main window over Win32: a modal dialog made from a dialog template of the program's resources.
// It has no owner and ends only through its close box (or the system menu's Close, or Alt+F4): the
// commands that Enter and Esc produce (IDOK 1, IDCANCEL 2, from no control) reach the menu-command
// handler like a popup menu's choice, and the program ignores them.

#include <functional>
#include <windows.h>

namespace vorsa::runtime {

// Identifiers of the main window's template and icon in the program's resources.
inline constexpr int main_dialog_template = 1000;
inline constexpr int program_icon_resource = 129;

// The commands that the dialog manager makes of Enter and Esc.
inline constexpr int command_enter = IDOK;
inline constexpr int command_escape = IDCANCEL;

class Win32MainDialog
{
public:
    // Called once with the new window while the window system initialises it (WM_INITDIALOG), before it
    // is first shown; right after it the window receives its size (WM_SIZE).
    using CreatedHandler = std::function<void(HWND window)>;

    Win32MainDialog() = default;
    ~Win32MainDialog();
    Win32MainDialog(const Win32MainDialog&) = delete;
    Win32MainDialog& operator=(const Win32MainDialog&) = delete;

    // Makes the window from template `template_id` of `instance` (nullptr: the program's own) and runs
    // it modally until it is closed. Returns 0 after the close box, -1 when the window could not be made.
    INT_PTR run(HINSTANCE instance, int template_id, CreatedHandler created);

    // Registers the handler of menu commands: every WM_COMMAND from no control with notification code 0
    // (menu) or 1 (accelerator) calls it with the command identifier (the low 16 bits of wParam).
    void on_menu_command_event(std::function<void(int command_id)> handler)
    {
        m_menu_command = std::move(handler);
    }

    // The window while it exists, else nullptr.
    HWND window() const { return m_window; }

    // The window's big icon (WM_SETICON / WM_GETICON with ICON_BIG). The caller keeps the icon.
    bool set_window_icon(HICON icon);
    HICON window_icon() const;

private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND m_window = nullptr;
    CreatedHandler m_created;
    std::function<void(int)> m_menu_command;
};

// Loads icon resource `icon_id` of `instance` (nullptr: the program's own module) at the size the system
// uses for big icons (SM_CXICON), or nullptr. The icon is shared: the system releases it with the module,
// and it is never destroyed.
HICON load_big_icon(HINSTANCE instance, int icon_id);

} // namespace vorsa::runtime
