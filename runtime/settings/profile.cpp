#include "runtime/settings/profile.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorsa::runtime {

namespace {

constexpr bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}
constexpr bool is_line_break(char c)
{
    return c == '\r' || c == '\n';
}

constexpr char fold_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Bytes taken by the character at `i`: a lead byte and the byte after it form one double-byte character
// when that byte can be a GBK trail byte (0x40 or above). Line breaks, blanks, "=" and quotes lie below
// 0x40, so no lead byte, however broken the text, can swallow one of them.
std::size_t char_width(std::string_view text, std::size_t i)
{
    if (is_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
        static_cast<unsigned char>(text[i + 1]) >= 0x40)
        return 2;
    return 1;
}

std::string_view trim_blanks(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin]))
        ++begin;
    std::size_t end = text.size();
    while (end > begin && is_blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Section and key names match ignoring ASCII case; the bytes of a double-byte character match exactly,
// so a trail byte that happens to be an ASCII letter is never folded.
bool names_equal(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t width = char_width(a, i);
        if (width == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (fold_ascii(a[i]) != fold_ascii(b[i])) {
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

ParsedLine parse_line(std::string_view text)
{
    text = text.substr(std::min(text.size(), text.find_first_not_of(" \t")));
    if (!text.empty() && text.front() == '[') {
        // The name runs to the last "]" of the line; a "]" inside a double-byte character does not count.
        std::size_t close = std::string_view::npos;
        for (std::size_t i = 1; i < text.size(); i += char_width(text, i))
            if (text[i] == ']') close = i;
        if (close != std::string_view::npos)
            return {LineKind::section, trim_blanks(text.substr(1, close - 1)), {}};
    }
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos)
        return {LineKind::key, trim_blanks(text.substr(0, equals)), text.substr(equals + 1)};
    return {};
}

// Blanks around the value removed, then one pair of enclosing quotes.
std::string_view value_from_raw(std::string_view raw)
{
    std::string_view value = trim_blanks(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

bool is_blank_text(std::string_view text)
{
    return trim_blanks(text).empty();
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
Location locate(std::string_view content, std::string_view section, std::string_view key)
{
    Location location;
    bool inside = false;
    for (LineCursor cursor(content); !cursor.at_end();) {
        const Line line = cursor.next();
        const std::string_view text = content.substr(line.begin, line.end - line.begin);
        const ParsedLine parsed = parse_line(text);
        if (parsed.kind == LineKind::section) {
            if (inside) break;
            if (names_equal(parsed.name, section)) {
                inside = true;
                location.section_found = true;
                location.last_filled_line = line;
            }
        } else if (inside) {
            if (parsed.kind == LineKind::key && names_equal(parsed.name, key)) {
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
                                            std::string_view key)
{
    const Location location = locate(content, section, key);
    if (!location.key_found) return std::nullopt;
    return value_from_raw(location.key.raw_value);
}

// Names the writer can put into a file so that the reader finds them again.
[[maybe_unused]] bool names_writable(std::string_view section, std::string_view key)
{
    const std::string section_line = "[" + std::string(section) + "]";
    const ParsedLine parsed_section = parse_line(section_line);
    const std::string key_line = std::string(key) + "=";
    const ParsedLine parsed_key = parse_line(key_line);
    return section.find_first_of("\r\n") == std::string_view::npos &&
           key.find_first_of("\r\n") == std::string_view::npos && parsed_section.kind == LineKind::section &&
           parsed_section.name == section && parsed_key.kind == LineKind::key && parsed_key.name == key;
}

// ---- files ----

enum class ReadStatus
{
    ok,
    missing,
    failed
};

// The whole content of a regular file. A FIFO or device under the settings name is refused rather than
// read, so a read can never block.
ReadStatus read_file(const std::string& path, std::string& content)
{
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ReadStatus::failed;
    }
    std::size_t used = 0;
    content.resize(static_cast<std::size_t>(info.st_size) + 1);
    for (;;) {
        if (used == content.size()) content.resize(content.size() * 2);
        const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            content.clear();
            return ReadStatus::failed;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    content.resize(used);
    return ReadStatus::ok;
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

// The process's file creation mask, read without changing it where the system tells it.
mode_t current_umask()
{
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
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

// The file a write replaces: a symbolic link is followed so that the link stays a link.
bool resolve_target(const std::string& path, std::string& target)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        target = path;
        return true;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return false;
    target = resolved;
    std::free(resolved);
    return true;
}

// The temporary files of a write are named "." + the file's name + "." + six letters or digits
// (mkostemp's pattern), beside the file. The writer holds an exclusive flock on its temporary file from
// before the name is known to be its own until after the rename, so a temporary file of this naming whose
// lock can be taken belongs to no running writer: its writer was killed mid-write.
std::string temp_prefix_of(const std::string& path)
{
    return "." + base_name_of(path).substr(0, 200) + ".";
}

bool is_temp_name(std::string_view name, std::string_view prefix)
{
    constexpr std::size_t random_part = 6;
    if (name.size() != prefix.size() + random_part || name.substr(0, prefix.size()) != prefix) return false;
    for (const char c : name.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the temporary files that killed writers left beside `path`. A file is removed only when its
// lock could be taken and the name still refers to the file that was locked; a writer that is alive
// holds its lock, and one that has just created its file and not yet locked it notices the removal and
// starts over (see replace_file). Failures are ignored: a stale file left is only clutter.
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
        if (::fstat(fd, &locked) == 0 && S_ISREG(locked.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(locked, named))
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
        if (::fstat(fd, &mine) == 0 && ::lstat(temp_path.c_str(), &named) == 0 && same_file(mine, named))
            return fd;
        // Another writer's clean-up took the file between its creation and the lock.
        ::close(fd);
    }
    return -1;
}

// Writes `content` as the file at `path` by way of a temporary file beside it, so that at every moment
// the path holds either the old content or the new one, whole.
bool replace_file(const std::string& path, std::string_view content, const struct stat* old_info)
{
    const std::string directory = directory_of(path);
    const std::string prefix = temp_prefix_of(path);
    remove_stale_temps(directory, prefix);
    std::string temp_path;
    const int fd = create_locked_temp(directory, prefix, temp_path);
    if (fd < 0) return false;

    // Owner and permission bits are set before the sync, so they are as durable as the content. The
    // owner goes first, as changing it may clear set-id bits; taking over another user's ownership needs
    // privileges, and without them the group alone is tried and the file stays ours otherwise.
    bool ok = write_all(fd, content);
    if (ok && old_info) {
        if (::fchown(fd, old_info->st_uid, old_info->st_gid) != 0)
            (void)!::fchown(fd, static_cast<uid_t>(-1), old_info->st_gid);
        ok = ::fchmod(fd, old_info->st_mode & 07777) == 0;
    } else if (ok) {
        ok = ::fchmod(fd, 0666 & ~current_umask()) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    // The file stays open, and so locked, until it has been renamed: another writer's clean-up must not
    // take it for a stale one in between.
    if (ok) ok = ::rename(temp_path.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp_path.c_str());
    ::close(fd);
    if (!ok) return false;

    // Make the rename itself durable. Some file systems refuse to sync a directory; the new content is
    // in place by now either way.
    const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        (void)::fsync(dir_fd);
        ::close(dir_fd);
    }
    return true;
}

} // namespace

std::optional<Text> profile_lookup(std::string_view content, std::string_view section, std::string_view key)
{
    const auto value = lookup_view(content, section, key);
    if (!value) return std::nullopt;
    return Text(*value);
}

Text profile_assign(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value)
{
    assert(names_writable(section, key));
    value = value.substr(0, std::min(value.size(), value.find_first_of("\r\n")));
    const Location location = locate(content, section, key);

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

int profile_get_string(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback, char* buffer, int size)
{
    if (size <= 0) return 0;
    assert(buffer != nullptr);
    std::string content;
    std::optional<std::string_view> value;
    if (read_file(path, content) == ReadStatus::ok) value = lookup_view(content, section, key);
    const std::string_view result = value ? *value : fallback;
    const std::size_t count = std::min(result.size(), static_cast<std::size_t>(size) - 1);
    if (count > 0) std::memcpy(buffer, result.data(), count); // an empty view may hold no pointer
    buffer[count] = '\0';
    return static_cast<int>(count);
}

bool profile_write_string(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value)
{
    std::string target;
    if (path.empty() || !resolve_target(path, target)) return false;

    std::string content;
    const ReadStatus status = read_file(target, content);
    if (status == ReadStatus::failed)
        return false; // what cannot be read cannot be merged; the file is left alone

    struct stat old_info = {};
    const bool exists = status == ReadStatus::ok;
    if (exists) {
        if (::stat(target.c_str(), &old_info) != 0) return false;
        // A file marked read-only stays unchanged, even for a user whose privileges would let the
        // rename replace it.
        if ((old_info.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return false;
    }
    // A value the file holds already needs no rewrite: the synced replace costs two disk flushes, and
    // every press of the print button saves values that rarely change.
    Text updated = profile_assign(content, section, key, value);
    if (exists && updated == content) return true;
    return replace_file(target, updated, exists ? &old_info : nullptr);
}

} // namespace vorsa::runtime
