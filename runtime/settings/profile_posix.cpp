// The settings file's layer on Linux (profile_file.h): flock, a temporary file renamed over the old
// one, and the write in place where no rename may replace the file.

#include "runtime/settings/profile_file.h"
#include "runtime/settings/trusted_links.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vorsa::runtime {

namespace {

struct FileId
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

FileId id_of(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

// Takes the flock `operation` on `fd`, waiting while another process holds it, until `deadline`
// (then false). A file system that knows no locks counts as locked: there is nothing to wait for.
bool lock_file(int fd, int operation, std::chrono::steady_clock::time_point deadline)
{
    auto pause = std::chrono::microseconds(100);
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
    }
}

// A writer holds the lock on the settings file for milliseconds: it reads the file, writes and syncs a
// temporary file and renames it. A holder that keeps the lock far longer is hung, or holds it on
// purpose: any user who may read a file may lock it, and in a shared folder the file may be another
// user's. Such a holder must neither freeze the window at every access nor cost the user the value just
// changed, so an access waits for the lock a bounded time and then goes ahead without it: a read reads,
// a write writes (still by a replace where it may, so readers see the old file or the new one whole).
// The path where a holder outlasted the wait is remembered, and until the lock there is had again an
// access to it waits only briefly: a start's dozen accesses, or a press of a button, then cost about a
// second in all rather than a second each.
constexpr std::chrono::milliseconds lock_patience{1000};
constexpr std::chrono::milliseconds held_lock_patience{100};

class HeldLocks
{
public:
    // When an access to `path` that begins now stops waiting for the lock.
    std::chrono::steady_clock::time_point deadline_for(const std::string& path)
    {
        const std::lock_guard guard(m_mutex);
        return std::chrono::steady_clock::now() + (path == m_held_path ? held_lock_patience : lock_patience);
    }

    // What the wait for the lock at `path` came to.
    void note(const std::string& path, bool locked)
    {
        const std::lock_guard guard(m_mutex);
        if (!locked)
            m_held_path = path;
        else if (path == m_held_path)
            m_held_path.clear();
    }

private:
    std::mutex m_mutex;
    std::string m_held_path;
};

HeldLocks& held_locks()
{
    static HeldLocks locks;
    return locks;
}

// Takes the flock `operation` on `fd`, the file at `path`, waiting until `deadline` (from deadline_for),
// and remembers whether a holder outlasted the wait there.
bool lock_within_bound(int fd, int operation, const std::string& path,
                       std::chrono::steady_clock::time_point deadline)
{
    const bool locked = lock_file(fd, operation, deadline);
    held_locks().note(path, locked);
    return locked;
}

bool read_all(int fd, std::string& content)
{
    content.clear();
    struct stat info = {};
    if (::fstat(fd, &info) != 0) return false;
    std::size_t used = 0;
    content.resize(static_cast<std::size_t>(info.st_size) + 1);
    for (;;) {
        if (used == content.size()) content.resize(content.size() * 2);
        const ssize_t got =
            ::pread(fd, content.data() + used, content.size() - used, static_cast<off_t>(used));
        if (got < 0) {
            if (errno == EINTR) continue;
            content.clear();
            return false;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    content.resize(used);
    return true;
}

bool write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool pwrite_all(int fd, std::string_view data)
{
    off_t at = 0;
    while (!data.empty()) {
        const ssize_t written = ::pwrite(fd, data.data(), data.size(), at);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
        at += written;
    }
    return true;
}

std::string directory_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_name_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary files of a write are named "." + the file's name + ".vorsa-tmp-" + six letters or
// digits (mkostemp's pattern), beside the file: a name nobody gives a file by hand. The writer holds
// an exclusive flock on its temporary file from before the name is known to be its own until after the
// rename, so a file of this naming that belongs to this user, has no second name and whose lock can be
// taken belongs to no running writer: its writer was killed mid-write.
constexpr std::string_view temp_marker = ".vorsa-tmp-";

std::string temp_prefix_of(const std::string& path)
{
    return "." + base_name_of(path).substr(0, 200) + std::string(temp_marker);
}

bool is_temp_name(std::string_view name, std::string_view prefix)
{
    constexpr std::size_t random_part = 6;
    if (name.size() != prefix.size() + random_part || name.substr(0, prefix.size()) != prefix) return false;
    for (const char c : name.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

// Removes the temporary files that killed writers left beside `path`. A file is removed only when it
// is a regular file of this user with one name, its lock could be taken and the name still refers to
// the file that was locked; a writer that is alive holds its lock, and one that has just created its
// file and not yet locked it notices the removal and starts over (see create_locked_temp). Failures
// are ignored: a stale file left is only clutter.
void remove_stale_temps(const std::string& directory, const std::string& prefix)
{
    DIR* listing = ::opendir(directory.c_str());
    if (!listing) return;
    const int dir_fd = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (!is_temp_name(entry->d_name, prefix)) continue;
        const int fd = ::openat(dir_fd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat locked = {};
        struct stat named = {};
        if (::fstat(fd, &locked) == 0 && S_ISREG(locked.st_mode) && locked.st_uid == ::geteuid() &&
            locked.st_nlink == 1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            id_of(locked) == id_of(named))
            (void)::unlinkat(dir_fd, entry->d_name, 0);
        ::close(fd); // releases the lock
    }
    ::closedir(listing);
}

// A new temporary file beside `path`, locked, and still under its name once locked; -1 when none can
// be made.
int create_locked_temp(const std::string& directory, const std::string& prefix, std::string& temp_path)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp_path = directory + "/" + prefix + "XXXXXX";
        const int fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        int locked = -1;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        // A file system without locks (an NFS mount without its lock service) refuses every lock, so no
        // clean-up can take the file there either: it is written unlocked.
        if (locked != 0) return fd;
        struct stat mine = {};
        struct stat named = {};
        if (::fstat(fd, &mine) == 0 && ::lstat(temp_path.c_str(), &named) == 0 && id_of(mine) == id_of(named))
            return fd;
        // Another writer's clean-up took the file between its creation and the lock.
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

enum class Replaced
{
    done,
    impossible, // the folder or the file's owner does not allow it: write in place instead
    failed
};

// Errors that say the folder does not let this user create or rename files, as opposed to a full or
// broken disk, where a write in place would fare no better and could leave half a file.
bool is_permission_error(int error)
{
    return error == EACCES || error == EPERM || error == EROFS || error == EBUSY || error == EXDEV;
}

// Writes `content` as the file at `path` by way of a temporary file beside it, so that at every moment
// the path holds either the old content or the new one, whole. The new file gets the old one's owner,
// group and mode; when it cannot (another user's file, a group this user is not in, set-id bits it may
// not set), nothing is replaced and the write is left to be done in place.
Replaced replace_file(const std::string& path, std::string_view content, const struct stat& old_info)
{
    const std::string directory = directory_of(path);
    const std::string prefix = temp_prefix_of(path);
    remove_stale_temps(directory, prefix);
    std::string temp_path;
    const int fd = create_locked_temp(directory, prefix, temp_path);
    if (fd < 0) return is_permission_error(errno) ? Replaced::impossible : Replaced::failed;

    // Owner and permission bits are set before the sync, so they are as durable as the content. The
    // owner goes first, as changing it may clear set-id bits.
    struct stat temp_info = {};
    if (::fstat(fd, &temp_info) != 0) temp_info = {};
    if (temp_info.st_uid != old_info.st_uid || temp_info.st_gid != old_info.st_gid)
        (void)!::fchown(fd, old_info.st_uid, old_info.st_gid);
    (void)!::fchmod(fd, old_info.st_mode & 07777);
    const bool same_owner_and_mode = ::fstat(fd, &temp_info) == 0 && temp_info.st_uid == old_info.st_uid &&
                                     temp_info.st_gid == old_info.st_gid &&
                                     (temp_info.st_mode & 07777) == (old_info.st_mode & 07777);
    Replaced result = same_owner_and_mode ? Replaced::done : Replaced::impossible;
    if (result == Replaced::done && !(write_all(fd, content) && ::fsync(fd) == 0)) result = Replaced::failed;
    // The file stays open, and so locked, until it has been renamed: another writer's clean-up must not
    // take it for a stale one in between.
    if (result == Replaced::done && ::rename(temp_path.c_str(), path.c_str()) != 0)
        result = is_permission_error(errno) ? Replaced::impossible : Replaced::failed;
    if (result != Replaced::done) ::unlink(temp_path.c_str());
    ::close(fd);
    if (result != Replaced::done) return result;

    // Make the rename itself durable. Some file systems refuse to sync a directory; the new content is
    // in place by now either way.
    const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        (void)::fsync(dir_fd);
        ::close(dir_fd);
    }
    return Replaced::done;
}

// Rewrites the file open as `fd` in place, as the platform's profile functions always do: the only
// way where the folder refuses new files or the file belongs to someone else. Readers take a shared
// lock, so they see the old content or the new one. Should the write fail half-way (a full disk), the
// old content goes back into the room it had.
bool rewrite_in_place(int fd, std::string_view content, std::string_view old_content)
{
    if (pwrite_all(fd, content) && ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 &&
        ::fsync(fd) == 0)
        return true;
    if (pwrite_all(fd, old_content)) (void)!::ftruncate(fd, static_cast<off_t>(old_content.size()));
    return false;
}

// The settings file opened for a write and locked against other writers: the lock is on the file
// itself, and since a replace puts a new file under the name, the writer checks after locking that the
// name still refers to the file it locked, and starts over when it does not. The file is created empty
// when missing, so that there is something to lock; an empty file reads as a missing one. `path` names
// no link (resolve_trusted_path), and a link put under it meanwhile is not followed.
// A lock held past the bound (lock_within_bound) is done without: the file is written unlocked.
class LockedFile
{
public:
    ~LockedFile()
    {
        if (m_fd >= 0) ::close(m_fd); // releases the lock
    }

    bool open(const std::string& path)
    {
        const auto deadline = held_locks().deadline_for(path);
        // Past the deadline the file is taken unlocked, and taken again only a few times more should its
        // name keep being given to another file.
        for (int late_attempts = 0; late_attempts < 8;) {
            if (std::chrono::steady_clock::now() >= deadline) ++late_attempts;
            m_created = false;
            m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
            if (m_fd < 0 && errno == ENOENT) {
                m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
                if (m_fd < 0 && errno == EEXIST) continue; // another writer made it just now
                m_created = m_fd >= 0;
            }
            if (m_fd < 0) return false;
            if (::fstat(m_fd, &m_info) != 0 || !S_ISREG(m_info.st_mode)) return false;
            (void)lock_within_bound(m_fd, LOCK_EX, path, deadline);
            struct stat named = {};
            if (::fstat(m_fd, &m_info) == 0 && ::lstat(path.c_str(), &named) == 0 &&
                id_of(named) == id_of(m_info))
                return true;
            ::close(m_fd); // replaced or removed while this writer waited
            m_fd = -1;
        }
        return false;
    }

    int fd() const { return m_fd; }
    const struct stat& info() const { return m_info; }
    bool created() const { return m_created; }

private:
    int m_fd = -1;
    bool m_created = false;
    struct stat m_info = {};
};

} // namespace

// The whole content of a regular file, read under a shared lock so that a file being rewritten in
// place is seen whole. A FIFO or device under the settings name is refused rather than read, so a
// read can never block.
ProfileFileRead read_profile_file(const std::string& path, std::string& content)
{
    content.clear();
    // A link that another user planted in a shared folder is not followed: the file reads as missing,
    // as it does where the kernel refuses such links itself.
    const std::optional<std::string> target = resolve_trusted_path(path);
    if (!target) return errno == ENOENT ? ProfileFileRead::missing : ProfileFileRead::failed;
    const int fd = ::open(target->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? ProfileFileRead::missing : ProfileFileRead::failed;
    struct stat info = {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        (void)lock_within_bound(fd, LOCK_SH, *target, held_locks().deadline_for(*target));
        ok = read_all(fd, content);
    }
    ::close(fd); // releases the lock
    return ok ? ProfileFileRead::ok : ProfileFileRead::failed;
}

bool update_profile_file(const std::string& path, const ProfileFileChange& change)
{
    // The file a link names is written, so the link stays a link; but a link that another user planted
    // in a shared folder is not followed, and nothing is written.
    const std::optional<std::string> resolved = resolve_trusted_path(path);
    if (!resolved) return false;
    const std::string& target = *resolved;

    // The file stays locked from the read to the replace, so no other writer's change is lost between.
    LockedFile file;
    if (!file.open(target)) return false;
    const struct stat& info = file.info();
    // A file marked read-only stays unchanged, even for a user whose privileges would let the write
    // through.
    if ((info.st_mode & 0222) == 0) return false;
    std::string bytes;
    if (!read_all(file.fd(), bytes)) return false; // what cannot be read cannot be merged
    const std::optional<std::string> new_bytes = change(bytes, file.created());
    if (!new_bytes) return true;

    // A file with a second name would lose it to a replace.
    Replaced replaced = info.st_nlink == 1 ? replace_file(target, *new_bytes, info) : Replaced::impossible;
    if (replaced == Replaced::impossible)
        replaced = rewrite_in_place(file.fd(), *new_bytes, bytes) ? Replaced::done : Replaced::failed;
    // A file this write made for its lock goes again when nothing could be written into it; a writer
    // waiting for it finds its name gone and starts over.
    if (replaced == Replaced::failed && file.created()) ::unlink(target.c_str());
    return replaced == Replaced::done;
}

} // namespace vorsa::runtime
