// The settings file's layer on Windows (profile_file.h).
//
// Writers lock one byte far beyond any settings file's end (LockFileEx): locks on Windows are
// mandatory, so a lock on the content would keep readers out, while this one only orders the writers,
// also those of other machines sharing the folder. The lock is held from the read to the write. The new
// content goes to a temporary file beside the old one, is flushed, and is put in place by ReplaceFileW,
// which also works while a reader has the old file open (a plain move over an open file fails). Where
// no replace may happen, the file is rewritten in place under the same lock; readers take the lock
// shared, so they never see that half done.
// ReplaceFileW is two renames: the old file goes to a backup name, then the new one to the file's name.
// Between them the name is free, and the writer holds the lock on its old file under the backup name.
// A reader or writer that finds the file missing waits while such a locked file is there, and looks
// again. A writer killed between the two renames leaves two whole files, the old content and the new;
// the next reader or writer puts the newer one back under the name.
// The temporary file is named "." + the file's name + ".vorsa-tmp-" + six letters or digits, like the
// Linux build's, and so is the backup. A writer holds its temporary file open without letting others
// delete it until it is complete, so a file of that naming that can be deleted was left by a killed
// writer; the next write removes it.

#include "runtime/settings/profile_file.h"
#include "runtime/text/windows_path.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>
#include <windows.h>

namespace vorsa::runtime {

namespace {

using Clock = std::chrono::steady_clock;

// Readers and writers let each other open, write and rename the file: a replace renames a file that a
// reader may have open.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A write waits this long for another one to finish; a reader this long before it reads unlocked.
constexpr std::chrono::milliseconds write_patience{10000};
constexpr std::chrono::milliseconds read_patience{2000};

// The locked byte: far past the end of any settings file, and within what every file system takes.
constexpr std::uint64_t lock_offset = std::uint64_t{1} << 62;

class Handle
{
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { close(); }
    Handle(Handle&& other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            close();
            m_handle = std::exchange(other.m_handle, INVALID_HANDLE_VALUE);
        }
        return *this;
    }

    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }
    void close()
    {
        if (valid()) CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

Handle open_file(const std::wstring& path, DWORD access, DWORD creation,
                 DWORD attributes = FILE_ATTRIBUTE_NORMAL, DWORD share = share_all)
{
    return Handle(CreateFileW(path.c_str(), access, share, nullptr, creation, attributes, nullptr));
}

OVERLAPPED lock_position()
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(lock_offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(lock_offset >> 32);
    return position;
}

// Takes the lock on `file`, waiting while another process holds it. A file system that knows no locks
// counts as locked (there is nothing to wait for); a holder that keeps the lock longer than `patience`
// (a hung process) makes the wait fail.
bool lock_file(HANDLE file, bool exclusive, std::chrono::milliseconds patience)
{
    const auto give_up = Clock::now() + patience;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0u);
    auto pause = std::chrono::microseconds(100);
    for (;;) {
        OVERLAPPED position = lock_position();
        if (LockFileEx(file, flags, 0, 1, 0, &position)) return true;
        if (GetLastError() != ERROR_LOCK_VIOLATION) return true;
        if (Clock::now() >= give_up) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
    }
}

void unlock_file(HANDLE file)
{
    OVERLAPPED position = lock_position();
    UnlockFileEx(file, 0, 1, 0, &position);
}

bool file_info(HANDLE file, BY_HANDLE_FILE_INFORMATION& info)
{
    return GetFileInformationByHandle(file, &info) != 0;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// A file on a disk: no directory, pipe, console or other device.
bool is_regular(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info)
{
    return GetFileType(file) == FILE_TYPE_DISK && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// ReadFile and WriteFile count in DWORD; larger pieces go in steps.
constexpr std::size_t largest_step = std::size_t{1} << 30;

bool read_all(HANDLE file, std::string& content)
{
    content.clear();
    LARGE_INTEGER size{};
    const LARGE_INTEGER start{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    std::size_t used = 0;
    content.resize(static_cast<std::size_t>(size.QuadPart) + 1);
    for (;;) {
        if (used == content.size()) content.resize(content.size() * 2);
        const auto wanted = static_cast<DWORD>(std::min(content.size() - used, largest_step));
        DWORD got = 0;
        if (!ReadFile(file, content.data() + used, wanted, &got, nullptr)) {
            content.clear();
            return false;
        }
        if (got == 0) break;
        used += got;
    }
    content.resize(used);
    return true;
}

bool write_all(HANDLE file, std::string_view data)
{
    while (!data.empty()) {
        const auto wanted = static_cast<DWORD>(std::min(data.size(), largest_step));
        DWORD written = 0;
        if (!WriteFile(file, data.data(), wanted, &written, nullptr) || written == 0) return false;
        data.remove_prefix(written);
    }
    return true;
}

// ---- temporary files ----

constexpr std::wstring_view temp_marker = L".vorsa-tmp-";
constexpr std::size_t random_part = 6;

std::wstring random_letters()
{
    static constexpr std::wstring_view letters =
        L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(GetCurrentProcessId()) ^
                                     static_cast<unsigned>(GetTickCount64()));
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    std::wstring result;
    for (std::size_t i = 0; i < random_part; ++i)
        result.push_back(letters[pick(random)]);
    return result;
}

// A name of the temporary files' pattern; names that differ in case only are one name on Windows.
bool is_temp_name(std::wstring_view name, std::wstring_view prefix)
{
    if (name.size() != prefix.size() + random_part) return false;
    const int prefix_size = static_cast<int>(prefix.size());
    if (CompareStringOrdinal(name.data(), prefix_size, prefix.data(), prefix_size, TRUE) != CSTR_EQUAL)
        return false;
    for (const wchar_t c : name.substr(prefix.size()))
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'))) return false;
    return true;
}

// Removes the temporary files that killed writers left in `directory`. A file is removed through a
// handle, so what goes is the file looked at: a file of this naming with one name and no link. A writer
// at work holds its file open without sharing deletion, so opening it to delete it fails. Failures are
// ignored: a stale file left is only clutter.
void remove_stale_temps(const std::wstring& directory, const std::wstring& prefix)
{
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = directory + L"\\" + prefix + L"*";
    const HANDLE search =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    constexpr DWORD no_file = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    do {
        if (!is_temp_name(entry.cFileName, prefix) || (entry.dwFileAttributes & no_file) != 0) continue;
        const Handle file = open_file(directory + L"\\" + entry.cFileName, DELETE | FILE_READ_ATTRIBUTES,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!file.valid() || !file_info(file.get(), info) || info.nNumberOfLinks != 1 ||
            (info.dwFileAttributes & no_file) != 0)
            continue;
        FILE_DISPOSITION_INFO remove{TRUE};
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// A new temporary file in `directory`, open for writing and not to be deleted by others; `error` tells
// why there is none.
Handle create_temp(const std::wstring& directory, const std::wstring& prefix, DWORD attributes,
                   std::wstring& temp_path, DWORD& error)
{
    error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 8 && error == ERROR_FILE_EXISTS; ++attempt) {
        temp_path = directory + L"\\" + prefix + random_letters();
        Handle file = open_file(temp_path, GENERIC_WRITE, CREATE_NEW, attributes, FILE_SHARE_READ);
        if (file.valid()) return file;
        error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
    }
    return {};
}

// The folder of a path as windows_path gives it, and the start of the names of its temporary files.
struct PathParts
{
    std::wstring directory;
    std::wstring temp_prefix;
};

bool split_path(const std::wstring& path, PathParts& parts)
{
    const std::size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 == path.size()) return false;
    parts.directory = path.substr(0, slash);
    parts.temp_prefix = L"." + path.substr(slash + 1, 200) + std::wstring(temp_marker);
    return true;
}

// Whether another writer is between the two renames of its replace: it holds the lock on its old file,
// which has a name of the temporary files' pattern meanwhile.
bool replace_under_way(const PathParts& parts)
{
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = parts.directory + L"\\" + parts.temp_prefix + L"*";
    const HANDLE search =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool under_way = false;
    do {
        if (!is_temp_name(entry.cFileName, parts.temp_prefix)) continue;
        const Handle file = open_file(parts.directory + L"\\" + entry.cFileName, GENERIC_READ, OPEN_EXISTING);
        OVERLAPPED position = lock_position();
        if (!file.valid()) continue;
        if (LockFileEx(file.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &position))
            unlock_file(file.get());
        else
            under_way = GetLastError() == ERROR_LOCK_VIOLATION;
    } while (!under_way && FindNextFileW(search, &entry));
    FindClose(search);
    return under_way;
}

// A writer killed between the two renames of its replace left the old content and the new one, both
// whole, under temporary names, and no file under the name: the newer goes back under it. A file that
// a writer elsewhere is still writing is open and cannot be moved.
void restore_interrupted_replace(const PathParts& parts, const std::wstring& path)
{
    struct Candidate
    {
        std::wstring name;
        ULONGLONG written;
    };
    std::vector<Candidate> candidates;
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = parts.directory + L"\\" + parts.temp_prefix + L"*";
    const HANDLE search =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!is_temp_name(entry.cFileName, parts.temp_prefix) ||
            (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
        candidates.push_back({entry.cFileName, (ULONGLONG{entry.ftLastWriteTime.dwHighDateTime} << 32) |
                                                   entry.ftLastWriteTime.dwLowDateTime});
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.written > b.written; });
    for (const Candidate& candidate : candidates)
        if (MoveFileExW((parts.directory + L"\\" + candidate.name).c_str(), path.c_str(),
                        MOVEFILE_WRITE_THROUGH))
            return;
}

// For a file found missing: waits (at most `patience`) while another writer is between the two renames
// of its replace, after which the file is there again; completes a replace whose writer was killed
// there. The file may be missing indeed afterwards.
void await_replace(const std::wstring& path, std::chrono::milliseconds patience)
{
    PathParts parts;
    if (!split_path(path, parts)) return;
    const auto give_up = Clock::now() + patience;
    while (replace_under_way(parts)) {
        if (Clock::now() >= give_up) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) restore_interrupted_replace(parts, path);
}

// ---- writing ----

enum class Replaced
{
    done,
    impossible, // the folder, the file's protection or another program holding it does not allow it
    failed
};

// Errors that say a file may not be created, replaced or renamed here, as opposed to a full or broken
// disk, where a write in place would fare no better and could leave half a file.
bool is_permission_error(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_SUPPORTED:
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        return true;
    default:
        return false;
    }
}

// The attributes the new file takes over from the old one. ReplaceFileW carries them over on Windows,
// not under Wine; the read-only attribute never gets this far.
constexpr DWORD kept_attributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Writes `content` as the file at `path` by way of a temporary file beside it, so that at every moment
// the name holds either the old content or the new one, whole. The old file gets a name of the
// temporary files' pattern for the moment of the replace (ReplaceFileW's backup), so that every way the
// replace can fail leaves a file under the name, and a writer killed just after it leaves only a stale
// temporary file. The new file keeps the old one's protection (ReplaceFileW fails where it cannot).
Replaced replace_file(const std::wstring& path, std::string_view content, DWORD old_attributes)
{
    PathParts parts;
    if (!split_path(path, parts)) return Replaced::impossible;
    const std::wstring& directory = parts.directory;
    const std::wstring& prefix = parts.temp_prefix;
    remove_stale_temps(directory, prefix);

    const DWORD attributes = old_attributes & kept_attributes;
    std::wstring temp_path;
    DWORD error = ERROR_SUCCESS;
    Handle temp = create_temp(directory, prefix, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes,
                              temp_path, error);
    if (!temp.valid()) return is_permission_error(error) ? Replaced::impossible : Replaced::failed;
    const bool written = write_all(temp.get(), content) && FlushFileBuffers(temp.get());
    temp.close(); // the replace renames it, which its own handle does not allow
    if (!written) {
        DeleteFileW(temp_path.c_str());
        return Replaced::failed;
    }

    const std::wstring backup_path = directory + L"\\" + prefix + random_letters();
    if (ReplaceFileW(path.c_str(), temp_path.c_str(), backup_path.c_str(), 0, nullptr, nullptr)) {
        DeleteFileW(backup_path.c_str()); // the old file, gone once the last reader has closed it
        return Replaced::done;
    }
    error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        // The old file is under the backup name and the new one still under its temporary name: the
        // new one goes in place, or else the old one back.
        if (MoveFileExW(temp_path.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            DeleteFileW(backup_path.c_str());
            return Replaced::done;
        }
        if (!MoveFileExW(backup_path.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return Replaced::failed;
    }
    DeleteFileW(temp_path.c_str());
    return is_permission_error(error) ? Replaced::impossible : Replaced::failed;
}

// Rewrites the file open as `file` in place: the only way where the folder refuses new files, another
// program holds the file open without letting it be renamed, or the file has a second name. Readers
// take the lock shared, so they see the old content or the new one. Should the write fail half-way (a
// full disk), the old content goes back into the room it had.
bool rewrite_in_place(HANDLE file, std::string_view content, std::string_view old_content)
{
    const auto write_from_start = [file](std::string_view data) {
        const LARGE_INTEGER start{};
        return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && write_all(file, data) &&
               SetEndOfFile(file);
    };
    if (write_from_start(content) && FlushFileBuffers(file)) return true;
    if (write_from_start(old_content)) FlushFileBuffers(file);
    return false;
}

// The settings file opened for a change and locked against other writers. The lock is on the file
// itself, and since a replace puts a new file under the name, the writer checks after locking that the
// name still holds the file it locked, and starts over when it does not. The file is created empty when
// missing (and no replace is under way or to complete), so that there is something to lock; an empty
// file reads as a missing one.
class LockedFile
{
public:
    ~LockedFile()
    {
        if (m_locked) unlock_file(m_file.get());
    }

    bool open(const std::wstring& path)
    {
        const auto give_up = Clock::now() + write_patience;
        while (Clock::now() < give_up) {
            m_created = false;
            m_file = open_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
            DWORD error = m_file.valid() ? ERROR_SUCCESS : GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) {
                await_replace(path, write_patience);
                m_file = open_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
                error = m_file.valid() ? ERROR_SUCCESS : GetLastError();
            }
            if (error == ERROR_FILE_NOT_FOUND) {
                m_file = open_file(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
                error = m_file.valid() ? ERROR_SUCCESS : GetLastError();
                if (error == ERROR_FILE_EXISTS) continue; // another writer made it just now
                m_created = m_file.valid();
            }
            if (error == ERROR_SHARING_VIOLATION) {
                // Another program (a virus scanner, a backup) has the file to itself for a moment.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            if (!m_file.valid() || !file_info(m_file.get(), m_info) || !is_regular(m_file.get(), m_info))
                return false;
            if (!lock_file(m_file.get(), true, write_patience)) return false;
            m_locked = true;
            const Handle named = open_file(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
            BY_HANDLE_FILE_INFORMATION named_info{};
            if (file_info(m_file.get(), m_info) && named.valid() && file_info(named.get(), named_info) &&
                same_file(named_info, m_info)) {
                const DWORD name_attributes = GetFileAttributesW(path.c_str());
                m_link = name_attributes != INVALID_FILE_ATTRIBUTES &&
                         (name_attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
                return true;
            }
            unlock_file(m_file.get()); // replaced or removed while this writer waited
            m_locked = false;
        }
        return false;
    }

    HANDLE handle() const { return m_file.get(); }
    const BY_HANDLE_FILE_INFORMATION& info() const { return m_info; }
    bool created() const { return m_created; }
    // The name is a symbolic link (or another reparse point) to the file.
    bool link() const { return m_link; }

private:
    Handle m_file;
    BY_HANDLE_FILE_INFORMATION m_info{};
    bool m_locked = false;
    bool m_created = false;
    bool m_link = false;
};

} // namespace

ProfileFileRead read_profile_file(const std::string& path, std::string& content)
{
    content.clear();
    const std::wstring name = windows_path(path);
    if (name.empty()) return ProfileFileRead::missing;
    Handle file = open_file(name, GENERIC_READ, OPEN_EXISTING);
    DWORD error = file.valid() ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        // Missing, or between the two renames of another writer's replace.
        await_replace(name, read_patience);
        file = open_file(name, GENERIC_READ, OPEN_EXISTING);
        error = file.valid() ? ERROR_SUCCESS : GetLastError();
    }
    if (!file.valid())
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ProfileFileRead::missing
                                                                              : ProfileFileRead::failed;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file_info(file.get(), info) || !is_regular(file.get(), info)) return ProfileFileRead::failed;
    const bool locked = lock_file(file.get(), false, read_patience);
    const bool read = read_all(file.get(), content);
    if (locked) unlock_file(file.get());
    return read ? ProfileFileRead::ok : ProfileFileRead::failed;
}

bool update_profile_file(const std::string& path, const ProfileFileChange& change)
{
    const std::wstring name = windows_path(path);
    if (name.empty()) return false;

    // The file stays locked from the read to the replace, so no other writer's change is lost between.
    LockedFile file;
    if (!file.open(name)) return false;
    // A file marked read-only stays unchanged, even for a user whose privileges would let the write
    // through (Wine run by root opens it for writing).
    if ((file.info().dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
    std::string content;
    if (!read_all(file.handle(), content)) return false; // what cannot be read cannot be merged
    const std::optional<std::string> updated = change(content, file.created());
    if (!updated) return true;

    // A file with a second name would lose it to a replace, and a link would become a file.
    Replaced replaced = file.info().nNumberOfLinks == 1 && !file.link()
                            ? replace_file(name, *updated, file.info().dwFileAttributes)
                            : Replaced::impossible;
    if (replaced == Replaced::impossible)
        replaced = rewrite_in_place(file.handle(), *updated, content) ? Replaced::done : Replaced::failed;
    // A file this write made for its lock goes again when nothing could be written into it; a writer
    // waiting for it finds its name gone and starts over.
    if (replaced == Replaced::failed && file.created()) DeleteFileW(name.c_str());
    return replaced == Replaced::done;
}

} // namespace vorsa::runtime
