#pragma once
// The window's controls as the program sees them: edit boxes, drop-down lists, push buttons, the spin
// control and popup menus, with the operations and events the program uses. The Qt implementations
// live in runtime/widgets/; runtime/controls/memory_controls.h holds plain in-memory ones, so the program's
// logic (lists, history, receipt input) tests without a display. Texts are GBK; list indices are 0-based with
// -1 for none.

#include "runtime/text/text.h"

#include <functional>

namespace vorsa::runtime {

class Control
{
public:
    virtual ~Control() = default;
    virtual void set_visible(bool shown) = 0;
    virtual bool is_visible() const = 0;
};

class TextControl : public Control
{
public:
    // The control's whole text; for a fixed drop-down list the selected item's text (empty if none).
    virtual Text get_control_text() const = 0;
    virtual bool set_control_text(const Text& text) = 0;
};

class EditBox : public TextControl
{
};

class DropDownList : public TextControl
{
public:
    // Index of the new last item, or a negative value when the list refused it.
    virtual int add_item(const Text& text) = 0;
    // The item's text; empty for an index outside the list.
    virtual Text get_item_text(int index) const = 0;
    virtual int item_count() const = 0;
    virtual int get_selection() const = 0;
    // Selects the item; -1 clears the selection and returns false, as does a bad index.
    virtual bool set_selection(int index) = 0;
    // The number of items left, or -1 for a bad index.
    virtual int delete_item(int index) = 0;
    virtual void clear_items() = 0;
    // Called whenever the user changes the selection.
    virtual void on_selection_changed(std::function<void()> handler) = 0;
};

class PushButton : public Control
{
public:
    virtual void on_click(std::function<void()> handler) = 0;
};

class SpinControl : public Control
{
public:
    // Called with the change the control proposes: -1 for the upper arrow, +1 for the lower one.
    virtual void on_delta(std::function<void(int delta)> handler) = 0;
};

// Menu item states the program sets and tests.
inline constexpr int menu_unchecked = 0;
inline constexpr int menu_checked = 8;

class PopupMenu
{
public:
    virtual ~PopupMenu() = default;
    // False when the object already holds a menu.
    virtual bool create_popup_menu() = 0;
    virtual void destroy_popup_menu() = 0;
    virtual bool append_menu_item(const Text& text, int command_id) = 0;
    // `item` is a command identifier, or a 0-based position when by_position is set.
    virtual bool set_menu_item_state(int item, int state, bool by_position) = 0;
    virtual int get_menu_item_state(int item, bool by_position) const = 0;
    virtual Text get_menu_item_text(int item, bool by_position) const = 0;
    // The command identifier of the item at a 0-based position, or -1.
    virtual int get_menu_item_id(int position) const = 0;
    virtual int menu_item_count() const = 0;
    // Shows the menu at the screen position and returns when it closes; a chosen item arrives
    // afterwards as a menu command of the main window.
    virtual void show_popup_menu(int x, int y) = 0;
};

} // namespace vorsa::runtime
