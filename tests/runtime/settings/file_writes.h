#pragma once
// Counts the writes of a settings file, for tests that hold an action to one write however slow the
// disk. In a folder the user owns every write of the settings file puts a new file under its name by a
// rename, so the renames onto that name are its writes; a write that finds every value in place
// already renames nothing. The kernel reports each rename before the call returns, so the count is
// complete as soon as the action is. The renames away from the temporary names are watched as well:
// the kernel folds an event into the one before it when the two look alike, and two renames onto
// the same name in a row would otherwise count once.

#include <climits>
#include <filesystem>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace vorsa::test_files {

class FileWrites
{
public:
    explicit FileWrites(const std::filesystem::path& file)
        : m_name(file.filename().string()), m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0) ::inotify_add_watch(m_fd, file.parent_path().c_str(), IN_MOVED_FROM | IN_MOVED_TO);
    }
    ~FileWrites()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileWrites(const FileWrites&) = delete;
    FileWrites& operator=(const FileWrites&) = delete;

    // The writes since the counter was made; -1 when the system cannot watch the folder.
    int count()
    {
        if (m_fd < 0) return -1;
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (ssize_t got = 0; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && m_name == event->name) ++m_count;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return m_count;
    }

private:
    std::string m_name;
    int m_fd = -1;
    int m_count = 0;
};

} // namespace vorsa::test_files
