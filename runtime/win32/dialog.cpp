#include "runtime/win32/dialog.h"

namespace vorsa::runtime {

namespace {

// Command notification codes of menus and accelerators.
constexpr WORD code_menu = 0;
constexpr WORD code_accelerator = 1;

} // namespace

Win32MainDialog::~Win32MainDialog()
{
    // Only an object that goes while its dialog still runs gets here with a window: the window no longer
    // calls the object, and goes with it.
    if (!m_window) return;
    SetWindowLongPtrW(m_window, DWLP_USER, 0);
    DestroyWindow(m_window);
}

INT_PTR Win32MainDialog::run(HINSTANCE instance, int template_id, CreatedHandler created)
{
    if (m_window) return -1;
    m_created = std::move(created);
    if (!instance) instance = GetModuleHandleW(nullptr);
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(template_id), nullptr, procedure,
                                           reinterpret_cast<LPARAM>(this));
    m_created = nullptr;
    return result;
}

bool Win32MainDialog::set_window_icon(HICON icon)
{
    if (!m_window) return false;
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    return true;
}

HICON Win32MainDialog::window_icon() const
{
    if (!m_window) return nullptr;
    return reinterpret_cast<HICON>(SendMessageW(m_window, WM_GETICON, ICON_BIG, 0));
}

INT_PTR CALLBACK Win32MainDialog::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Win32MainDialog*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        dialog->m_window = window;
        if (dialog->m_created) dialog->m_created(window);
        // Handlers that lay out by the window's size get it once the window is made, whatever the window
        // system sent while making it.
        RECT client{};
        GetClientRect(window, &client);
        SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
        // The focus goes to the first control with a tab stop.
        return TRUE;
    }
    auto* dialog = reinterpret_cast<Win32MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    switch (message) {
    case WM_COMMAND: {
        // Commands of the controls reach their objects before the dialog (win32_controls.h); what is left
        // from no control is a menu's or an accelerator's: a popup menu's choice, Enter (IDOK) or Esc
        // (IDCANCEL). None of them ends the dialog.
        const WORD code = HIWORD(wparam);
        if (lparam == 0 && (code == code_menu || code == code_accelerator) && dialog->m_menu_command)
            dialog->m_menu_command(LOWORD(wparam));
        return TRUE;
    }
    case WM_CLOSE:
        // The close box, the system menu's Close and Alt+F4: no close handler, the dialog ends at once.
        EndDialog(window, 0);
        return TRUE;
    case WM_NCDESTROY:
        dialog->m_window = nullptr;
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

HICON load_big_icon(HINSTANCE instance, int icon_id)
{
    if (!instance) instance = GetModuleHandleW(nullptr);
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(icon_id), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                         LR_SHARED));
}

} // namespace vorsa::runtime
