#pragma once
// Counts the writes of a settings file, for tests that hold an action to one write however slow the
// disk. In a folder the user owns every write of the settings file puts a new file under its name by a
// rename, so the renames onto that name are its writes; a write that finds every value in place
// already renames nothing, and the empty file a writer makes to lock a missing one is no write. Each
// system watches the folder with its own means: inotify (file_writes_posix.cpp), directory change
// notifications (file_writes_win32.cpp).

#include <memory>
#include <string>

namespace vorsa::test_files {

class FileWrites
{
public:
    // Watches the folder of `file`, a path as the program takes it (the file system's bytes on Linux,
    // UTF-8 on Windows), from now on.
    explicit FileWrites(const std::string& file);
    ~FileWrites();
    FileWrites(const FileWrites&) = delete;
    FileWrites& operator=(const FileWrites&) = delete;

    // The writes since the counter was made, every one that completed before the call included; -1
    // when the system cannot watch the folder or lost track of it.
    int count();

private:
    class Watch;
    std::unique_ptr<Watch> m_watch;
};

} // namespace vorsa::test_files
