// The writes of a settings file on Linux, counted with inotify (file_writes.h). The kernel reports each
// rename before the call returns, so the count is complete as soon as the action is. The renames away
// from the temporary names are watched as well: the kernel folds an event into the one before it when
// the two look alike, and two renames onto the same name in a row would otherwise count once.

#include "tests/runtime/settings/file_writes.h"

#include <climits>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace vorsa::test_files {

class FileWrites::Watch
{
public:
    explicit Watch(const std::filesystem::path& file)
        : m_name(file.filename().string()), m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0 &&
            ::inotify_add_watch(m_fd, file.parent_path().c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Watch()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    int count()
    {
        if (m_fd < 0) return -1;
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (ssize_t got = 0; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                // The kernel's queue ran over: renames were lost.
                if (event->mask & IN_Q_OVERFLOW) m_lost = true;
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && m_name == event->name) ++m_count;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return m_lost ? -1 : m_count;
    }

private:
    std::string m_name;
    int m_fd = -1;
    int m_count = 0;
    bool m_lost = false;
};

FileWrites::FileWrites(const std::string& file) : m_watch(std::make_unique<Watch>(file)) {}

FileWrites::~FileWrites() = default;

int FileWrites::count()
{
    return m_watch->count();
}

} // namespace vorsa::test_files
