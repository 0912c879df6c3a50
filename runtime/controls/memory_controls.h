#pragma once
// In-memory controls: the state and events of the window's controls without a window. Tests drive the
// program's logic through them; `choose` and `click` play the user.

#include "runtime/controls/controls.h"

#include <optional>
#include <vector>

namespace vorsa::runtime {

class MemoryEditBox : public EditBox
{
public:
    void set_visible(bool shown) override { m_visible = shown; }
    bool is_visible() const override { return m_visible; }
    Text get_control_text() const override { return m_text; }
    bool set_control_text(const Text& text) override;

private:
    Text m_text;
    bool m_visible = true;
};

class MemoryDropDownList : public DropDownList
{
public:
    // An editable list keeps a typed text of its own; a fixed one shows the selected item.
    explicit MemoryDropDownList(bool editable = false) : m_editable(editable) {}

    void set_visible(bool shown) override { m_visible = shown; }
    bool is_visible() const override { return m_visible; }
    Text get_control_text() const override;
    bool set_control_text(const Text& text) override;
    int add_item(const Text& text) override;
    Text get_item_text(int index) const override;
    int item_count() const override { return static_cast<int>(m_items.size()); }
    int get_selection() const override { return m_selection; }
    bool set_selection(int index) override;
    int delete_item(int index) override;
    void clear_items() override;
    void on_selection_changed(std::function<void()> handler) override { m_changed = std::move(handler); }

    // The user picks an item: selects it and raises the event.
    void choose(int index);
    const std::vector<Text>& items() const { return m_items; }

private:
    bool m_editable;
    bool m_visible = true;
    std::vector<Text> m_items;
    int m_selection = -1;
    Text m_typed;
    std::function<void()> m_changed;
};

class MemoryPushButton : public PushButton
{
public:
    void set_visible(bool shown) override { m_visible = shown; }
    bool is_visible() const override { return m_visible; }
    void on_click(std::function<void()> handler) override { m_clicked = std::move(handler); }
    void click()
    {
        if (m_clicked) m_clicked();
    }

private:
    bool m_visible = true;
    std::function<void()> m_clicked;
};

class MemorySpinControl : public SpinControl
{
public:
    void set_visible(bool shown) override { m_visible = shown; }
    bool is_visible() const override { return m_visible; }
    void on_delta(std::function<void(int)> handler) override { m_delta = std::move(handler); }
    void press_up() { step(-1); }
    void press_down() { step(+1); }

private:
    void step(int delta)
    {
        if (m_delta) m_delta(delta);
    }
    bool m_visible = true;
    std::function<void(int)> m_delta;
};

class MemoryPopupMenu : public PopupMenu
{
public:
    bool create_popup_menu() override;
    void destroy_popup_menu() override;
    bool append_menu_item(const Text& text, int command_id) override;
    bool set_menu_item_state(int item, int state, bool by_position) override;
    int get_menu_item_state(int item, bool by_position) const override;
    Text get_menu_item_text(int item, bool by_position) const override;
    int get_menu_item_id(int position) const override;
    int menu_item_count() const override;
    void show_popup_menu(int x, int y) override;

    bool exists() const { return m_exists; }
    int times_shown() const { return m_shown; }

private:
    struct Item
    {
        Text text;
        int id;
        int state;
    };
    const Item* find(int item, bool by_position) const;

    bool m_exists = false;
    std::vector<Item> m_items;
    int m_shown = 0;
};

} // namespace vorsa::runtime
