#include "app/startup.h"

#include "runtime/settings/settings_keys.h"

#include <cstdio>
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

std::string current_settings_path()
{
    std::error_code error;
    const fs::path directory = fs::current_path(error);
    if (error || directory.empty()) return std::string(settings_file_name);
    return settings_path_in(directory);
}

std::string prepare_settings_file()
{
    const std::string settings_path = current_settings_path();
    mark_hidden(settings_path);
    clear_read_only(settings_path);
    return settings_path;
}

runtime::Text make_date_text(const LocalDate& date)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

} // namespace vorsa::app
