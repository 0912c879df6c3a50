// Start-up on Windows: the settings file's directory, its hidden and read-only attributes, and the
// local date. The Linux build has startup_posix.cpp instead.

#include "app/startup.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/unicode.h"
#include "runtime/text/windows_path.h"

#include <windows.h>

namespace vorsa::app {

namespace {

// The attributes SetFileAttributesW takes; the others (compressed, encrypted, sparse, ...) are the file
// system's to keep.
constexpr DWORD settable_attributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Sets the file's attributes to its present ones with `add` and without `remove`; false when the file
// is missing, is a directory, already has them or refuses.
bool change_attributes(const std::string& settings_path, DWORD add, DWORD remove)
{
    const std::wstring path = runtime::windows_path(settings_path);
    if (path.empty()) return false;
    const DWORD present = GetFileAttributesW(path.c_str());
    if (present == INVALID_FILE_ATTRIBUTES || (present & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    const DWORD changed = ((present & settable_attributes) | add) & ~remove;
    if (changed == (present & settable_attributes)) return false;
    return SetFileAttributesW(path.c_str(), changed == 0 ? FILE_ATTRIBUTE_NORMAL : changed) != 0;
}

} // namespace

bool mark_hidden(const std::string& settings_path)
{
    return change_attributes(settings_path, FILE_ATTRIBUTE_HIDDEN, 0);
}

bool clear_read_only(const std::string& settings_path)
{
    return change_attributes(settings_path, 0, FILE_ATTRIBUTE_READONLY);
}

LocalDate local_today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
}

std::string current_settings_path()
{
    // The system's own name of the current directory. Windows drops blanks at the end of a name when it
    // sets the directory, so unlike on Linux there is no padding to take off.
    std::wstring directory;
    for (DWORD size = MAX_PATH;;) {
        directory.resize(size);
        const DWORD length = GetCurrentDirectoryW(size, directory.data());
        if (length == 0) return std::string(settings_file_name);
        if (length < size) {
            directory.resize(length);
            break;
        }
        size = length; // too small: the length asked for includes the terminating zero
    }
    std::string name = runtime::utf8_from_utf16le(
        {reinterpret_cast<const char*>(directory.data()), directory.size() * sizeof(wchar_t)});
    if (name.empty()) return std::string(settings_file_name);
    if (name.back() != '\\' && name.back() != '/') name += '\\';
    return name + std::string(settings_file_name);
}

} // namespace vorsa::app
