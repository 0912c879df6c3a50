#include "runtime/win32/delay_load.h"

#include <string>
#include <windows.h>
// After windows.h, which it needs.
#include <delayimp.h>

namespace vorsa::runtime {

namespace {

// Asked by the delay-load helper before it loads a DLL; what it returns is taken as the loaded DLL,
// nothing makes the helper load it itself.
FARPROC WINAPI load_from_system_folder(unsigned notice, PDelayLoadInfo info)
{
    if (notice != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    // The names are those of delay_load/*.def, ASCII.
    std::wstring name;
    for (const char* c = info->szDll; *c; ++c)
        name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return reinterpret_cast<FARPROC>(LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

} // namespace

void load_delayed_dlls_from_system_folder()
{
    __pfnDliNotifyHook2 = load_from_system_folder;
}

} // namespace vorsa::runtime
