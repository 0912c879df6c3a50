#include "runtime/controls/memory_controls.h"

namespace vorsa::runtime {

bool MemoryEditBox::set_control_text(const Text& text)
{
    m_text = text;
    return true;
}

Text MemoryDropDownList::get_control_text() const
{
    if (m_editable) return m_typed;
    return m_selection >= 0 ? m_items[static_cast<std::size_t>(m_selection)] : Text{};
}

bool MemoryDropDownList::set_control_text(const Text& text)
{
    if (!m_editable) return false;
    m_typed = text;
    return true;
}

int MemoryDropDownList::add_item(const Text& text)
{
    m_items.push_back(text);
    return item_count() - 1;
}

Text MemoryDropDownList::get_item_text(int index) const
{
    if (index < 0 || index >= item_count()) return {};
    return m_items[static_cast<std::size_t>(index)];
}

bool MemoryDropDownList::set_selection(int index)
{
    if (index < 0 || index >= item_count()) {
        m_selection = -1;
        // Like the platform's list, an invalid index also empties the edit field.
        if (m_editable) m_typed.clear();
        return false;
    }
    m_selection = index;
    // Selecting an item of an editable list puts its text into the edit field.
    if (m_editable) m_typed = m_items[static_cast<std::size_t>(index)];
    return true;
}

int MemoryDropDownList::delete_item(int index)
{
    if (index < 0 || index >= item_count()) return -1;
    m_items.erase(m_items.begin() + index);
    if (m_selection == index)
        m_selection = -1;
    else if (m_selection > index)
        --m_selection;
    return item_count();
}

void MemoryDropDownList::clear_items()
{
    m_items.clear();
    m_selection = -1;
}

void MemoryDropDownList::choose(int index)
{
    set_selection(index);
    if (m_changed) m_changed();
}

bool MemoryPopupMenu::create_popup_menu()
{
    if (m_exists) return false;
    m_exists = true;
    m_items.clear();
    return true;
}

void MemoryPopupMenu::destroy_popup_menu()
{
    m_exists = false;
    m_items.clear();
}

bool MemoryPopupMenu::append_menu_item(const Text& text, int command_id)
{
    if (!m_exists) return false;
    m_items.push_back({text, command_id, menu_unchecked});
    return true;
}

const MemoryPopupMenu::Item* MemoryPopupMenu::find(int item, bool by_position) const
{
    if (by_position)
        return item >= 0 && item < menu_item_count() ? &m_items[static_cast<std::size_t>(item)] : nullptr;
    for (const Item& candidate : m_items)
        if (candidate.id == item) return &candidate;
    return nullptr;
}

bool MemoryPopupMenu::set_menu_item_state(int item, int state, bool by_position)
{
    auto* found = const_cast<Item*>(find(item, by_position));
    if (!found) return false;
    found->state = state;
    return true;
}

int MemoryPopupMenu::get_menu_item_state(int item, bool by_position) const
{
    const Item* found = find(item, by_position);
    return found ? found->state : -1;
}

Text MemoryPopupMenu::get_menu_item_text(int item, bool by_position) const
{
    const Item* found = find(item, by_position);
    return found ? found->text : Text{};
}

int MemoryPopupMenu::get_menu_item_id(int position) const
{
    const Item* found = find(position, true);
    return found ? found->id : -1;
}

int MemoryPopupMenu::menu_item_count() const
{
    return static_cast<int>(m_items.size());
}

void MemoryPopupMenu::show_popup_menu(int, int)
{
    ++m_shown;
}

} // namespace vorsa::runtime
