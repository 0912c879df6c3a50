#pragma once
// The settings file and the names of its sections and keys, exactly as they appear in the file. Every
// value the program remembers between runs lives under one of these. In namespace vorsa, so that the
// program (vorsa::app) and the start-up refresh (vorsa::online) name them alike.

#include <string_view>

namespace vorsa {

// In the directory the program is started from.
inline constexpr std::string_view settings_file_name = "dy.cfg";

// Brand names learned from the vendor's server: "," followed by the names separated by ",".
inline constexpr std::string_view section_pingpai = "pingpai";
inline constexpr std::string_view key_online_brands = "onlinepingpai";

// Ticked brands, shops, clerk and address.
inline constexpr std::string_view section_print = "print";
// Each ticked brand followed by "|".
inline constexpr std::string_view key_ticked_brands = "pplist";
// Index of the selected shop (-1 for none), then "," and each shop name.
inline constexpr std::string_view key_shops = "dm";
inline constexpr std::string_view key_clerk = "yyy";
inline constexpr std::string_view key_address = "xsd";

// The chosen printer's name.
inline constexpr std::string_view section_dayinji = "dayinji";
inline constexpr std::string_view key_printer = "dyjm";

// History of entered lines: each entry preceded by "|*|", its fields joined by "|".
inline constexpr std::string_view section_ls = "ls";
inline constexpr std::string_view key_history = "ls";

// The separators inside remembered values.
inline constexpr std::string_view brand_terminator = "|";
inline constexpr std::string_view history_separator = "|*|";
inline constexpr std::string_view history_field_separator = "|";
inline constexpr std::string_view shop_separator = ",";

} // namespace vorsa
