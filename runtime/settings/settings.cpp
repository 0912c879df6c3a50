#include "runtime/settings/settings.h"

#include "runtime/settings/profile.h"

#include <optional>
#include <utility>
#include <vector>

namespace vorsa::runtime {

Text read_setting(const std::string& path, std::string_view section, std::string_view key,
                  std::string_view fallback)
{
    // The platform's reader copies the value into a buffer that may cut it, so the program reads again
    // with a buffer 1024 bytes larger while the value fills the buffer; each read parses the whole file.
    // Reading the value once, whole, gives the same text in one pass.
    std::optional<Text> value = profile_read(path, section, key);
    return value ? std::move(*value) : Text(fallback);
}

Text single_line(std::string_view text)
{
    // Neither byte is ever the trail byte of a GBK pair.
    Text line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char byte = text[i];
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line += byte == '\r' || byte == '\n' ? ' ' : byte;
    }
    return line;
}

bool write_setting(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value)
{
    return profile_write_string(path, section, key, value);
}

bool write_settings(const std::string& path, const SettingChanges& changes)
{
    std::vector<ProfileAssignment> assignments;
    assignments.reserve(changes.size());
    for (const SettingChange& change : changes)
        assignments.push_back({change.section, change.key, change.value});
    return profile_write_strings(path, assignments);
}

} // namespace vorsa::runtime
