#include "runtime/win32/win32_controls.h"

#include "runtime/text/gbk.h"

#include <algorithm>
#include <commctrl.h>

namespace vorsa::runtime {

namespace {

constexpr UINT_PTR router_subclass_id = 1;
// The window property under which a parent window keeps its router.
constexpr wchar_t router_property[] = L"vorsa.controls.router";
constexpr COLORREF white = RGB(255, 255, 255);
constexpr COLORREF black = RGB(0, 0, 0);

const wchar_t* wide(const std::u16string& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string window_text(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return {};
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(static_cast<std::size_t>(std::clamp(copied, 0, length)));
    return text;
}

bool has_class(HWND window, const wchar_t* expected)
{
    wchar_t name[64] = {};
    return GetClassNameW(window, name, 64) > 0 && lstrcmpiW(name, expected) == 0;
}

// The system's colours stay in force for users who chose high contrast.
bool high_contrast()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

HBRUSH white_brush()
{
    return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

// A menu label shows "&" as the mark of a mnemonic; doubled, it shows as itself.
std::u16string menu_label(const Text& text)
{
    std::u16string label;
    for (const char16_t unit : utf16_from_gbk(text)) {
        label += unit;
        if (unit == u'&') label += u'&';
    }
    return label;
}

Text text_of_label(const std::u16string& label)
{
    std::u16string text;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] == u'&' && i + 1 < label.size() && label[i + 1] == u'&') ++i;
        text += label[i];
    }
    return gbk_from_utf16(text);
}

// The push button whose click handler runs now, when the mouse pointer is not over it.
HWND clicked_without_mouse = nullptr;

} // namespace

// Routes a parent window's notifications about its bound controls to their objects, and answers their
// colour requests. One per parent window, attached as a window subclass; it goes with the window.
class ParentRouter
{
public:
    // The router of `parent`; a new one when there is none yet.
    static ParentRouter* of(HWND parent)
    {
        if (HANDLE kept = GetPropW(parent, router_property)) return static_cast<ParentRouter*>(kept);
        auto* router = new ParentRouter;
        if (!SetPropW(parent, router_property, router)) {
            delete router;
            return nullptr;
        }
        if (!SetWindowSubclass(parent, procedure, router_subclass_id, reinterpret_cast<DWORD_PTR>(router))) {
            RemovePropW(parent, router_property);
            delete router;
            return nullptr;
        }
        return router;
    }

    void add(Win32ControlBase* control) { m_controls.push_back(control); }
    void remove(Win32ControlBase* control) { std::erase(m_controls, control); }

private:
    ParentRouter() = default;

    Win32ControlBase* control_of(HWND child) const
    {
        if (!child) return nullptr;
        for (Win32ControlBase* control : m_controls)
            if (control->m_window == child) return control;
        return nullptr;
    }

    // The white control that `child` belongs to: the control itself, a part of it (the edit field of a
    // combo box), or the list a combo box drops down (a window of its own, not a child).
    Win32ControlBase* white_control_of(HWND child) const
    {
        if (!child) return nullptr;
        for (Win32ControlBase* control : m_controls) {
            if (!control->m_white) continue;
            if (control->m_window == child || IsChild(control->m_window, child)) return control;
            COMBOBOXINFO combo{};
            combo.cbSize = sizeof(combo);
            if (GetComboBoxInfo(control->m_window, &combo) && combo.hwndList == child) return control;
        }
        return nullptr;
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                      DWORD_PTR data)
    {
        auto* router = reinterpret_cast<ParentRouter*>(data);
        switch (message) {
        case WM_COMMAND:
            // A handler may end the window: nothing of the router is used after it.
            if (Win32ControlBase* control = router->control_of(reinterpret_cast<HWND>(lparam)))
                if (control->on_command(HIWORD(wparam))) return 0;
            break;
        case WM_NOTIFY:
            if (const auto* header = reinterpret_cast<const NMHDR*>(lparam)) {
                if (Win32ControlBase* control = router->control_of(header->hwndFrom)) {
                    LRESULT result = 0;
                    if (control->on_notify(*header, result)) return result;
                }
            }
            break;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSTATIC:
            if (router->white_control_of(reinterpret_cast<HWND>(lparam)) && !high_contrast()) {
                const auto dc = reinterpret_cast<HDC>(wparam);
                SetBkColor(dc, white);
                SetTextColor(dc, black);
                return reinterpret_cast<LRESULT>(white_brush());
            }
            break;
        case WM_NCDESTROY:
            for (Win32ControlBase* control : router->m_controls)
                control->detach();
            RemoveWindowSubclass(window, procedure, router_subclass_id);
            RemovePropW(window, router_property);
            delete router;
            break;
        default:
            break;
        }
        return DefSubclassProc(window, message, wparam, lparam);
    }

    std::vector<Win32ControlBase*> m_controls;
};

Win32ControlBase::~Win32ControlBase()
{
    if (m_router) m_router->remove(this);
}

bool Win32ControlBase::attach(HWND parent, int id, const wchar_t* window_class, bool font, bool white)
{
    if (m_window || !parent) return false;
    HWND item = GetDlgItem(parent, id);
    if (!item || !has_class(item, window_class)) return false;
    ParentRouter* router = ParentRouter::of(parent);
    if (!router) return false;
    m_window = item;
    m_router = router;
    m_white = white;
    router->add(this);
    if (font)
        SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    if (white) InvalidateRect(item, nullptr, TRUE);
    return true;
}

void Win32ControlBase::detach()
{
    m_window = nullptr;
    m_router = nullptr;
}

void Win32ControlBase::show_window(bool shown)
{
    if (m_window) ShowWindow(m_window, shown ? SW_SHOW : SW_HIDE);
}

bool Win32ControlBase::window_visible() const
{
    return m_window && IsWindowVisible(m_window);
}

bool Win32ControlBase::on_command(int)
{
    return false;
}

bool Win32ControlBase::on_notify(const NMHDR&, LRESULT&)
{
    return false;
}

bool Win32EditBox::bind_control(HWND parent, int id)
{
    if (!attach(parent, id, L"Edit", true, true)) return false;
    m_given.clear();
    m_shown.clear();
    return true;
}

Text Win32EditBox::get_control_text() const
{
    if (!window()) return {};
    const std::u16string shown = window_text(window());
    if (shown == m_shown) return m_given;
    return gbk_from_utf16(shown);
}

bool Win32EditBox::set_control_text(const Text& text)
{
    if (!window()) return false;
    std::u16string shown = utf16_from_gbk(text);
    if (!SetWindowTextW(window(), wide(shown))) return false;
    m_given = text;
    m_shown = std::move(shown);
    return true;
}

bool Win32DropDownList::bind_control(HWND parent, int id)
{
    if (!attach(parent, id, L"ComboBox", true, true)) return false;
    m_given.clear();
    m_shown.clear();
    // Items the template brought along read as the list shows them.
    m_items.clear();
    for (int index = 0; index < item_count(); ++index) {
        Item item;
        item.bytes = get_item_text(index);
        item.shown = utf16_from_gbk(item.bytes);
        m_items.push_back(std::move(item));
    }
    return true;
}

bool Win32DropDownList::editable() const
{
    return (GetWindowLongW(window(), GWL_STYLE) & 0x3) != CBS_DROPDOWNLIST;
}

bool Win32DropDownList::item_bytes(int index, const std::u16string& shown, Text& bytes) const
{
    if (index >= 0 && static_cast<std::size_t>(index) < m_items.size() &&
        m_items[static_cast<std::size_t>(index)].shown == shown) {
        bytes = m_items[static_cast<std::size_t>(index)].bytes;
        return true;
    }
    for (const Item& item : m_items) {
        if (item.shown != shown) continue;
        bytes = item.bytes;
        return true;
    }
    return false;
}

Text Win32DropDownList::get_control_text() const
{
    if (!window()) return {};
    const std::u16string shown = window_text(window());
    if (shown.empty()) return {};
    Text bytes;
    if (item_bytes(get_selection(), shown, bytes)) return bytes;
    if (editable() && shown == m_shown) return m_given;
    return gbk_from_utf16(shown);
}

bool Win32DropDownList::set_control_text(const Text& text)
{
    if (!window() || !editable()) return false;
    std::u16string shown = utf16_from_gbk(text);
    if (!SetWindowTextW(window(), wide(shown))) return false;
    m_given = text;
    m_shown = std::move(shown);
    return true;
}

int Win32DropDownList::add_item(const Text& text)
{
    if (!window()) return -1;
    Item item{text, utf16_from_gbk(text)};
    const LRESULT index = SendMessageW(window(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item.shown)));
    if (index < 0) return static_cast<int>(index);
    SendMessageW(window(), CB_SETITEMDATA, static_cast<WPARAM>(index), 0);
    const auto position = std::min(static_cast<std::size_t>(index), m_items.size());
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(position), std::move(item));
    return static_cast<int>(index);
}

Text Win32DropDownList::get_item_text(int index) const
{
    if (!window() || index < 0) return {};
    const LRESULT length = SendMessageW(window(), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) return {};
    std::u16string shown(static_cast<std::size_t>(length) + 1, u'\0');
    const LRESULT copied = SendMessageW(window(), CB_GETLBTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(shown.data()));
    if (copied < 0) return {};
    shown.resize(static_cast<std::size_t>(std::min(copied, length)));
    if (static_cast<std::size_t>(index) < m_items.size() &&
        m_items[static_cast<std::size_t>(index)].shown == shown)
        return m_items[static_cast<std::size_t>(index)].bytes;
    return gbk_from_utf16(shown);
}

int Win32DropDownList::item_count() const
{
    if (!window()) return 0;
    return std::max(static_cast<int>(SendMessageW(window(), CB_GETCOUNT, 0, 0)), 0);
}

int Win32DropDownList::get_selection() const
{
    if (!window()) return -1;
    return std::max(static_cast<int>(SendMessageW(window(), CB_GETCURSEL, 0, 0)), -1);
}

bool Win32DropDownList::set_selection(int index)
{
    if (!window()) return false;
    // An index outside the list clears the selection (and an editable list's field), as -1 does.
    const bool valid = index >= 0 && index < item_count();
    const WPARAM chosen = valid ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1);
    return SendMessageW(window(), CB_SETCURSEL, chosen, 0) != CB_ERR && valid;
}

int Win32DropDownList::delete_item(int index)
{
    if (!window() || index < 0) return -1;
    const LRESULT left = SendMessageW(window(), CB_DELETESTRING, static_cast<WPARAM>(index), 0);
    if (left < 0) return -1;
    if (static_cast<std::size_t>(index) < m_items.size())
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
    return static_cast<int>(left);
}

void Win32DropDownList::clear_items()
{
    if (!window()) return;
    SendMessageW(window(), CB_RESETCONTENT, 0, 0);
    m_items.clear();
}

bool Win32DropDownList::on_command(int code)
{
    if (code != CBN_SELCHANGE) return false;
    if (m_changed) m_changed();
    return true;
}

bool Win32PushButton::bind_control(HWND parent, int id)
{
    HWND item = parent ? GetDlgItem(parent, id) : nullptr;
    if (!item) return false;
    const auto kind = GetWindowLongW(item, GWL_STYLE) & BS_TYPEMASK;
    if (kind != BS_PUSHBUTTON && kind != BS_DEFPUSHBUTTON) return false;
    return attach(parent, id, L"Button", true, false);
}

HWND button_clicked_without_mouse()
{
    return clicked_without_mouse;
}

bool Win32PushButton::on_command(int code)
{
    if (code != BN_CLICKED) return false;
    HWND button = window();
    // A click of the mouse happens with the pointer over the button; any other (keys, an assistive
    // technology) is the keyboard user's, and a menu it opens drops down from the button.
    POINT pointer{};
    RECT area{};
    const bool by_mouse =
        GetCursorPos(&pointer) && GetWindowRect(button, &area) && PtInRect(&area, pointer) != FALSE;
    HWND outer = clicked_without_mouse;
    clicked_without_mouse = by_mouse ? nullptr : button;
    if (m_clicked) m_clicked();
    clicked_without_mouse = outer;
    return true;
}

Win32SpinControl::Win32SpinControl()
{
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_UPDOWN_CLASS;
    InitCommonControlsEx(&classes);
}

bool Win32SpinControl::bind_control(HWND parent, int id)
{
    return attach(parent, id, UPDOWN_CLASSW, false, false);
}

bool Win32SpinControl::on_notify(const NMHDR& header, LRESULT& result)
{
    if (header.code != UDN_DELTAPOS) return false;
    const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
    if (m_delta) m_delta(change.iDelta);
    result = 0;
    return true;
}

Win32PopupMenu::~Win32PopupMenu()
{
    destroy_popup_menu();
}

bool Win32PopupMenu::create_popup_menu()
{
    if (m_menu) return false;
    m_menu = CreatePopupMenu();
    m_texts.clear();
    return m_menu != nullptr;
}

void Win32PopupMenu::destroy_popup_menu()
{
    if (!m_menu) return;
    if (m_menu == m_tracked) {
        // A handler that runs while the menu is open (messages are dispatched during long work) rebuilds
        // it: the open menu closes, and goes once its tracking has returned.
        EndMenu();
        m_tracked_destroyed = true;
    } else {
        DestroyMenu(m_menu);
    }
    m_menu = nullptr;
    m_texts.clear();
}

bool Win32PopupMenu::append_menu_item(const Text& text, int command_id)
{
    if (!m_menu) return false;
    const std::u16string label = menu_label(text);
    if (!AppendMenuW(m_menu, MF_STRING | MF_ENABLED | MF_UNCHECKED, static_cast<UINT_PTR>(command_id),
                     wide(label)))
        return false;
    m_texts.push_back(text);
    return true;
}

int Win32PopupMenu::position_of(int item, bool by_position) const
{
    const int count = menu_item_count();
    if (by_position) return item >= 0 && item < count ? item : -1;
    for (int position = 0; position < count; ++position)
        if (GetMenuItemID(m_menu, position) == static_cast<UINT>(item)) return position;
    return -1;
}

bool Win32PopupMenu::set_menu_item_state(int item, int state, bool by_position)
{
    const int position = position_of(item, by_position);
    if (position < 0) return false;
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    info.fState = static_cast<UINT>(state);
    return SetMenuItemInfoW(m_menu, static_cast<UINT>(position), TRUE, &info) != FALSE;
}

int Win32PopupMenu::get_menu_item_state(int item, bool by_position) const
{
    const int position = position_of(item, by_position);
    if (position < 0) return -1;
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoW(m_menu, static_cast<UINT>(position), TRUE, &info)) return -1;
    return static_cast<int>(info.fState);
}

Text Win32PopupMenu::get_menu_item_text(int item, bool by_position) const
{
    const int position = position_of(item, by_position);
    if (position < 0) return {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    if (!GetMenuItemInfoW(m_menu, static_cast<UINT>(position), TRUE, &info)) return {};
    std::u16string label(static_cast<std::size_t>(info.cch) + 1, u'\0');
    info.dwTypeData = reinterpret_cast<wchar_t*>(label.data());
    info.cch += 1;
    if (!GetMenuItemInfoW(m_menu, static_cast<UINT>(position), TRUE, &info)) return {};
    label.resize(std::min(static_cast<std::size_t>(info.cch), label.size() - 1));
    // The bytes the item was made with, as long as the menu still shows them.
    const auto index = static_cast<std::size_t>(position);
    if (index < m_texts.size() && menu_label(m_texts[index]) == label) return m_texts[index];
    return text_of_label(label);
}

int Win32PopupMenu::get_menu_item_id(int position) const
{
    if (position < 0 || position >= menu_item_count()) return -1;
    const UINT id = GetMenuItemID(m_menu, position);
    return id == static_cast<UINT>(-1) ? -1 : static_cast<int>(id);
}

int Win32PopupMenu::menu_item_count() const
{
    return m_menu ? std::max(GetMenuItemCount(m_menu), 0) : 0;
}

void Win32PopupMenu::show_popup_menu(int x, int y)
{
    if (!m_menu || !m_owner || !IsWindow(m_owner)) return;
    POINT at{x, y};
    RECT button{};
    if (HWND from = button_clicked_without_mouse(); from && GetWindowRect(from, &button))
        at = {button.left, button.bottom};
    SetForegroundWindow(m_owner);
    HMENU menu = m_menu;
    m_tracked = menu;
    m_tracked_destroyed = false;
    TrackPopupMenu(menu, 0, at.x, at.y, 0, m_owner, nullptr);
    m_tracked = nullptr;
    if (m_tracked_destroyed) DestroyMenu(menu);
    // The owner must see a message after tracking, or the next menu it opens may not close when the user
    // clicks elsewhere.
    PostMessageW(m_owner, WM_NULL, 0, 0);
}

} // namespace vorsa::runtime
