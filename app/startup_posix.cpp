// Start-up's marks on the settings file and the local date, on Linux. The Windows build has
// startup_win32.cpp instead.

#include "app/startup.h"

#include <ctime>
#include <fstream>
#include <iterator>
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

} // namespace

bool mark_hidden(const std::string& settings_path)
{
    std::error_code error;
    const fs::path file(settings_path);
    if (!fs::is_regular_file(file, error)) return false;
    const fs::path listing_path = file.parent_path() / hidden_list_name;
    const std::string name = file.filename().string();

    std::string listing;
    if (fs::exists(listing_path, error)) {
        if (!fs::is_regular_file(listing_path, error)) return false;
        std::ifstream in(listing_path, std::ios::binary);
        if (!in) return false;
        listing.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (lists_name(listing, name)) return false;
    }
    // Appending leaves every entry already listed untouched.
    std::ofstream out(listing_path, std::ios::binary | std::ios::app);
    if (!listing.empty() && listing.back() != '\n') out << '\n';
    out << name << '\n';
    out.close();
    return static_cast<bool>(out);
}

bool clear_read_only(const std::string& settings_path)
{
    struct stat info = {};
    if (::stat(settings_path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_uid != ::geteuid() || (info.st_mode & S_IWUSR) != 0) return false;
    return ::chmod(settings_path.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0;
}

LocalDate local_today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

} // namespace vorsa::app
