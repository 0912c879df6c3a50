#include "runtime/win32/win32_interaction.h"

#include "runtime/text/fatal.h"
#include "runtime/text/gbk.h"

#include <windows.h>

namespace vorsa::runtime {

namespace {

std::u16string utf16(const Text& text)
{
    return utf16_from_gbk(text);
}

const wchar_t* wide(const std::u16string& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The top-level dialog that a message is for, or nullptr: its keys go through the dialog manager
// (Tab, Enter, Esc), as in the dialog's own loop.
HWND dialog_of(HWND window)
{
    if (!window) return nullptr;
    HWND top = GetAncestor(window, GA_ROOT);
    wchar_t name[16] = {};
    return top && GetClassNameW(top, name, 16) > 0 && lstrcmpW(name, L"#32770") == 0 ? top : nullptr;
}

} // namespace

int Win32Interaction::message_box(const Text& content, int style, const Text& title)
{
    const std::u16string text = utf16(content);
    const std::u16string caption = utf16(title);
    const int pressed =
        MessageBoxW(nullptr, wide(text), wide(caption), static_cast<UINT>(style) | MB_TASKMODAL);
    return pressed - 1;
}

int Win32Interaction::cursor_x()
{
    POINT pointer{};
    return GetCursorPos(&pointer) ? pointer.x : 0;
}

int Win32Interaction::cursor_y()
{
    POINT pointer{};
    return GetCursorPos(&pointer) ? pointer.y : 0;
}

void Win32Interaction::process_pending_events()
{
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        HWND dialog = dialog_of(message.hwnd);
        if (dialog && IsDialogMessageW(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void show_fault_message_box(const Text& title, const Text& message)
{
    const std::u16string text = utf16(message);
    const std::u16string caption = utf16(title);
    MessageBoxW(nullptr, wide(text), wide(caption), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void install_win32_interaction()
{
    static Win32Interaction interaction;
    set_interaction(&interaction);
    set_fatal_handler(show_fault_message_box);
}

} // namespace vorsa::runtime
