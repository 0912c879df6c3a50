#include "runtime/settings/profile.h"

#include "runtime/settings/trusted_links.h"
#include "runtime/text/chars.h"
#include "runtime/text/gbk.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vorsa::runtime {

namespace {

// Around names and values the reader removes what the platform's profile functions remove: blanks,
// tabs, vertical tabs, form feeds and Ctrl-Z (the end-of-file mark old editors leave).
constexpr std::string_view profile_blanks = " \t\v\f\x1A";

constexpr bool is_line_break(char c)
{
    return c == '\r' || c == '\n';
}

// How the parser steps through the content: GBK pairs in a file of the code page, single bytes in a
// UTF-8 file, where every byte of a multi-byte character is 0x80 or above and so can be neither a
// bracket nor an ASCII letter.
using CharLength = std::size_t (*)(std::string_view, std::size_t);

std::size_t single_byte_length(std::string_view, std::size_t)
{
    return 1;
}

// Section and key names match ignoring ASCII case; the bytes of a double-byte character match exactly,
// so a trail byte that happens to be an ASCII letter is never folded.
bool names_equal(std::string_view a, std::string_view b, CharLength char_length)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t width = char_length(a, i);
        if (width == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (to_lower_ascii(a[i]) != to_lower_ascii(b[i])) {
            return false;
        }
        i += width;
    }
    return true;
}

struct Line
{
    std::size_t begin = 0; // first byte of the line
    std::size_t end = 0;   // end of its text, where the line break starts
    std::size_t next = 0;  // first byte after the line break
};

// Walks the content line by line; a line ends at CR LF, LF, a lone CR or the end of the content.
// The next CR and the next LF are each searched with memchr and remembered until passed, so the walk
// stays linear however the two are mixed.
class LineCursor
{
public:
    explicit LineCursor(std::string_view content) : m_content(content) {}

    bool at_end() const { return m_pos >= m_content.size(); }

    Line next()
    {
        Line line{m_pos, m_pos, m_pos};
        line.end = std::min(next_of('\r', m_next_cr), next_of('\n', m_next_lf));
        line.next = line.end;
        if (line.end < m_content.size()) {
            ++line.next;
            if (m_content[line.end] == '\r' && line.next < m_content.size() && m_content[line.next] == '\n')
                ++line.next;
        }
        m_pos = line.next;
        return line;
    }

private:
    // Position of the first `c` at or after the current line, or the content's size.
    std::size_t next_of(char c, std::size_t& cached)
    {
        if (cached < m_pos || cached == unknown) {
            const void* found = std::memchr(m_content.data() + m_pos, c, m_content.size() - m_pos);
            cached = found ? static_cast<std::size_t>(static_cast<const char*>(found) - m_content.data())
                           : m_content.size();
        }
        return cached;
    }

    static constexpr std::size_t unknown = static_cast<std::size_t>(-1);
    std::string_view m_content;
    std::size_t m_pos = 0;
    std::size_t m_next_cr = unknown;
    std::size_t m_next_lf = unknown;
};

enum class LineKind
{
    other,
    section,
    key
};

struct ParsedLine
{
    LineKind kind = LineKind::other;
    std::string_view name;      // section or key name, trimmed
    std::string_view raw_value; // everything after the "=" of a key line
};

ParsedLine parse_line(std::string_view text, CharLength char_length)
{
    text = text.substr(std::min(text.size(), text.find_first_not_of(profile_blanks)));
    if (!text.empty() && text.front() == '[') {
        // The name runs to the last "]" of the line; a "]" inside a double-byte character does not count.
        std::size_t close = std::string_view::npos;
        for (std::size_t i = 1; i < text.size(); i += char_length(text, i))
            if (text[i] == ']') close = i;
        if (close != std::string_view::npos)
            return {LineKind::section, trim_blanks(text.substr(1, close - 1), profile_blanks), {}};
    }
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos)
        return {LineKind::key, trim_blanks(text.substr(0, equals), profile_blanks), text.substr(equals + 1)};
    return {};
}

// Blanks around the value removed, then one pair of enclosing quotes.
std::string_view value_from_raw(std::string_view raw)
{
    std::string_view value = trim_blanks(raw, profile_blanks);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

bool is_blank_text(std::string_view text)
{
    return trim_blanks(text, profile_blanks).empty();
}

struct Location
{
    bool section_found = false;
    Line last_filled_line; // header or last non-blank line of the section
    bool key_found = false;
    Line key_line;
    ParsedLine key;
};

// One pass over the lines, up to the key in the first section of that name or the end of that section.
Location locate(std::string_view content, std::string_view section, std::string_view key,
                CharLength char_length)
{
    Location location;
    bool inside = false;
    for (LineCursor cursor(content); !cursor.at_end();) {
        const Line line = cursor.next();
        const std::string_view text = content.substr(line.begin, line.end - line.begin);
        const ParsedLine parsed = parse_line(text, char_length);
        if (parsed.kind == LineKind::section) {
            if (inside) break;
            if (names_equal(parsed.name, section, char_length)) {
                inside = true;
                location.section_found = true;
                location.last_filled_line = line;
            }
        } else if (inside) {
            if (parsed.kind == LineKind::key && names_equal(parsed.name, key, char_length)) {
                location.key_found = true;
                location.key_line = line;
                location.key = parsed;
                break;
            }
            if (!is_blank_text(text)) location.last_filled_line = line;
        }
    }
    return location;
}

std::optional<std::string_view> lookup_view(std::string_view content, std::string_view section,
                                            std::string_view key, CharLength char_length)
{
    const Location location = locate(content, section, key, char_length);
    if (!location.key_found) return std::nullopt;
    return value_from_raw(location.key.raw_value);
}

// Names the writer can put into a file so that the reader finds them again.
[[maybe_unused]] bool names_writable(std::string_view section, std::string_view key)
{
    const std::string section_line = "[" + std::string(section) + "]";
    const ParsedLine parsed_section = parse_line(section_line, gbk_char_length);
    const std::string key_line = std::string(key) + "=";
    const ParsedLine parsed_key = parse_line(key_line, gbk_char_length);
    return section.find_first_of("\r\n") == std::string_view::npos &&
           key.find_first_of("\r\n") == std::string_view::npos && parsed_section.kind == LineKind::section &&
           parsed_section.name == section && parsed_key.kind == LineKind::key && parsed_key.name == key;
}

// ---- encodings ----

// A file the platform's profile functions take for Unicode starts with a byte-order mark; one without
// is in the code page. The parser works on the code page's bytes, or on UTF-8 for a Unicode file.
enum class Encoding
{
    gbk,
    utf8_bom,
    utf16le_bom
};

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_bom = "\xFF\xFE";

struct Decoded
{
    Encoding encoding = Encoding::gbk;
    std::string content;  // GBK, or UTF-8 for a Unicode file
    std::string odd_byte; // a UTF-16 file's last byte when its length is odd, kept as it was
};

Decoded decode(std::string bytes)
{
    Decoded decoded;
    if (bytes.starts_with(utf16le_bom)) {
        decoded.encoding = Encoding::utf16le_bom;
        const std::string_view units = std::string_view(bytes).substr(utf16le_bom.size());
        decoded.content = utf8_from_utf16le(units);
        if (units.size() % 2) decoded.odd_byte = units.substr(units.size() - 1);
    } else if (bytes.starts_with(utf8_bom)) {
        decoded.encoding = Encoding::utf8_bom;
        decoded.content = bytes.substr(utf8_bom.size());
    } else {
        decoded.content = std::move(bytes);
    }
    return decoded;
}

std::string encode(const Decoded& decoded, std::string_view content)
{
    switch (decoded.encoding) {
    case Encoding::utf8_bom:
        return std::string(utf8_bom) + std::string(content);
    case Encoding::utf16le_bom:
        return std::string(utf16le_bom) + utf16le_from_utf8(content) + decoded.odd_byte;
    case Encoding::gbk:
        break;
    }
    return std::string(content);
}

// A GBK text as the parser of the file's encoding sees it.
std::string in_encoding_of(const Decoded& decoded, std::string_view gbk)
{
    return decoded.encoding == Encoding::gbk ? std::string(gbk) : utf8_from_gbk(gbk);
}

CharLength char_length_of(const Decoded& decoded)
{
    return decoded.encoding == Encoding::gbk ? gbk_char_length : single_byte_length;
}

std::optional<Text> lookup_decoded(const Decoded& decoded, std::string_view section, std::string_view key)
{
    const auto value = lookup_view(decoded.content, in_encoding_of(decoded, section),
                                   in_encoding_of(decoded, key), char_length_of(decoded));
    if (!value) return std::nullopt;
    return decoded.encoding == Encoding::gbk ? Text(*value) : gbk_from_utf8(*value);
}

// ---- files ----

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

enum class ReadStatus
{
    ok,
    missing,
    failed
};

// The whole content of a regular file, read under a shared lock so that a file being rewritten in
// place is seen whole. A FIFO or device under the settings name is refused rather than read, so a
// read can never block. A link that another user planted in a shared folder is not followed: the file
// reads as missing, as it does where the kernel refuses such links itself.
ReadStatus read_file(const std::string& path, std::string& content)
{
    content.clear();
    const std::optional<std::string> target = resolve_trusted_path(path);
    if (!target) return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
    const int fd = ::open(target->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
    struct stat info = {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        (void)lock_within_bound(fd, LOCK_SH, *target, held_locks().deadline_for(*target));
        ok = read_all(fd, content);
    }
    ::close(fd); // releases the lock
    return ok ? ReadStatus::ok : ReadStatus::failed;
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

std::optional<Text> profile_lookup(std::string_view content, std::string_view section, std::string_view key)
{
    const auto value = lookup_view(content, section, key, gbk_char_length);
    if (!value) return std::nullopt;
    return Text(*value);
}

namespace {

Text assign(std::string_view content, std::string_view section, std::string_view key, std::string_view value,
            CharLength char_length)
{
    value = value.substr(0, std::min(value.size(), value.find_first_of("\r\n")));
    const Location location = locate(content, section, key, char_length);

    Text result;
    result.reserve(content.size() + section.size() + key.size() + value.size() + 8);
    if (location.key_found) {
        // The key keeps its spelling and its line end; only the text of the line changes.
        const Line& line = location.key_line;
        result.append(content.substr(0, line.begin));
        result.append(location.key.name);
        result.push_back('=');
        result.append(value);
        result.append(content.substr(line.end));
    } else if (location.section_found) {
        // After the section's last non-blank line, so blank lines before the next section stay there.
        const Line& line = location.last_filled_line;
        result.append(content.substr(0, line.next));
        if (line.next == line.end) result.append("\r\n");
        result.append(key);
        result.push_back('=');
        result.append(value);
        result.append("\r\n");
        result.append(content.substr(line.next));
    } else {
        result.append(content);
        if (!content.empty() && !is_line_break(content.back())) result.append("\r\n");
        result.push_back('[');
        result.append(section);
        result.append("]\r\n");
        result.append(key);
        result.push_back('=');
        result.append(value);
        result.append("\r\n");
    }
    return result;
}

} // namespace

Text profile_assign(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value)
{
    assert(names_writable(section, key));
    return assign(content, section, key, value, gbk_char_length);
}

std::optional<Text> profile_read(const std::string& path, std::string_view section, std::string_view key)
{
    std::string bytes;
    if (read_file(path, bytes) != ReadStatus::ok) return std::nullopt;
    return lookup_decoded(decode(std::move(bytes)), section, key);
}

int profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback, char* buffer, int size)
{
    if (size <= 0) return 0;
    assert(buffer != nullptr);
    const std::optional<Text> value = profile_read(path, section, key);
    const std::string_view result = value ? std::string_view(*value) : fallback;
    const std::size_t count = std::min(result.size(), static_cast<std::size_t>(size) - 1);
    if (count > 0) std::memcpy(buffer, result.data(), count); // an empty view may hold no pointer
    buffer[count] = '\0';
    return static_cast<int>(count);
}

bool profile_write_string(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value)
{
    const ProfileAssignment assignment{section, key, value};
    return profile_write_strings(path, {&assignment, 1});
}

bool profile_write_strings(const std::string& path, std::span<const ProfileAssignment> assignments)
{
    if (assignments.empty()) return true;
    for ([[maybe_unused]] const ProfileAssignment& assignment : assignments)
        assert(names_writable(assignment.section, assignment.key));
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

    const Decoded decoded = decode(bytes);
    Text updated = decoded.content;
    for (const ProfileAssignment& assignment : assignments)
        updated = assign(updated, in_encoding_of(decoded, assignment.section),
                         in_encoding_of(decoded, assignment.key), in_encoding_of(decoded, assignment.value),
                         char_length_of(decoded));
    // A value the file holds already needs no rewrite: the synced replace costs two disk flushes, and
    // every press of the print button saves values that rarely change.
    if (updated == decoded.content && !file.created()) return true;
    const std::string new_bytes = encode(decoded, updated);

    // A file with a second name would lose it to a replace.
    Replaced replaced = info.st_nlink == 1 ? replace_file(target, new_bytes, info) : Replaced::impossible;
    if (replaced == Replaced::impossible)
        replaced = rewrite_in_place(file.fd(), new_bytes, bytes) ? Replaced::done : Replaced::failed;
    // A file this write made for its lock goes again when nothing could be written into it; a writer
    // waiting for it finds its name gone and starts over.
    if (replaced == Replaced::failed && file.created()) ::unlink(target.c_str());
    return replaced == Replaced::done;
}

} // namespace vorsa::runtime
