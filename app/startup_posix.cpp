// Start-up on Linux: the settings file's directory, its marks and the local date. The Windows build
// has startup_win32.cpp instead.

#include "app/startup.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/settings/trusted_links.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vorsa::app {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view hidden_list_name = ".hidden";

bool lists_name(std::string_view listing, std::string_view name)
{
    while (!listing.empty()) {
        const std::size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line == name) return true;
        if (end == std::string_view::npos) break;
        listing.remove_prefix(end + 1);
    }
    return false;
}

// The ".hidden" list at `path` opened for reading and appending, created when missing; -1 when it
// cannot be or is no regular file. A link that another user planted in a shared folder is not
// followed, so nothing is ever appended to a file of the user's that such a link leads to.
int open_hidden_list(const std::string& path)
{
    const std::optional<std::string> target = runtime::resolve_trusted_path(path);
    if (!target) return -1;
    constexpr int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(target->c_str(), flags);
    // Created only where no name stands at all (O_EXCL follows no link either).
    if (fd < 0 && errno == ENOENT) fd = ::open(target->c_str(), flags | O_CREAT | O_EXCL, 0666);
    struct stat info = {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool read_whole(int fd, std::string& content)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0 && errno != EINTR) return false;
        if (got > 0) content.append(buffer, static_cast<std::size_t>(got));
    }
}

bool write_whole(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno != EINTR) return false;
        if (written > 0) data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

bool mark_hidden(const std::string& settings_path)
{
    // The settings file as the settings commands find it: behind a link that another user planted in a
    // shared folder there is none.
    const std::optional<std::string> settings = runtime::resolve_trusted_path(settings_path);
    struct stat info = {};
    if (!settings || ::lstat(settings->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const fs::path file(settings_path);
    const std::string name = file.filename().string();

    const int fd = open_hidden_list((file.parent_path() / hidden_list_name).string());
    if (fd < 0) return false;
    std::string listing;
    bool added = false;
    // Appending leaves every entry already listed untouched.
    if (read_whole(fd, listing) && !lists_name(listing, name)) {
        const std::string line = (listing.empty() || listing.back() == '\n' ? "" : "\n") + name + "\n";
        added = write_whole(fd, line);
    }
    ::close(fd);
    return added;
}

bool clear_read_only(const std::string& settings_path)
{
    // The file under the name itself, never one a link leads to: another user may have planted the link,
    // and a file the user's own link leads to may be kept read-only on purpose. The mode is changed on
    // the file that was checked, so no file can be swapped in between.
    const int fd = ::open(settings_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info = {};
    const bool lacks_permission = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                                  info.st_uid == ::geteuid() && (info.st_mode & S_IWUSR) == 0;
    const bool given = lacks_permission && ::fchmod(fd, (info.st_mode & 07777) | S_IWUSR) == 0;
    ::close(fd);
    return given;
}

LocalDate local_today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string current_settings_path()
{
    std::error_code error;
    const fs::path directory = fs::current_path(error);
    if (error || directory.empty()) return std::string(settings_file_name);
    return settings_path_in(directory);
}

} // namespace vorsa::app
