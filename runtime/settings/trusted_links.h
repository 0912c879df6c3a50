#pragma once
// Symbolic links that another user may have planted. In a sticky, world-writable folder (/tmp, a shared
// drop folder) anyone may create a link under a name the program is about to open, pointing at a file
// of the user running it, and so redirect the program's writes into that file. The kernel refuses to
// follow such a link when fs.protected_symlinks is on, but not every system turns it on, and a path
// resolved by reading the links (realpath) never asks the kernel. These helpers apply the kernel's rule
// themselves, whatever the system's setting. POSIX only.

#include <optional>
#include <string>
#include <sys/stat.h>

namespace vorsa::runtime {

// The kernel's rule for following a link: true unless the folder that holds it (`folder`, as stat
// gives it) is sticky and writable by everyone and the link (`link`, as lstat gives it) belongs neither
// to the user running the program nor to the folder's owner.
bool may_follow_link(const struct stat& link, const struct stat& folder);

// `path` with every symbolic link on it resolved as opening it would resolve them, each link checked
// with may_follow_link first. The result names no link: each folder in it is a real folder, and its last
// part is no link, or is missing (a file still to be created). A relative path stays relative.
// Nothing, with errno set, when a link is refused (EACCES), a folder on the way is missing (ENOENT) or
// is no folder (ENOTDIR), or links nest more than 40 deep (ELOOP).
// Open the result with O_NOFOLLOW (or O_CREAT | O_EXCL), so that a link put under its last name
// afterwards is not followed either.
std::optional<std::string> resolve_trusted_path(const std::string& path);

} // namespace vorsa::runtime
