// The settings file's place, worked out with std::filesystem. The Windows program names its current
// directory through the system instead (startup_win32.cpp), so that it links none of std::filesystem
// and the C++ locale machinery behind it.

#include "app/startup.h"
#include "runtime/settings/settings_keys.h"

#include <string_view>
#include <system_error>

namespace vorsa::app {

namespace {

namespace fs = std::filesystem;

// The directory's name without trailing spaces and ideographic spaces (U+3000, in UTF-8).
std::string without_trailing_blanks(std::string name)
{
    constexpr std::string_view ideographic_space = "\xE3\x80\x80";
    for (;;) {
        if (!name.empty() && name.back() == ' ') {
            name.pop_back();
        } else if (name.size() >= ideographic_space.size() && name.ends_with(ideographic_space)) {
            name.resize(name.size() - ideographic_space.size());
        } else {
            return name;
        }
    }
}

} // namespace

std::string text_of(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

fs::path path_of(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string settings_path_in(const fs::path& directory)
{
    std::string name = text_of(directory);
    const std::string trimmed = without_trailing_blanks(name);
    // On Windows a directory's name cannot end in blanks, so dropping them only ever removes padding.
    // On Linux they can be part of the name, and dropping them would put the settings into another
    // directory (or none).
    std::error_code error;
    if (!trimmed.empty() && trimmed != name && fs::equivalent(path_of(trimmed), directory, error))
        name = trimmed;
    constexpr auto separator = static_cast<char>(fs::path::preferred_separator);
    if (!name.empty() && name.back() != '/' && name.back() != separator) name += separator;
    return name + std::string(settings_file_name);
}

} // namespace vorsa::app
