#pragma once
// What the tests of the Windows program share: its window run in the test's own process with a script,
// the program run as a process of its own and its main window found from outside, texts between UTF-8,
// GBK and UTF-16, and waiting for an event within a generous cap.

#include "app/win32/win32_counter_window.h"
#include "runtime/text/gbk.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <windows.h>

namespace vorsa::app::test {

// The title of the program's window.
inline const std::wstring window_title = L"Vorsa小票打印系统 1.5";

inline std::wstring wide(const std::string& utf8)
{
    const int size = static_cast<int>(utf8.size());
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), size);
    text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return text;
}

inline std::string utf8(const std::wstring& text)
{
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

inline runtime::Text gbk(const char* utf8_text)
{
    return runtime::gbk_from_utf8(utf8_text);
}

inline std::wstring window_text(HWND window)
{
    wchar_t buffer[1024] = {};
    const int length = GetWindowTextW(window, buffer, 1024);
    return std::wstring(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

// Waits until `done` says so, looking every 20 ms, for at most `cap` (generous: the machine may be
// busy). True when `done` was reached.
inline bool wait_until(const std::function<bool()>& done,
                       std::chrono::milliseconds cap = std::chrono::seconds(120))
{
    const auto give_up = std::chrono::steady_clock::now() + cap;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A click of push button `id` of `window` as the button reports it to its window.
inline void click(HWND window, int id)
{
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Runs the program's window in this process with `options` and its settings file at `settings_path`.
// `script` runs from the window's message loop once the start has ended and the window shows; the
// window is closed after it (by its close box, as the user would).
inline void run_program_window(const std::string& settings_path, StartOptions options,
                               const std::function<void(Win32CounterWindow&)>& script)
{
    Win32CounterWindow window(settings_path, std::move(options));
    window.run([&script](Win32CounterWindow& shown) {
        script(shown);
        PostMessageW(shown.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });
}

// A program started as a process of its own; ended when the object goes, if it still runs.
class ChildProgram
{
public:
    // Starts `program` (a Windows path, or a Linux one under drive Z:) with `arguments` in `directory`.
    ChildProgram(const std::filesystem::path& program, const std::wstring& arguments,
                 const std::filesystem::path& directory)
    {
        std::wstring command = L"\"" + windows_path(program) + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        const std::wstring folder = directory.wstring();
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                           &startup, &m_process))
            CloseHandle(m_process.hThread);
        else
            m_process = {};
    }
    ~ChildProgram()
    {
        if (!m_process.hProcess) return;
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
            if (HWND shown = main_window()) PostMessageW(shown, WM_SYSCOMMAND, SC_CLOSE, 0);
            if (WaitForSingleObject(m_process.hProcess, 20000) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 1);
        }
        CloseHandle(m_process.hProcess);
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool started() const { return m_process.hProcess != nullptr; }
    HANDLE process() const { return m_process.hProcess; }

    // The program's visible main window, or null.
    HWND main_window() const
    {
        struct Search
        {
            DWORD process;
            HWND found;
        } search{m_process.dwProcessId, nullptr};
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner != s->process || !IsWindowVisible(window) || window_text(window) != window_title)
                    return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Waits for the main window (within the generous cap); null when it never came.
    HWND wait_for_main_window() const
    {
        HWND found = nullptr;
        wait_until([&] { return (found = main_window()) != nullptr || !running(); });
        return found;
    }

    bool running() const
    {
        return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
    }

    // The exit code once the process has ended within `cap`; -1 while it runs.
    long wait_for_exit(std::chrono::milliseconds cap) const
    {
        if (WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(cap.count())) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_process.hProcess, &code);
        return static_cast<long>(code);
    }

    static std::wstring windows_path(const std::filesystem::path& path)
    {
        std::wstring text = path.wstring();
        if (!text.empty() && text[0] == L'/') {
            for (wchar_t& c : text)
                if (c == L'/') c = L'\\';
            text = L"Z:" + text;
        }
        return text;
    }

private:
    PROCESS_INFORMATION m_process{};
};

} // namespace vorsa::app::test
