#pragma once
// INI-style settings files with the semantics of the Windows private-profile functions: sections in
// square brackets, key=value lines, section and key names compared without regard to ASCII case, values
// read with surrounding blanks and one pair of enclosing quotes removed. Files may end lines in CR LF,
// LF or CR; lines written anew end in CR LF. Lines the program does not know are kept byte for byte.

#include "runtime/text/text.h"

#include <optional>
#include <string>
#include <string_view>

namespace vorsa::runtime {

// The value of `key` in the first section named `section`, or nothing when either is missing.
std::optional<Text> profile_lookup(std::string_view content, std::string_view section, std::string_view key);

// The file content with `key` set to `value`: an existing key line is replaced (keeping its line end),
// a missing key is added after the section's last line, a missing section is added at the end.
// The value is cut at its first line break so that it cannot add lines of its own.
Text profile_assign(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value);

// GetPrivateProfileString over a file: copies the value (or `fallback`) into `buffer` of `size` bytes,
// truncated to size - 1 bytes and zero-terminated, and returns the number of bytes copied.
int profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback, char* buffer, int size);

// WritePrivateProfileString over a file. The new content is written to a file beside the old one and
// renamed over it, keeping its permissions, so an interrupted write leaves the old file whole.
// The temporary file is named "." + the file's name + "." + six random letters or digits (".dy.cfg.a1B2c3")
// and is locked (flock) by its writer while it exists. A writer killed mid-write leaves its temporary
// file behind; the next write beside it removes every such file whose lock is free, so at most the one
// of the last killed writer is left at any time.
// A write that would leave the content as it is does not touch the file (true, unless the file is
// read-only). False when the file cannot be written; the old file then stays as it was. A file without write
// permission counts as read-only and is not replaced; a symbolic link is followed and stays a link.
bool profile_write_string(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value);

} // namespace vorsa::runtime
