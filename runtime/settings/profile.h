#pragma once
// INI-style settings files with the semantics of the Windows private-profile functions: sections in
// square brackets, key=value lines, section and key names compared without regard to ASCII case, values
// read with surrounding blanks (blank, tab, vertical tab, form feed, Ctrl-Z) and one pair of enclosing
// quotes removed. Files may end lines in CR LF, LF or CR; lines written anew end in CR LF. Lines the program
// does not know are kept byte for byte.

#include "runtime/text/text.h"

#include <optional>
#include <span>
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

// The value of `key` in the file at `path`, read once, or nothing when the file, section or key is
// missing. A file starting with a byte-order mark is read as the platform's profile functions read it:
// FF FE as UTF-16LE, EF BB BF as UTF-8; its value comes out in GBK (a character GBK cannot hold as "?").
// Any other file is GBK. The file is read under a shared lock, so a write in place is never seen half done;
// a lock held far longer than a write takes is waited for a bounded time, then the file is read without it.
// A symbolic link is followed, except one that another user planted in a sticky, world-writable folder
// (the kernel's rule, see trusted_links.h): the file then reads as missing.
std::optional<Text> profile_read(const std::string& path, std::string_view section, std::string_view key);

// GetPrivateProfileString over a file: copies the value (or `fallback`) into `buffer` of `size` bytes,
// truncated to size - 1 bytes and zero-terminated, and returns the number of bytes copied.
int profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback, char* buffer, int size);

// WritePrivateProfileString over a file. The file is read, changed and written under one exclusive lock
// (flock on the file, taken again when another writer replaced the file meanwhile), so writers in several
// processes never undo each other's keys; of two writes to one key the later one stays. A writer holds the
// lock for milliseconds: one held far longer (a hung process, or another user's in a shared folder, who
// may lock any file they may read) is waited for about a second, and then the value is written without
// the lock rather than lost; while that holder keeps the lock, later accesses wait only a tenth of that.
// The handling of files below (flock, rename, owner and mode) is the Linux build's (profile_posix.cpp);
// the Windows build keeps the same promises in its own terms (profile_win32.cpp: LockFileEx,
// ReplaceFileW, the hidden and read-only attributes).
// A file with a byte-order mark is written back in its own encoding with its mark (section, key and
// value go in as GBK); lines the program does not know keep their bytes.
// The new content is written to a file beside the old one and renamed over it, so an interrupted write
// leaves the old file whole. The new file gets the old one's owner, group and mode; where it cannot
// (another user's file, a folder where this user may not create files, a file with a second name), the
// file is rewritten in place instead, as the Windows functions always do. The owner and mode of an
// existing file never change; a missing file is created with 0666 less the umask.
// The temporary file is named "." + the file's name + ".vorsa-tmp-" + six random letters or digits
// (".dy.cfg.vorsa-tmp-a1B2c3") and is locked (flock) by its writer while it exists. A writer killed
// mid-write leaves its temporary file behind; the next write beside it removes every such file that
// belongs to this user, has no second name and whose lock is free, so at most the one of the last killed
// writer is left at any time. No other file is ever removed.
// A write that would leave the content as it is does not touch the file (true, unless the file is
// read-only). False when the file cannot be written; the old file then stays as it was. A file without write
// permission counts as read-only and is not changed; a symbolic link is followed and stays a link, except
// one that another user planted in a sticky, world-writable folder: nothing is written through it (false).
bool profile_write_string(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value);

// A key and the value a write gives it.
struct ProfileAssignment
{
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

// profile_write_string for several keys in one locked read-change-write: the file ends byte for byte as
// writing them one after another, in this order, would leave it, but is written (and synced) once, or
// not at all when it holds every value already. No assignments: nothing is touched, no file is made.
bool profile_write_strings(const std::string& path, std::span<const ProfileAssignment> assignments);

} // namespace vorsa::runtime
