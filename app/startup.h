#pragma once
// What start-up needs besides the window: where the settings file lies, marking it hidden, and the
// date text the window opens with.

#include "runtime/text/text.h"

#include <filesystem>
#include <string>

namespace vorsa::app {

// A path as the program keeps it in text, and back: the file system's bytes on Linux, UTF-8 on Windows
// (where the system's own names are UTF-16).
std::string text_of(const std::filesystem::path& path);
std::filesystem::path path_of(const std::string& text);

// The settings file in `directory`. Trailing blanks (spaces and ideographic spaces) are dropped from
// the directory's name unless they are part of the directory's real name, so the file always lies in
// the directory given. No length limit.
std::string settings_path_in(const std::filesystem::path& directory);

// The settings file in the current directory; "dy.cfg" relative to it when the system cannot name the
// current directory.
std::string current_settings_path();

// Marks the settings file hidden, only when it exists (as a file). On Windows it gets the hidden
// attribute; its other attributes stay. On Linux, where a leading dot is what hides a name, its name is
// listed once in the ".hidden" file of its directory (desktop file managers hide the names listed
// there); entries already in ".hidden" are kept as they are. True when the mark was added.
bool mark_hidden(const std::string& settings_path);

// Makes a read-only settings file writable again, as every start of the program on Windows did;
// otherwise a read-only file would silently keep every value from being remembered. On Windows the
// read-only attribute is cleared and the other attributes stay. On Linux the owner's write permission
// is given back when the file belongs to the user running the program; a file of another user is left
// alone, and so is a symbolic link and whatever it leads to. Nothing else about the file changes. True
// when the file was made writable.
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
