#pragma once
// Windows only. The program keeps paths as UTF-8 text (std::filesystem::path::u8string); the system's
// W functions take UTF-16. Paths go to them absolute and with the "\\?\" prefix, so that no limit of
// 260 characters applies to them.

#include <string>

namespace vorsa::runtime {

// `utf8_path` made absolute against the current directory, "/" read as "\", "." and ".." resolved, and
// prefixed with "\\?\" ("\\?\UNC\" for a share): "C:/shop/../dy.cfg" gives "\\?\C:\dy.cfg". A path that
// has the prefix already (or names a device, "\\.\") is only converted. Empty for the empty path and
// for one holding a zero character, which no file name can hold.
std::wstring windows_path(const std::string& utf8_path);

} // namespace vorsa::runtime
