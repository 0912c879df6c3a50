#include "runtime/widgets/popup_menu.h"

#include "runtime/qt/qt_text.h"
#include "runtime/widgets/window_controls.h"

#include <QAction>
#include <QMenu>
#include <utility>

namespace vorsa::runtime {

namespace {

QAction* run_menu(QMenu& menu, const QPoint& at)
{
    return menu.exec(at);
}

MenuChooser& chooser()
{
    static MenuChooser installed = run_menu;
    return installed;
}

constexpr int state_disabled = 0x1 | 0x2;

} // namespace

void set_menu_chooser(MenuChooser replacement)
{
    chooser() = replacement ? std::move(replacement) : MenuChooser(run_menu);
}

MenuChooser menu_chooser()
{
    return chooser();
}

QtPopupMenu::~QtPopupMenu()
{
    destroy_popup_menu();
}

void QtPopupMenu::set_owner(MainDialog* owner)
{
    m_owner = owner;
}

bool QtPopupMenu::create_popup_menu()
{
    if (m_menu) return false;
    m_menu = new QMenu;
    return true;
}

void QtPopupMenu::destroy_popup_menu()
{
    if (!m_menu) return;
    m_items.clear();
    // A handler that runs while the menu is still open (events are dispatched during long work) may
    // rebuild it; the open menu then goes once its loop is done.
    if (m_menu->isVisible()) {
        m_menu->hide();
        m_menu->deleteLater();
    } else {
        delete m_menu;
    }
    m_menu = nullptr;
}

bool QtPopupMenu::append_menu_item(const Text& text, int command_id)
{
    if (!m_menu) return false;
    QAction* action = m_menu->addAction(to_qstring(text));
    m_items.push_back({action, command_id, menu_unchecked});
    return true;
}

QtPopupMenu::Item* QtPopupMenu::find(int item, bool by_position)
{
    return const_cast<Item*>(std::as_const(*this).find(item, by_position));
}

const QtPopupMenu::Item* QtPopupMenu::find(int item, bool by_position) const
{
    if (by_position)
        return item >= 0 && item < menu_item_count() ? &m_items[static_cast<std::size_t>(item)] : nullptr;
    for (const Item& candidate : m_items)
        if (candidate.id == item) return &candidate;
    return nullptr;
}

void QtPopupMenu::apply_state(const Item& item)
{
    // Only a checked item is checkable: Qt would otherwise toggle the mark itself when it is picked,
    // while here the program decides every mark.
    const bool checked = (item.state & menu_checked) != 0;
    item.action->setCheckable(checked);
    item.action->setChecked(checked);
    item.action->setEnabled((item.state & state_disabled) == 0);
}

bool QtPopupMenu::set_menu_item_state(int item, int state, bool by_position)
{
    Item* found = find(item, by_position);
    if (!found) return false;
    found->state = state;
    apply_state(*found);
    return true;
}

int QtPopupMenu::get_menu_item_state(int item, bool by_position) const
{
    const Item* found = find(item, by_position);
    return found ? found->state : -1;
}

Text QtPopupMenu::get_menu_item_text(int item, bool by_position) const
{
    const Item* found = find(item, by_position);
    return found ? from_qstring(found->action->text()) : Text{};
}

int QtPopupMenu::get_menu_item_id(int position) const
{
    const Item* found = find(position, true);
    return found ? found->id : -1;
}

int QtPopupMenu::menu_item_count() const
{
    return static_cast<int>(m_items.size());
}

void QtPopupMenu::show_popup_menu(int x, int y)
{
    if (!m_menu) return;
    if (m_owner) {
        m_owner->raise();
        m_owner->activateWindow();
    }
    // A menu that a button opens for the keyboard's user drops down from that button: the mouse pointer
    // may be anywhere.
    QPoint at(x, y);
    if (const QWidget* button = button_clicked_without_mouse())
        at = button->mapToGlobal(QPoint(0, button->height()));
    // Keep the menu alive across the chooser: a handler run meanwhile may destroy and rebuild it.
    QPointer<QMenu> menu = m_menu;
    QAction* chosen = chooser()(*menu, at);
    if (!chosen || !menu || menu != m_menu) return;
    for (const Item& item : m_items) {
        if (item.action != chosen) continue;
        // Picking an item changes no mark by itself.
        apply_state(item);
        if (m_owner) m_owner->post_menu_command(item.id);
        return;
    }
}

} // namespace vorsa::runtime
