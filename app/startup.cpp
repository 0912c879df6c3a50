#include "app/startup.h"

#include <cstdio>

namespace vorsa::app {

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
