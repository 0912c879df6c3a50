#pragma once
// The window's controls over Win32: edit boxes, drop-down lists (combo boxes), push buttons, the spin
// control (up-down control) and popup menus, as runtime/controls/controls.h states them. An object is
// attached to a control of a dialog by its identifier (bind_control); from then on the parent window's
// notifications about that control reach the object's handlers, and its colour requests get the white
// background (black text; under high contrast the system's colours stay). Texts cross this boundary as GBK
// and reach the window system as UTF-16 (the W messages), converted through code page 936 whatever the
// system's own code page is.
//
// Every object is made empty and can outlive its window: when the parent window is destroyed the
// objects bound to it are let go, operations on them then affect no window, and they can be bound
// again. Use them on the thread that owns the window.

#include "runtime/controls/controls.h"

#include <functional>
#include <string>
#include <vector>
#include <windows.h>

namespace vorsa::runtime {

class ParentRouter;

// What every control object shares: its window (none before binding) and visibility.
class Win32ControlBase
{
public:
    HWND window() const { return m_window; }
    bool is_bound() const { return m_window != nullptr; }

protected:
    Win32ControlBase() = default;
    ~Win32ControlBase();
    Win32ControlBase(const Win32ControlBase&) = delete;
    Win32ControlBase& operator=(const Win32ControlBase&) = delete;

    // Attaches the object to dialog item `id` of `parent` when the object has no window yet and the
    // item's window class is `window_class`; routes the parent's notifications about it to the object.
    // With `font`, switches the item to the default GUI font; with `white`, answers its colour
    // requests with a white background.
    bool attach(HWND parent, int id, const wchar_t* window_class, bool font, bool white);
    void show_window(bool shown);
    bool window_visible() const;

    // A WM_COMMAND notification from the control; true when handled.
    virtual bool on_command(int code);
    // A WM_NOTIFY notification from the control; true when handled, with the answer in `result`.
    virtual bool on_notify(const NMHDR& header, LRESULT& result);

private:
    friend class ParentRouter;
    // The parent's window was destroyed.
    void detach();

    HWND m_window = nullptr;
    ParentRouter* m_router = nullptr;
    bool m_white = false;
};

// An edit box (single or multi-line). A text set by the program reads back as the same bytes as long as
// the box shows it unchanged, also bytes that GBK to UTF-16 and back would change.
class Win32EditBox : public EditBox, public Win32ControlBase
{
public:
    // Attaches the object to the edit box `id` of `parent`, switches it to the default GUI font on a white
    // background. False when there is no such edit box or the object is bound already.
    bool bind_control(HWND parent, int id);

    void set_visible(bool shown) override { show_window(shown); }
    bool is_visible() const override { return window_visible(); }
    Text get_control_text() const override;
    bool set_control_text(const Text& text) override;

private:
    Text m_given;
    std::u16string m_shown;
};

// A drop-down list: editable (CBS_DROPDOWN, a typed text of its own) or fixed (CBS_DROPDOWNLIST, shows
// the selected item). Items keep the bytes they were added with.
class Win32DropDownList : public DropDownList, public Win32ControlBase
{
public:
    // Attaches the object to the combo box `id` of `parent`, switches it to the default GUI font on a
    // white background. False when there is no such combo box or the object is bound already.
    bool bind_control(HWND parent, int id);

    void set_visible(bool shown) override { show_window(shown); }
    bool is_visible() const override { return window_visible(); }
    // The edit field of an editable list; the selected item's text (empty if none) of a fixed one.
    Text get_control_text() const override;
    // The edit field of an editable list; false for a fixed list.
    bool set_control_text(const Text& text) override;
    int add_item(const Text& text) override;
    Text get_item_text(int index) const override;
    int item_count() const override;
    int get_selection() const override;
    bool set_selection(int index) override;
    int delete_item(int index) override;
    void clear_items() override;
    // Raised by CBN_SELCHANGE: the user changed the selection (not set_selection).
    void on_selection_changed(std::function<void()> handler) override { m_changed = std::move(handler); }

private:
    bool on_command(int code) override;
    bool editable() const;
    // The bytes of the item whose text the list shows as `shown`, at `index` or else anywhere; false when
    // no item reads so.
    bool item_bytes(int index, const std::u16string& shown, Text& bytes) const;

    struct Item
    {
        Text bytes;
        std::u16string shown;
    };
    std::vector<Item> m_items;
    Text m_given;
    std::u16string m_shown;
    std::function<void()> m_changed;
};

class Win32PushButton : public PushButton, public Win32ControlBase
{
public:
    // Attaches the object to the push button `id` of `parent` and switches it to the default GUI font.
    bool bind_control(HWND parent, int id);

    void set_visible(bool shown) override { show_window(shown); }
    bool is_visible() const override { return window_visible(); }
    // Raised by BN_CLICKED.
    void on_click(std::function<void()> handler) override { m_clicked = std::move(handler); }

private:
    bool on_command(int code) override;
    std::function<void()> m_clicked;
};

// The push button whose click handler runs now when the mouse pointer is not over it: the click came from
// the keyboard (Space, Enter) or an assistive technology. nullptr otherwise.
HWND button_clicked_without_mouse();

class Win32SpinControl : public SpinControl, public Win32ControlBase
{
public:
    // Makes sure the window system knows the up-down control class (the dialog template needs it).
    Win32SpinControl();

    // Attaches the object to the up-down control `id` of `parent`; its range stays the system's default
    // (100 down to 0), so the upper arrow proposes -1 and the lower one +1.
    bool bind_control(HWND parent, int id);

    void set_visible(bool shown) override { show_window(shown); }
    bool is_visible() const override { return window_visible(); }
    // Raised by UDN_DELTAPOS with the proposed change.
    void on_delta(std::function<void(int delta)> handler) override { m_delta = std::move(handler); }

private:
    bool on_notify(const NMHDR& header, LRESULT& result) override;
    std::function<void(int)> m_delta;
};

// A popup menu of string items with command identifiers and check marks. The chosen item is not
// returned: the window system sends its command to the owner window afterwards (WM_COMMAND from no
// control, notification code 0), where the dialog hands it to the menu-command handler.
class Win32PopupMenu : public PopupMenu
{
public:
    Win32PopupMenu() = default;
    ~Win32PopupMenu() override;
    Win32PopupMenu(const Win32PopupMenu&) = delete;
    Win32PopupMenu& operator=(const Win32PopupMenu&) = delete;

    // The window that is brought to the foreground, owns the shown menu and receives the chosen command.
    void set_owner(HWND owner) { m_owner = owner; }
    HWND owner() const { return m_owner; }
    HMENU menu() const { return m_menu; }

    bool create_popup_menu() override;
    // Destroying a menu while it is shown closes it first.
    void destroy_popup_menu() override;
    // The text shows as it is: "&" marks no mnemonic.
    bool append_menu_item(const Text& text, int command_id) override;
    // Sets the item's state word (8 checked, 0 unchecked; 3 disabled). False for an unknown item.
    bool set_menu_item_state(int item, int state, bool by_position) override;
    // The item's state word, or -1 for an unknown item.
    int get_menu_item_state(int item, bool by_position) const override;
    Text get_menu_item_text(int item, bool by_position) const override;
    int get_menu_item_id(int position) const override;
    int menu_item_count() const override;
    // Brings the owner to the foreground and tracks the menu with its top-left corner at the screen
    // position (x, y), or right under the button when a click from the keyboard opened it (see
    // button_clicked_without_mouse); returns when the menu closes. Nothing happens without an owner.
    void show_popup_menu(int x, int y) override;

private:
    // The position of an item given by command identifier or position, or -1.
    int position_of(int item, bool by_position) const;

    HWND m_owner = nullptr;
    HMENU m_menu = nullptr;
    // The bytes of each item's text, in menu order.
    std::vector<Text> m_texts;
    // The menu being tracked, and whether it was destroyed meanwhile: it is released once tracking ends.
    HMENU m_tracked = nullptr;
    bool m_tracked_destroyed = false;
};

} // namespace vorsa::runtime
