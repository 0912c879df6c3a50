// The baseline of the Windows start-up benchmark: the barest Win32 program that shows the main window's
// dialog template 1000 (with the program's icon and manifest, linked from the same resource object) as a
// modal dialog and nothing else. No settings file, no printer list, no title picture, no handlers: what
// any program showing this window pays to Windows. The close box ends it.

// clang-format off
#include <windows.h>
#include <commctrl.h> // needs <windows.h> first
// clang-format on

namespace {

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The template holds an up-down control, whose class the common controls register.
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&classes);
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(1000), nullptr, dialog_procedure, 0);
    return result == -1 ? 1 : 0;
}
