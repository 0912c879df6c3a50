// Start-up of the Windows program against the bare dialog made from the same template 1000
// (startup_bare_dialog.cpp), in the same run: each program is started in turn (each round in another
// order) in the same empty folder, so the program starts as for the first time and offline. A start is
// timed from CreateProcessW until the program is ready for input: WaitForInputIdle has returned (its
// thread waits for input with nothing queued, the first paint included) and its dialog window is
// visible and enabled, whichever comes later. At that moment its memory is read
// (GetProcessMemoryInfo: the peak working set, and the private bytes as the commit charge PagefileUsage,
// which Windows reports as PrivateUsage too and Wine fills alone, from the process's anonymous
// resident and swapped memory); then WM_CLOSE goes to the dialog and the process exit is timed as
// well. (Wine reports no CPU time of another process that means anything, so there is none here.)
//
// Usage: windows_startup_bench [runs, default 30] ["name=program.exe [arguments]" ...]
// The first row is the anchor every ratio refers to; without rows it is the bare dialog beside this
// program, and the program of this build when it has one. Paths may be Windows paths or host paths
// (/...), which Wine reaches through drive Z:; they hold no blank.

#include "bench/windows/bench_stats.h"

#include <cstdio>
#include <cwchar>
#include <psapi.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using vorsa::bench::now_ms;
using vorsa::bench::summarize;

struct Row
{
    std::wstring name;
    std::wstring program;
    std::wstring arguments; // after the program's name on its command line, starting with a blank
    std::vector<double> idle_ms, ready_ms, exit_ms, peak_mb, private_mb;
    int failures = 0;
};

std::wstring windows_path(std::wstring path)
{
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring beside_this_program(const wchar_t* file)
{
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring folder(own, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    return folder + file;
}

struct Search
{
    DWORD process;
    HWND dialog;
};

// The process's top-level dialog window (class #32770), shown or not.
HWND find_dialog(DWORD process)
{
    Search search{process, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t class_name[16] = {};
            GetClassNameW(window, class_name, 16);
            if (owner != s->process || std::wcscmp(class_name, L"#32770") != 0) return TRUE;
            s->dialog = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.dialog;
}

bool start_once(Row& row, const std::wstring& folder)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + row.program + L"\"" + row.arguments;
    const double started = now_ms();
    if (!CreateProcessW(row.program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        return false;
    bool ok = WaitForInputIdle(process.hProcess, 60000) == 0;
    const double idle = now_ms();
    double ready = idle;
    HWND dialog = nullptr;
    // A window still hidden or disabled when the thread first waits for input (a program that shows
    // its window disabled while it waits for a server) is ready only once it is shown and enabled.
    while (ok) {
        dialog = find_dialog(process.dwProcessId);
        if (dialog && IsWindowVisible(dialog) && IsWindowEnabled(dialog)) break;
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0 || now_ms() - started > 60000) {
            ok = false;
            break;
        }
        ready = now_ms();
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    ok = ok && GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
    if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        ok = false;
    }
    const double exited = now_ms();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!ok) return false;
    row.idle_ms.push_back(idle - started);
    row.ready_ms.push_back(ready - started);
    row.exit_ms.push_back(exited - started);
    row.peak_mb.push_back(static_cast<double>(memory.PeakWorkingSetSize) / 1e6);
    row.private_mb.push_back(static_cast<double>(memory.PagefileUsage) / 1e6);
    return true;
}

// Removes what a start left in the folder, so that every start finds it empty.
void empty_folder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring file = folder + L"\\" + found.cFileName;
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(file.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::string narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int runs = 30;
    std::vector<Row> rows;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        const std::size_t equals = argument.find(L'=');
        if (equals == std::wstring::npos) {
            runs = _wtoi(argv[i]);
            continue;
        }
        Row row;
        row.name = argument.substr(0, equals);
        const std::wstring command = argument.substr(equals + 1);
        const std::size_t blank = command.find(L' ');
        row.program = windows_path(command.substr(0, blank));
        if (blank != std::wstring::npos) row.arguments = command.substr(blank);
        rows.push_back(row);
    }
    if (rows.empty()) {
        Row bare;
        bare.name = L"bare dialog";
        bare.program = beside_this_program(L"startup_bare_dialog.exe");
        rows.push_back(bare);
#ifdef VORSA_BENCH_PROGRAM
        Row program;
        program.name = L"program";
        program.program = windows_path(VORSA_BENCH_PROGRAM);
        rows.push_back(program);
#endif
    }
    if (runs < 1) runs = 1;

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"vorsa_startup_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);

    // Two rounds unmeasured: the first starts load every file into the page cache.
    const int warm_up = 2;
    const std::size_t count = rows.size();
    for (int round = 0; round < warm_up + runs; ++round) {
        for (std::size_t k = 0; k < count; ++k) {
            Row& row = rows[(k + static_cast<std::size_t>(round)) % count];
            empty_folder(folder);
            Row scratch = row;
            Row& target = round < warm_up ? scratch : row;
            if (!start_once(target, folder)) ++row.failures;
        }
    }
    empty_folder(folder);
    RemoveDirectoryW(folder.c_str());

    std::printf("Start-up under Wine, %d starts of each after %d warm-up rounds; medians (minimum), "
                "ratios to the first row\n\n",
                runs, warm_up);
    std::printf("| | ready for input | ratio | input idle | process exit | peak working set | ratio | "
                "private bytes | ratio |\n|---|---|---|---|---|---|---|---|---|\n");
    const auto anchor_ready = summarize(rows[0].ready_ms).median;
    const auto anchor_peak = summarize(rows[0].peak_mb).median;
    const auto anchor_private = summarize(rows[0].private_mb).median;
    for (const Row& row : rows) {
        const auto ready = summarize(row.ready_ms);
        const auto peak = summarize(row.peak_mb).median;
        const auto private_bytes = summarize(row.private_mb).median;
        std::printf(
            "| %s | %.1f ms (%.1f) | %.2fx | %.1f ms | %.1f ms | %.1f MB | %.2fx | %.1f MB | %.2fx |\n",
            narrow(row.name).c_str(), ready.median, ready.minimum,
            anchor_ready > 0 ? ready.median / anchor_ready : 0.0, summarize(row.idle_ms).median,
            summarize(row.exit_ms).median, peak, anchor_peak > 0 ? peak / anchor_peak : 0.0, private_bytes,
            anchor_private > 0 ? private_bytes / anchor_private : 0.0);
    }
    int failed = 0;
    for (const Row& row : rows) {
        if (row.failures == 0) continue;
        std::printf("%s: %d start(s) failed (not started, not ready within 60 s, or not ended on WM_CLOSE)\n",
                    narrow(row.name).c_str(), row.failures);
        failed = 1;
    }
    return failed;
}
