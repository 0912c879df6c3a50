#pragma once
// What start-up needs besides the window: where the settings file lies, marking it hidden, and the
// date text the window opens with.

#include "runtime/text/text.h"

#include <filesystem>
#include <string>

namespace vorsa::app {

// The settings file in `directory`. Trailing blanks (spaces and ideographic spaces) are dropped from
// the directory's name unless they are part of the directory's real name, so the file always lies in
// the directory given. No length limit.
std::string settings_path_in(const std::filesystem::path& directory);

// The settings file in the current directory; "dy.cfg" relative to it when the system cannot name the
// current directory.
std::string current_settings_path();

// Lists the settings file's name once in the ".hidden" file of its directory (desktop file managers
// hide the names listed there), only when the settings file exists. Entries already in ".hidden" are
// kept as they are. True when the name was added. A symbolic link (the settings file's or the list's)
// that another user planted in a sticky, world-writable folder is not followed: behind it there is no
// settings file, and no list to append to.
bool mark_hidden(const std::string& settings_path);

// Gives the settings file back its owner's write permission when it lacks it and belongs to the user
// running the program, as starting cleared the read-only mark on the platform the file comes from;
// otherwise a read-only file would silently keep every value from being remembered. Nothing else
// about the file changes; a file of another user is left alone, and so is a symbolic link and whatever
// it leads to, and a file its owner may not even read (which could not be merged anyway). True when the
// permission was added.
bool clear_read_only(const std::string& settings_path);

// The settings file of a start: the one in the current directory, listed as hidden (mark_hidden) and
// given back its owner's write permission (clear_read_only).
std::string prepare_settings_file();

struct LocalDate
{
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
};

// Today's date on the local clock.
LocalDate local_today();

// Year, month and day with "-" between them, month and day with two digits: 2015-03-05.
runtime::Text make_date_text(const LocalDate& date);
inline runtime::Text make_date_text()
{
    return make_date_text(local_today());
}

} // namespace vorsa::app
