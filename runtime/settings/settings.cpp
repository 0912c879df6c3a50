#include "runtime/settings/settings.h"

#include "runtime/settings/profile.h"

#include <climits>

namespace vorsa::runtime {

Text read_setting(const std::string& path, std::string_view section, std::string_view key,
                  std::string_view fallback)
{
    // The value is copied into a buffer that may cut it; while it fills the buffer it may have been
    // cut, so the read is repeated with a buffer 1024 bytes larger than what came back.
    int size = 1024;
    Text buffer(static_cast<std::size_t>(size), '\0');
    int count = profile_get_string(path, section, key, fallback, buffer.data(), size);
    while (count >= size - 1 && count <= INT_MAX - 1024) {
        size = count + 1024;
        buffer.resize(static_cast<std::size_t>(size));
        count = profile_get_string(path, section, key, fallback, buffer.data(), size);
    }
    buffer.resize(static_cast<std::size_t>(count));
    return buffer;
}

bool write_setting(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value)
{
    return profile_write_string(path, section, key, value);
}

} // namespace vorsa::runtime
