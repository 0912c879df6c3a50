#pragma once
// A new directory for one test, removed with everything in it when the test is done: on Linux and on
// Windows alike.

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vorsa::test_files {

class TempDirectory
{
public:
    // A directory named `stem`, a dot and a random number, in the system's temporary directory.
    explicit TempDirectory(const std::string& stem)
        : TempDirectory(std::filesystem::temp_directory_path(), stem)
    {
    }

    // The same in `parent`.
    TempDirectory(const std::filesystem::path& parent, const std::string& stem)
    {
        namespace fs = std::filesystem;
        std::random_device random;
        std::error_code error;
        for (int attempt = 0; !error && attempt < 100; ++attempt) {
            const fs::path candidate = parent / (stem + "." + std::to_string(random()));
            if (fs::create_directory(candidate, error)) {
                m_path = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary directory for " + stem);
    }

    ~TempDirectory()
    {
        // A file or folder without write permission (a file with the read-only attribute, on Windows)
        // would stay.
        namespace fs = std::filesystem;
        std::error_code error;
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto entry = fs::recursive_directory_iterator(m_path, error); !error && entry != fs::end(entry);
             entry.increment(error)) {
            if (!entry->is_symlink(ignored))
                fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_path, ignored);
    }

    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // The directory as the program takes paths: the file system's bytes on Linux, UTF-8 on Windows.
    std::string text() const
    {
        const std::u8string text = m_path.u8string();
        return {text.begin(), text.end()};
    }

private:
    std::filesystem::path m_path;
};

} // namespace vorsa::test_files
