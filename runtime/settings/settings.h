#pragma once
// Settings commands: every access of the program to its settings file goes through these two.
// Paths are in the file system's own encoding on Linux, UTF-8 on Windows; sections, keys and values are
// GBK texts.

#include "runtime/text/text.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorsa::runtime {

// The value of the key, or `fallback` when the file, section or key is missing. Values of any length
// are read whole, in one pass over the file.
Text read_setting(const std::string& path, std::string_view section, std::string_view key,
                  std::string_view fallback = {});

// The text as one value of the settings file, which ends a value at its first line break: each line
// break (CR LF, CR or LF) becomes one blank, so a value holding one keeps its rest and adds no stray
// line. Used for what the user types into a box and for names the vendor's server lists alike.
Text single_line(std::string_view text);

// Writes the key with its value, creating section, key and file as needed. False when the file
// could not be written (callers ignore it, as the stored value is simply lost).
bool write_setting(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);

// A key and the value a write gives it.
struct SettingChange
{
    std::string_view section;
    std::string_view key;
    Text value;
};
using SettingChanges = std::vector<SettingChange>;

// The values one action of the user saves, written together: the file ends as write_setting for each
// in turn would leave it, byte for byte, but is read, changed and written once under one lock (each
// write syncs file and folder, which a slow disk makes the user wait for). A file holding every value
// already, or no changes, is left untouched. False when the file could not be written.
bool write_settings(const std::string& path, const SettingChanges& changes);

} // namespace vorsa::runtime
