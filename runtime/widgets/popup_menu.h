#pragma once
// Popup menus over QMenu: string items with command identifiers and check marks, shown at a screen
// position. The choice is not returned: it reaches the owner window afterwards as a menu command.

#include "runtime/controls/controls.h"

#include <QPoint>
#include <QPointer>
#include <functional>
#include <vector>

class QAction;
class QMenu;

namespace vorsa::runtime {

class MainDialog;

// Tracks a shown menu until the user picks an item (returned) or dismisses it (nullptr). The default
// runs QMenu::exec; tests install one that picks for the user.
using MenuChooser = std::function<QAction*(QMenu& menu, const QPoint& at)>;

// Installs a chooser; an empty one restores the default.
void set_menu_chooser(MenuChooser chooser);
MenuChooser menu_chooser();

class QtPopupMenu : public PopupMenu
{
public:
    QtPopupMenu() = default;
    ~QtPopupMenu() override;
    QtPopupMenu(const QtPopupMenu&) = delete;
    QtPopupMenu& operator=(const QtPopupMenu&) = delete;

    // The window that is brought to the foreground and receives the chosen command.
    void set_owner(MainDialog* owner);

    bool create_popup_menu() override;
    void destroy_popup_menu() override;
    bool append_menu_item(const Text& text, int command_id) override;
    // The state word: 8 shows the check mark, 1 or 2 disables the item. False for an unknown item.
    bool set_menu_item_state(int item, int state, bool by_position) override;
    // The state word last set (0 for a new item), or -1 for an unknown item.
    int get_menu_item_state(int item, bool by_position) const override;
    Text get_menu_item_text(int item, bool by_position) const override;
    int get_menu_item_id(int position) const override;
    int menu_item_count() const override;
    // Brings the owner to the foreground, shows the menu with its top-left corner at the screen
    // position (x, y) and returns when it closes; a chosen item's command is posted to the owner.
    // Called from the click handler of a button pressed without the mouse (button_clicked_without_mouse),
    // it shows the menu under that button instead.
    void show_popup_menu(int x, int y) override;

    QMenu* menu() const { return m_menu; }

private:
    struct Item
    {
        QAction* action;
        int id;
        int state;
    };
    Item* find(int item, bool by_position);
    const Item* find(int item, bool by_position) const;
    static void apply_state(const Item& item);

    QPointer<MainDialog> m_owner;
    QMenu* m_menu = nullptr;
    std::vector<Item> m_items;
};

} // namespace vorsa::runtime
