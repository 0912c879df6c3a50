#pragma once
// The DLLs linked for loading on first use (COM, OLE automation, the URL loader, WinHTTP; see
// runtime/win32/CMakeLists.txt) come from the system folder only, never from the program's or the
// current folder, where a planted DLL of the same name could be. Windows only.

namespace vorsa::runtime {

// Makes every later first use of such a DLL load it from the system folder. Call before any of their
// functions, once, on the program's main thread; a system without that search flag loads it as
// Windows would load an imported DLL.
void load_delayed_dlls_from_system_folder();

} // namespace vorsa::runtime
