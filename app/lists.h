#pragma once
// The four remembered lists that spare the shop assistant typing: the brands (a check-menu whose
// ticked entries fill the brand list), the shops, the printers and the history of entered lines. Each
// change is written to the settings file at once; nothing is kept for shut-down.
//
// The lists work on the window's controls through runtime/controls/controls.h, so they test without a
// display. Invariant after every operation: entry k of brand_box and entry k of ticked_logos() belong to the
// same brand (same count, same order), because the receipt takes its logo from ticked_logos() at the
// selection index of brand_box.

#include "runtime/controls/controls.h"
#include "runtime/settings/settings.h"
#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <functional>
#include <string>
#include <vector>

namespace vorsa::app {

using runtime::Bytes;
using runtime::Text;
using runtime::TextList;

// Command identifiers of the two popup menus: brand i (1-based) carries brand_command_base + i, the
// history entry at position i carries history_command_base + i. on_menu_command tells them apart by the
// thresholds: above brand_command_floor a brand, above history_command_floor a history entry, anything
// lower (1 and 2 from Enter and Esc) is ignored.
inline constexpr int brand_command_base = 13245;
inline constexpr int history_command_base = 13145;
inline constexpr int brand_command_floor = 13240;
inline constexpr int history_command_floor = 13140;

// Positions of the history beyond this one are dropped when the history is rebuilt. The stored value
// starts with the separator, so its first part is empty and at most 19 entries survive.
inline constexpr int history_positions = 20;

// The controls the lists read and fill; they belong to the window and outlive the Lists.
struct ListControls
{
    runtime::DropDownList& brand_box;   // fixed list: the ticked brands
    runtime::DropDownList& shop_box;    // editable list: shop names, the field may hold a new one
    runtime::DropDownList& printer_box; // fixed list: the installed printers
    runtime::EditBox& product_edit;
    runtime::EditBox& size_edit;
    runtime::EditBox& price_edit;
    runtime::EditBox& clerk_edit;
    runtime::EditBox& address_edit;
    runtime::PopupMenu& brand_menu;
    runtime::PopupMenu& history_menu;
};

// Fills `names` with the printers' names in the spooler's order and returns their number; leaves the
// list as it was and returns 0 when there are none (runtime::list_printers has this shape).
using PrinterNameSource = std::function<int(TextList& names)>;

class Lists
{
public:
    Lists(ListControls controls, std::string settings_path);

    // At start: one brand_menu item per brand (text brand_names[i], command brand_command_base + i), the
    // items whose name followed by "|" is found in `ticked_text` checked and their names and logos put
    // into brand_box and ticked_logos() in menu order; the first entry of brand_box selected. The names
    // and logos are kept for the run. They must have the same length (a caller's fault otherwise).
    void build_brand_lists(TextList brand_names, std::vector<Bytes> brand_logos, const Text& ticked_text);

    // At start: the shops with their selection, the clerk and the address from the settings file, and
    // the printers from `printers`, the remembered one selected if it is still installed. The
    // remembered printer name stays in force whether or not it was found.
    void load_remembered_values(const PrinterNameSource& printers);

    // Adds `names` to printer_box in their order, the remembered printer selected if it is among them
    // (the printer part of load_remembered_values, for a list that arrives later).
    void add_printers(const TextList& names);

    // Adds `entry` (product|size|money) in front of the stored history unless it is found anywhere in
    // it, keeps the first history_positions positions, writes the history back when it is not empty and
    // rebuilds history_menu from it. An empty entry only rebuilds (at start).
    void rebuild_history_menu(const Text& entry);
    // The same, with the history's write added to `changes` instead, for a caller that saves it together
    // with other values (the start, with the online brands).
    void rebuild_history_menu(const Text& entry, runtime::SettingChanges& changes);

    // Open the menus at the mouse cursor; a chosen item arrives later through on_menu_command.
    void show_brand_menu();
    void show_history_menu();

    // A menu command of the main window: toggles a brand (rebuilding brand_box and ticked_logos, the
    // ticked brand selected, nothing selected after unticking, "pplist" written) or copies a history
    // entry of exactly three fields into product, size and price. Other identifiers are ignored.
    void on_menu_command(int id);

    // "X": deletes the first shop entry equal to the typed name, selects entry k (the last entry after
    // a deletion, the first when nothing matched) and writes k and the entries as "dm".
    void remove_shop();

    // Selection change of printer_box: the selected name becomes the remembered printer and is written.
    void remember_printer();

    // Before printing: adds the typed shop name if no entry equals it, writes "dm" (its index when new,
    // the selection otherwise), the clerk and the address, all three in one write of the file.
    void remember_shop_values();

    const TextList& brand_names() const { return m_brand_names; }
    const std::vector<Bytes>& brand_logos() const { return m_brand_logos; }
    // Parallel to the entries of brand_box.
    const std::vector<Bytes>& ticked_logos() const { return m_ticked_logos; }
    // The printer the receipt is printed on: read at start, changed only by remember_printer.
    const Text& printer_name() const { return m_printer_name; }
    const std::string& settings_path() const { return m_settings_path; }

private:
    // Adds a ticked brand at the end of brand_box with its logo; the index in brand_box, or -1 when the
    // list refused it (then no logo is added either, so the two stay parallel).
    int add_ticked_brand(const Text& name, int position);
    // The "dm" text: `index`, then "," and each entry of shop_box.
    Text shops_text(int index) const;
    // Every value the lists write goes through here, the values of one action in one write of the file;
    // a line break in a value is stored as one blank.
    void store(runtime::SettingChanges changes);

    ListControls m_controls;
    std::string m_settings_path;
    TextList m_brand_names;
    std::vector<Bytes> m_brand_logos;
    std::vector<Bytes> m_ticked_logos;
    // The history as split when history_menu was built: the item of position i carries entry i.
    TextList m_history_entries;
    Text m_printer_name;
};

} // namespace vorsa::app
