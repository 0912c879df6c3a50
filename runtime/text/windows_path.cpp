#include "runtime/text/windows_path.h"

#include <limits>
#include <windows.h>

namespace vorsa::runtime {

std::wstring windows_path(const std::string& utf8_path)
{
    if (utf8_path.empty() || utf8_path.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return {};
    const int size = static_cast<int>(utf8_path.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8_path.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring path(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8_path.data(), size, path.data(), length);
    if (path.find(L'\0') != std::wstring::npos) return {};
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;

    // The prefix turns off every other reading of the path, so it is made absolute and plain first.
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
    return full;
}

} // namespace vorsa::runtime
