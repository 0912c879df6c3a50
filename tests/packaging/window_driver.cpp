// Plays the user on the program's window for the installer's test, from outside the program: waits
// until a top-level window with the given title is shown and enabled, presses the button with the given
// control identifier (the notification the button itself sends to its dialog), then closes the window
// as its close box does and waits until it is gone.
//
// Usage: vorsa_window_driver TITLE BUTTON_ID     exit 0 when all of it happened, 1 otherwise

#include <cstdio>
#include <cwchar>
#include <windows.h>

namespace {

// Generous: a first start in a fresh Wine prefix on a busy machine can take many seconds.
constexpr DWORD wait_limit_ms = 120000;

HWND find_ready_window(const wchar_t* title)
{
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < wait_limit_ms) {
        const HWND window = FindWindowW(nullptr, title);
        if (window && IsWindowVisible(window) && IsWindowEnabled(window)) return window;
        Sleep(50);
    }
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vorsa_window_driver TITLE BUTTON_ID\n");
        return 2;
    }
    const wchar_t* title = argv[1];
    const int button_id = _wtoi(argv[2]);
    const HWND window = find_ready_window(title);
    if (!window) {
        std::fprintf(stderr, "window_driver: no enabled window with the title within %lu s\n",
                     wait_limit_ms / 1000);
        return 1;
    }
    const HWND button = GetDlgItem(window, button_id);
    if (!button) {
        std::fprintf(stderr, "window_driver: the window has no control %d\n", button_id);
        return 1;
    }
    // Sent, not posted: it returns once the program's click handler has returned.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(button_id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(button), SMTO_NORMAL, wait_limit_ms, &result)) {
        std::fprintf(stderr, "window_driver: the window did not take the click\n");
        return 1;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    const DWORD started = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - started > wait_limit_ms) {
            std::fprintf(stderr, "window_driver: the window did not close\n");
            return 1;
        }
        Sleep(50);
    }
    return 0;
}
