// The writes of a settings file on Windows, counted from the folder's change notifications
// (ReadDirectoryChangesW; file_writes.h). A write puts its temporary file in place with ReplaceFileW,
// which moves the old file to a backup name and renames the temporary file to the file's name (its
// errors ERROR_UNABLE_TO_MOVE_REPLACEMENT and _2 are those two renames failing); where it cannot, the
// writer renames the file in place itself. Either way the folder reports the file's name as the new
// name of a rename, FILE_ACTION_RENAMED_NEW_NAME, once per write. FILE_ACTION_ADDED for the name comes
// only from the empty file a writer makes to lock a missing one, which is no write.
// The notifications arrive some time after the change (under Wine, from another process), but those of
// one folder arrive in order. So count() renames a marker file of its own in the folder and reads
// notifications until the marker's rename comes: every change made before it has been reported then.

#include "runtime/text/windows_path.h"
#include "tests/runtime/settings/file_writes.h"

#include <chrono>
#include <string_view>
#include <windows.h>

namespace vorsa::test_files {

namespace {

using Clock = std::chrono::steady_clock;

// How long the marker's rename may take to be reported before the count gives up: the notification
// comes within milliseconds; only a broken watch takes this long.
constexpr auto report_patience = std::chrono::seconds(60);

// File names compare without regard to case, as the file system does.
bool same_name(std::wstring_view a, std::wstring_view b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace

class FileWrites::Watch
{
public:
    explicit Watch(const std::string& file)
    {
        const std::wstring path = runtime::windows_path(file);
        const std::size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos) return;
        m_folder = path.substr(0, slash);
        m_name = path.substr(slash + 1);
        m_marker_stem =
            m_folder + L"\\." + m_name + L".counted-" + std::to_wstring(GetCurrentProcessId()) + L"-";

        const HANDLE first_marker = CreateFileW(marker(0).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (first_marker == INVALID_HANDLE_VALUE) return;
        CloseHandle(first_marker);
        m_marker_made = true;
        m_folder_handle = CreateFileW(
            m_folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        m_overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // The system collects the folder's changes from the first call on, also between calls.
        m_watching = m_folder_handle != INVALID_HANDLE_VALUE && m_overlapped.hEvent != nullptr && read_next();
    }

    ~Watch()
    {
        if (m_reading) {
            CancelIoEx(m_folder_handle, &m_overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(m_folder_handle, &m_overlapped, &ignored, TRUE);
        }
        if (m_folder_handle != INVALID_HANDLE_VALUE) CloseHandle(m_folder_handle);
        if (m_overlapped.hEvent != nullptr) CloseHandle(m_overlapped.hEvent);
        if (m_marker_made) DeleteFileW(marker(m_step).c_str());
    }

    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    int count()
    {
        if (!m_watching) return -1;
        if (!MoveFileExW(marker(m_step).c_str(), marker(m_step + 1).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            m_watching = false;
            return -1;
        }
        ++m_step;
        const std::wstring marker_name = marker(m_step).substr(m_folder.size() + 1);
        const auto give_up = Clock::now() + report_patience;
        for (bool marker_seen = false; !marker_seen;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
            DWORD got = 0;
            if (left.count() <= 0 ||
                WaitForSingleObject(m_overlapped.hEvent, static_cast<DWORD>(left.count())) != WAIT_OBJECT_0 ||
                !GetOverlappedResult(m_folder_handle, &m_overlapped, &got, FALSE)) {
                m_watching = false;
                return -1;
            }
            m_reading = false;
            // No bytes: the system's buffer ran over and the changes in it were dropped.
            if (got == 0) {
                m_watching = false;
                return -1;
            }
            marker_seen = take_changes(marker_name);
            if (!read_next()) {
                m_watching = false;
                return -1;
            }
        }
        return m_count;
    }

private:
    std::wstring marker(unsigned step) const { return m_marker_stem + std::to_wstring(step); }

    bool read_next()
    {
        ResetEvent(m_overlapped.hEvent);
        m_reading = ReadDirectoryChangesW(m_folder_handle, m_buffer, sizeof m_buffer, FALSE,
                                          FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &m_overlapped, nullptr) != 0;
        return m_reading;
    }

    // Counts the renames onto the file's name in the buffer; true when the marker's rename is among them.
    bool take_changes(std::wstring_view marker_name)
    {
        bool marker_seen = false;
        for (DWORD at = 0;;) {
            const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(m_buffer + at);
            const std::wstring_view name(change->FileName, change->FileNameLength / sizeof(WCHAR));
            if (change->Action == FILE_ACTION_RENAMED_NEW_NAME) {
                if (same_name(name, m_name)) ++m_count;
                if (same_name(name, marker_name)) marker_seen = true;
            }
            if (change->NextEntryOffset == 0) return marker_seen;
            at += change->NextEntryOffset;
        }
    }

    std::wstring m_folder;
    std::wstring m_name;
    std::wstring m_marker_stem;
    unsigned m_step = 0;
    bool m_marker_made = false;
    HANDLE m_folder_handle = INVALID_HANDLE_VALUE;
    OVERLAPPED m_overlapped{};
    bool m_reading = false;
    bool m_watching = false;
    int m_count = 0;
    alignas(FILE_NOTIFY_INFORMATION) char m_buffer[64 * 1024];
};

FileWrites::FileWrites(const std::string& file) : m_watch(std::make_unique<Watch>(file)) {}

FileWrites::~FileWrites() = default;

int FileWrites::count()
{
    return m_watch->count();
}

} // namespace vorsa::test_files
