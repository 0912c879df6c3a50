#pragma once
// Identifiers of the window's controls, as the window template (resources/main_window.ui) gives them in
// each control's controlId property. The program binds its controls by these; the labels and group
// boxes, which it never touches, carry theirs in the template only.

namespace vorsa::app::control_id {

inline constexpr int product_edit = 1001;
inline constexpr int print_button = 1002;
inline constexpr int brand_box = 1004;
inline constexpr int printer_box = 1007;
inline constexpr int size_edit = 1008;
inline constexpr int quantity_edit = 1011;
inline constexpr int price_edit = 1012;
inline constexpr int shop_box = 1018;
inline constexpr int date_edit = 1019;
inline constexpr int clerk_edit = 1021;
inline constexpr int settings_button = 1022;
inline constexpr int history_button = 1024;
inline constexpr int address_edit = 1028;
inline constexpr int quantity_spin = 1029;
inline constexpr int add_preview_button = 1030;
inline constexpr int remove_shop_button = 1031;
inline constexpr int clear_button = 1032;

} // namespace vorsa::app::control_id
