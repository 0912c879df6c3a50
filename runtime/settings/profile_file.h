#pragma once
// The file layer under the profile reader and writer (profile.cpp): what it takes of the system to read
// the settings file whole and to change it under one lock. One implementation for each system, chosen
// by CMake: profile_posix.cpp (flock; a temporary file renamed over the old one) and profile_win32.cpp
// (LockFileEx; a temporary file put in place by ReplaceFileW). Both keep the promises of
// profile_write_string: at every moment the file holds its old content or its new one, whole; no other
// writer's change falls between the read and the write; a write that fails (a full disk) leaves the
// file as it was; where no new file may take the old one's place, the file is rewritten in place.
// Paths are in the file system's own encoding on Linux, UTF-8 on Windows.

#include <functional>
#include <optional>
#include <string>

namespace vorsa::runtime {

enum class ProfileFileRead
{
    ok,
    missing,
    failed
};

// The whole content of the regular file at `path`. A rewrite in place under way is waited for (for a
// while), so it is never seen half done. Anything but a regular file is refused without being read, so
// a read never blocks.
ProfileFileRead read_profile_file(const std::string& path, std::string& content);

// The file's new content, given its present content and whether the file was created (empty) for this
// change; nothing to leave the file as it is.
using ProfileFileChange = std::function<std::optional<std::string>(const std::string& content, bool created)>;

// One read-change-write of the file at `path`, under a lock that other writers of the file wait for and
// readers do not. A missing file is created empty first, so that there is something to lock, and removed
// again when nothing could be written into it. A read-only file (no write permission, or the read-only
// attribute) is not changed, also for a user whose privileges would let the write through.
// True when the new content is in place, or `change` wanted nothing written; false otherwise (the file
// cannot be opened, locked or read, is read-only, or the new content could not be written), and then
// the file is as it was.
bool update_profile_file(const std::string& path, const ProfileFileChange& change);

} // namespace vorsa::runtime
