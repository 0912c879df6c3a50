#include "runtime/settings/trusted_links.h"

#include <cerrno>
#include <deque>
#include <string_view>
#include <unistd.h>

namespace vorsa::runtime {

namespace {

// As many links as the kernel follows in one path.
constexpr int max_links = 40;

// The parts of `path` between slashes put in front of `pending`, in their order; empty parts (from "//"
// or a final "/") are no parts.
void put_parts_in_front(std::deque<std::string>& pending, std::string_view path)
{
    std::deque<std::string> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty()) parts.emplace_back(part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    pending.insert(pending.begin(), parts.begin(), parts.end());
}

// The folder above `folder`, which names real folders only, so its parent is its text up to the last
// slash. The root ("") is its own parent; a relative folder starts at "." and climbs through "..".
void go_up(std::string& folder)
{
    const std::size_t slash = folder.rfind('/');
    if (folder.empty()) return;
    if (folder == ".")
        folder = "..";
    else if (folder == ".." || folder.ends_with("/.."))
        folder += "/..";
    else
        folder.erase(slash);
}

std::optional<std::string> read_link(const std::string& path, const struct stat& info)
{
    // st_size is the target's length, unless the file system reports none or the link changed since.
    std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) return std::nullopt;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

} // namespace

bool may_follow_link(const struct stat& link, const struct stat& folder)
{
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

std::optional<std::string> resolve_trusted_path(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    // The folder reached so far: "" for the root, else "/a/b" or, for a relative path, "./a/b".
    std::string folder = path.front() == '/' ? "" : ".";
    std::deque<std::string> pending;
    put_parts_in_front(pending, path);
    int links = 0;
    while (!pending.empty()) {
        const std::string part = std::move(pending.front());
        pending.pop_front();
        if (part == ".") continue;
        if (part == "..") {
            go_up(folder);
            continue;
        }
        std::string candidate = folder + "/" + part;
        struct stat info = {};
        if (::lstat(candidate.c_str(), &info) != 0) {
            if (errno == ENOENT && pending.empty()) return candidate;
            return std::nullopt;
        }
        if (!S_ISLNK(info.st_mode)) {
            if (!pending.empty() && !S_ISDIR(info.st_mode)) {
                errno = ENOTDIR;
                return std::nullopt;
            }
            folder = std::move(candidate);
            continue;
        }
        if (++links > max_links) {
            errno = ELOOP;
            return std::nullopt;
        }
        struct stat folder_info = {};
        if (::stat(folder.empty() ? "/" : folder.c_str(), &folder_info) != 0) return std::nullopt;
        if (!may_follow_link(info, folder_info)) {
            errno = EACCES;
            return std::nullopt;
        }
        const std::optional<std::string> target = read_link(candidate, info);
        if (!target) return std::nullopt;
        if (target->empty()) {
            errno = ENOENT;
            return std::nullopt;
        }
        if (target->front() == '/') folder.clear();
        put_parts_in_front(pending, *target);
    }
    return folder.empty() ? "/" : folder;
}

} // namespace vorsa::runtime
