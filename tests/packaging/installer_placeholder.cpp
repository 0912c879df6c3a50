// Stands in for the Windows program in the installer's test until that program is built: it shows the
// main window's template 1000 as the program does, and the shop's "X" button (1031) does what the
// program's does first in an empty folder: it writes "dm" to dy.cfg in the working folder (in GBK with
// CR LF). An existing dy.cfg is left as it is. The close box ends it.

// clang-format off
#include <windows.h>
#include <commctrl.h> // needs <windows.h> first
// clang-format on

namespace {

constexpr int remove_shop_button = 1031;

bool write_settings()
{
    const HANDLE file =
        CreateFileW(L"dy.cfg", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
    const char content[] = "[print]\r\ndm=0\r\n";
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, content, sizeof content - 1, &written, nullptr);
    CloseHandle(file);
    return wrote && written == sizeof content - 1;
}

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == remove_shop_button && HIWORD(wparam) == BN_CLICKED) write_settings();
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
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&classes);
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(1000), nullptr, dialog_procedure, 0) == -1 ? 1 : 0;
}
