#include "app/lists.h"

#include "runtime/controls/interaction.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/fatal.h"
#include "runtime/text/numbers.h"

#include <cassert>
#include <utility>

namespace vorsa::app {

using runtime::find_text;
using runtime::read_setting;
using runtime::single_line;
using runtime::split_text;
using runtime::write_setting;

Lists::Lists(ListControls controls, std::string settings_path)
    : m_controls(controls), m_settings_path(std::move(settings_path))
{
}

int Lists::add_ticked_brand(const Text& name, int position)
{
    const int index = m_controls.brand_box.add_item(name);
    if (index < 0) return -1;
    // A brand position without a logo is a fault of the lists' own bookkeeping: it ends the program
    // through the fault handler instead of reading past the list.
    m_ticked_logos.push_back(runtime::element(m_brand_logos, position));
    return index;
}

void Lists::build_brand_lists(TextList brand_names, std::vector<Bytes> brand_logos, const Text& ticked_text)
{
    assert(brand_names.size() == brand_logos.size());
    m_brand_names = std::move(brand_names);
    m_brand_logos = std::move(brand_logos);

    auto& menu = m_controls.brand_menu;
    menu.destroy_popup_menu();
    menu.create_popup_menu();
    m_controls.brand_box.clear_items();
    m_ticked_logos.clear();

    const int count = static_cast<int>(m_brand_names.size());
    for (int i = 1; i <= count; ++i) {
        const Text& name = runtime::element(m_brand_names, i);
        const int id = brand_command_base + i;
        menu.append_menu_item(name, id);
        // A plain search, so "新耐克|" also ticks 耐克 and any ticked brand ticks an empty name.
        if (find_text(ticked_text, name + Text(brand_terminator)) > 0) {
            // By position: a search by identifier would make building quadratic in the brands.
            menu.set_menu_item_state(i - 1, runtime::menu_checked, true);
            add_ticked_brand(name, i);
        }
    }
    m_controls.brand_box.set_selection(0);
}

void Lists::load_remembered_values(const PrinterNameSource& printers)
{
    const Text shops = read_setting(m_settings_path, section_print, key_shops);
    const Text clerk = read_setting(m_settings_path, section_print, key_clerk);
    const Text address = read_setting(m_settings_path, section_print, key_address);
    m_printer_name = read_setting(m_settings_path, section_dayinji, key_printer);

    const TextList parts = split_text(shops, shop_separator);
    auto& shop_box = m_controls.shop_box;
    shop_box.clear_items();
    if (parts.size() >= 2) {
        for (std::size_t i = 1; i < parts.size(); ++i)
            shop_box.add_item(parts[i]);
        // An index outside the list selects nothing.
        shop_box.set_selection(runtime::to_integer(parts.front()));
    }

    m_controls.clerk_edit.set_control_text(clerk);
    m_controls.address_edit.set_control_text(address);

    TextList names;
    if (printers) printers(names);
    add_printers(names);
}

void Lists::add_printers(const TextList& names)
{
    for (const Text& name : names) {
        const int index = m_controls.printer_box.add_item(name);
        if (index >= 0 && name == m_printer_name) m_controls.printer_box.set_selection(index);
    }
}

void Lists::rebuild_history_menu(const Text& entry)
{
    runtime::SettingChanges changes;
    rebuild_history_menu(entry, changes);
    store(std::move(changes));
}

void Lists::rebuild_history_menu(const Text& entry, runtime::SettingChanges& changes)
{
    auto& menu = m_controls.history_menu;
    menu.destroy_popup_menu();
    menu.create_popup_menu();

    Text history = read_setting(m_settings_path, section_ls, key_history);
    // Found anywhere, also inside a longer entry: then it is not added again and keeps its place. The
    // entry is compared as it is stored.
    const Text stored_entry = single_line(entry);
    if (!stored_entry.empty() && find_text(history, stored_entry) < 0)
        history = stored_entry + Text(history_separator) + history;

    TextList parts = split_text(history, history_separator);
    if (parts.size() > static_cast<std::size_t>(history_positions)) parts.resize(history_positions);
    Text result;
    for (int i = 1; i <= static_cast<int>(parts.size()); ++i) {
        const Text& part = runtime::element(parts, i);
        if (part.empty()) continue;
        result += Text(history_separator) + part;
        menu.append_menu_item(part, history_command_base + i);
    }
    m_history_entries = std::move(parts);
    if (!result.empty()) changes.push_back({section_ls, key_history, single_line(result)});
}

void Lists::show_brand_menu()
{
    m_controls.brand_menu.show_popup_menu(runtime::cursor_x(), runtime::cursor_y());
}

void Lists::show_history_menu()
{
    m_controls.history_menu.show_popup_menu(runtime::cursor_x(), runtime::cursor_y());
}

void Lists::on_menu_command(int id)
{
    if (id > brand_command_floor) {
        auto& menu = m_controls.brand_menu;
        auto& brand_box = m_controls.brand_box;
        brand_box.clear_items();
        m_ticked_logos.clear();

        const bool was_checked = menu.get_menu_item_state(id, false) == runtime::menu_checked;
        menu.set_menu_item_state(id, was_checked ? runtime::menu_unchecked : runtime::menu_checked, false);

        // Rebuilt in menu order, not ticking order; only a brand just ticked ends up selected.
        Text ticked;
        const int count = menu.menu_item_count();
        for (int p = 1; p <= count; ++p) {
            if (menu.get_menu_item_state(p - 1, true) != runtime::menu_checked) continue;
            // The name as stored, not as the menu shows it: a name that is not valid GBK comes back
            // from the widget changed and would no longer tick the brand at the next start.
            const Text& name = runtime::element(m_brand_names, p);
            ticked += name + Text(brand_terminator);
            const int index = add_ticked_brand(name, p);
            if (index >= 0 && menu.get_menu_item_id(p - 1) == id) brand_box.set_selection(index);
        }
        store({{section_print, key_ticked_brands, ticked}});
    } else if (id > history_command_floor) {
        // The entry as stored (the menu's item at that position carries its text); positions without
        // an item are ignored.
        const int position = id - history_command_base;
        if (position < 1 || position > static_cast<int>(m_history_entries.size())) return;
        const TextList fields =
            split_text(runtime::element(m_history_entries, position), history_field_separator);
        if (fields.size() != 3) return;
        m_controls.product_edit.set_control_text(fields[0]);
        m_controls.size_edit.set_control_text(fields[1]);
        m_controls.price_edit.set_control_text(fields[2]);
    }
}

Text Lists::shops_text(int index) const
{
    const auto& shop_box = m_controls.shop_box;
    Text shops = runtime::to_text(index);
    for (int i = 0; i < shop_box.item_count(); ++i)
        shops += Text(shop_separator) + shop_box.get_item_text(i);
    return shops;
}

void Lists::remove_shop()
{
    auto& shop_box = m_controls.shop_box;
    const Text typed = shop_box.get_control_text();
    int k = 0;
    for (int i = 0; i < shop_box.item_count(); ++i) {
        if (shop_box.get_item_text(i) != typed) continue;
        shop_box.delete_item(i);
        k = shop_box.item_count() - 1;
        break;
    }
    // -1 after deleting the only entry clears the selection and the field; 0 without a match puts the
    // first entry (if any) into the field.
    shop_box.set_selection(k);
    store({{section_print, key_shops, shops_text(k)}});
}

void Lists::remember_printer()
{
    const auto& printer_box = m_controls.printer_box;
    m_printer_name = printer_box.get_item_text(printer_box.get_selection());
    write_setting(m_settings_path, section_dayinji, key_printer, m_printer_name);
}

void Lists::remember_shop_values()
{
    auto& shop_box = m_controls.shop_box;
    // The name as it will be stored, so a name typed with a line break is not added again at each print.
    const Text typed = single_line(shop_box.get_control_text());
    bool found = false;
    for (int i = 0; i < shop_box.item_count() && !found; ++i)
        found = shop_box.get_item_text(i) == typed;

    int k = shop_box.get_selection();
    if (!found && shop_box.add_item(typed) >= 0) k = shop_box.item_count() - 1;
    store({{section_print, key_shops, shops_text(k)},
           {section_print, key_clerk, m_controls.clerk_edit.get_control_text()},
           {section_print, key_address, m_controls.address_edit.get_control_text()}});
}

void Lists::store(runtime::SettingChanges changes)
{
    for (runtime::SettingChange& change : changes)
        change.value = single_line(change.value);
    runtime::write_settings(m_settings_path, changes);
}

} // namespace vorsa::app
