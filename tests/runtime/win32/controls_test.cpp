// The control objects over the controls of the main window's template: texts in GBK that reach the
// window as the right characters whatever the system's code page, the drop-down lists' contract (indices,
// -1 cases, bytes kept), the events the user's actions raise, binding, and popup menus' items and states.
// The test program runs with the code page 1252 (LANG=en_US.UTF-8), where any conversion through the
// system's own code page would lose the Chinese.

#include "runtime/win32/win32_controls.h"
#include "tests/runtime/win32/window_test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace vorsa::runtime::test {
namespace {

// Ids of the template's controls used here.
constexpr int product_edit = 1001;
constexpr int size_edit = 1008;
constexpr int date_edit = 1019;
constexpr int brand_box = 1004;
constexpr int shop_box = 1018;
constexpr int printer_box = 1007;
constexpr int settings_button = 1022;
constexpr int quantity_spin = 1029;
constexpr int add_group = 1014;
constexpr int brand_label = 1003;

// Bytes that are no GBK text: a lone lead byte. Converted to UTF-16 and back they would change.
const Text not_gbk = "A\x81";

// One window from the template for all cases (Wine without a window manager takes two seconds to take a
// window off the screen); each case binds fresh objects, which let go of the window when they go.
class Win32Controls : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { shared = new TemplateWindow; }
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(shared->window(), nullptr);
        // Otherwise a failure below would only say that some Chinese came out as "?".
        ASSERT_EQ(GetACP(), 1252u) << "run the test with LANG=en_US.UTF-8";
    }

    static HWND window() { return shared->window(); }
    static HWND item(int id) { return shared->item(id); }

    static TemplateWindow* shared;
};

TemplateWindow* Win32Controls::shared = nullptr;

void type(HWND control, const std::wstring& keys)
{
    for (const wchar_t key : keys)
        SendMessageW(control, WM_CHAR, key, 1);
}

TEST_F(Win32Controls, EditBoxTextsReachTheWindowAndComeBackAsTheirBytes)
{
    const struct
    {
        int id;
        Text text;
        std::wstring shown; // empty: the text's own characters
    } rows[] = {
        {date_edit, gbk("店员甲"), {}},
        {date_edit, gbk("Vorsa小票 1.5"), {}},
        {date_edit, {}, {}},
        {product_edit, gbk("新世界百货购物广场店"), {}},
        {size_edit, gbk("42\r\n43"), {}},
        // Bytes that are no GBK text show as a replacement, and still read back as themselves.
        {date_edit, not_gbk, L"A\xFFFD"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("control " + std::to_string(row.id) + " text " + utf8_from_gbk(row.text));
        Win32EditBox edit;
        ASSERT_TRUE(edit.bind_control(window(), row.id));
        ASSERT_TRUE(edit.set_control_text(row.text));
        const std::wstring shown = row.shown.empty() ? wide_from_utf8(utf8_from_gbk(row.text)) : row.shown;
        EXPECT_EQ(window_text(item(row.id)), shown);
        EXPECT_EQ(edit.get_control_text(), row.text);
    }

    // What the user types reads as GBK.
    Win32EditBox clerk;
    ASSERT_TRUE(clerk.bind_control(window(), date_edit));
    clerk.set_control_text(gbk("店员"));
    SendMessageW(item(date_edit), EM_SETSEL, 2, 2);
    type(item(date_edit), wide_from_utf8("乙"));
    EXPECT_EQ(clerk.get_control_text(), gbk("店员乙"));
    // Typing over bytes that are no GBK gives the text as the window shows it.
    clerk.set_control_text(not_gbk);
    SendMessageW(item(date_edit), EM_SETSEL, 2, 2);
    type(item(date_edit), L"B");
    EXPECT_EQ(clerk.get_control_text(), gbk("A?B"));
}

TEST_F(Win32Controls, EditBoxesTakeTypedTextAsTheirStylesSay)
{
    Win32EditBox product;
    Win32EditBox size;
    Win32EditBox date;
    ASSERT_TRUE(product.bind_control(window(), product_edit));
    ASSERT_TRUE(size.bind_control(window(), size_edit));
    ASSERT_TRUE(date.bind_control(window(), date_edit));
    const std::wstring long_text(60, L'W');

    // The product name stops at the visible width; the date box scrolls and takes all.
    product.set_control_text({});
    type(item(product_edit), long_text);
    const std::size_t kept = product.get_control_text().size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, long_text.size());
    date.set_control_text({});
    type(item(date_edit), long_text);
    EXPECT_EQ(date.get_control_text().size(), long_text.size());

    // Enter in the size box is a line break.
    size.set_control_text({});
    type(item(size_edit), L"4\r2");
    EXPECT_EQ(size.get_control_text(), Text("4\r\n2"));
}

TEST_F(Win32Controls, DropDownListsKeepTheListContract)
{
    for (const int id : {brand_box, shop_box}) {
        const bool editable = id == shop_box;
        SCOPED_TRACE(editable ? "editable list" : "fixed list");
        Win32DropDownList list;
        ASSERT_TRUE(list.bind_control(window(), id));
        list.clear_items();
        EXPECT_EQ(list.item_count(), 0);
        EXPECT_EQ(list.get_selection(), -1);

        EXPECT_EQ(list.add_item(gbk("耐克")), 0);
        EXPECT_EQ(list.add_item(gbk("阿迪达斯")), 1);
        EXPECT_EQ(list.add_item(gbk("新百伦")), 2);
        EXPECT_EQ(list.add_item(gbk("李宁")), 3);
        EXPECT_EQ(list.get_item_text(3), gbk("李宁"));
        EXPECT_EQ(list.item_count(), 4);
        // Adding selects nothing.
        EXPECT_EQ(list.get_selection(), -1);
        wchar_t shown[32] = {};
        SendMessageW(item(id), CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(shown));
        EXPECT_EQ(std::wstring(shown), wide_from_utf8("阿迪达斯"));
        EXPECT_EQ(list.get_item_text(4), Text());
        EXPECT_EQ(list.get_item_text(-1), Text());

        EXPECT_TRUE(list.set_selection(1));
        EXPECT_EQ(list.get_selection(), 1);
        EXPECT_EQ(list.get_control_text(), gbk("阿迪达斯"));
        EXPECT_FALSE(list.set_selection(-1));
        EXPECT_EQ(list.get_selection(), -1);
        EXPECT_EQ(list.get_control_text(), Text());
        list.set_selection(2);
        EXPECT_FALSE(list.set_selection(4));
        EXPECT_EQ(list.get_selection(), -1);

        EXPECT_EQ(list.delete_item(4), -1);
        EXPECT_EQ(list.delete_item(-1), -1);
        list.set_selection(2);
        EXPECT_EQ(list.delete_item(0), 3);
        EXPECT_EQ(list.get_selection(), 1);
        EXPECT_EQ(list.get_item_text(0), gbk("阿迪达斯"));
        EXPECT_EQ(list.delete_item(1), 2);
        EXPECT_EQ(list.get_selection(), -1);

        // Items keep the bytes they were added with.
        EXPECT_EQ(list.add_item(not_gbk), 2);
        EXPECT_EQ(list.get_item_text(2), not_gbk);
        list.set_selection(2);
        EXPECT_EQ(list.get_control_text(), not_gbk);

        // Only the editable list has an edit field of its own.
        EXPECT_EQ(list.set_control_text(gbk("东方商场")), editable);
        if (editable) {
            EXPECT_EQ(list.get_control_text(), gbk("东方商场"));
            EXPECT_EQ(window_text(item(id)), wide_from_utf8("东方商场"));
            // Typing an item's name is that item.
            list.set_control_text(gbk("李宁"));
            EXPECT_EQ(list.get_control_text(), gbk("李宁"));
        }

        list.clear_items();
        EXPECT_EQ(list.item_count(), 0);
        EXPECT_EQ(list.get_selection(), -1);
    }
}

TEST_F(Win32Controls, ControlsRaiseTheirEventsForTheUserOnly)
{
    Win32DropDownList printers;
    ASSERT_TRUE(printers.bind_control(window(), printer_box));
    int changed = 0;
    printers.on_selection_changed([&changed] { ++changed; });
    printers.clear_items();
    printers.add_item(gbk("打印机甲"));
    printers.add_item(gbk("打印机乙"));
    printers.set_selection(0);
    EXPECT_EQ(changed, 0);
    // The user steps to the next printer with the arrow key.
    SendMessageW(item(printer_box), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(printers.get_selection(), 1);
    EXPECT_EQ(changed, 1);

    Win32PushButton button;
    ASSERT_TRUE(button.bind_control(window(), settings_button));
    int clicks = 0;
    button.on_click([&clicks] { ++clicks; });
    SendMessageW(item(settings_button), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);

    // A click on the upper arrow proposes -1, on the lower one +1.
    Win32SpinControl spin;
    ASSERT_TRUE(spin.bind_control(window(), quantity_spin));
    std::vector<int> deltas;
    spin.on_delta([&deltas](int delta) { deltas.push_back(delta); });
    RECT arrows{};
    GetClientRect(item(quantity_spin), &arrows);
    const int middle = arrows.right / 2;
    for (const int y : {arrows.bottom / 4, arrows.bottom * 3 / 4}) {
        SendMessageW(item(quantity_spin), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(middle, y));
        SendMessageW(item(quantity_spin), WM_LBUTTONUP, 0, MAKELPARAM(middle, y));
    }
    EXPECT_EQ(deltas, (std::vector<int>{-1, +1}));
}

TEST_F(Win32Controls, BindingTakesTheRightKindOfControlOnceAndGivesEditBoxesAndListsTheGuiFontOnWhite)
{
    Win32EditBox edit;
    EXPECT_FALSE(edit.bind_control(window(), 999));
    EXPECT_FALSE(edit.bind_control(window(), settings_button));
    EXPECT_FALSE(edit.bind_control(nullptr, product_edit));
    EXPECT_FALSE(edit.is_bound());
    EXPECT_EQ(edit.get_control_text(), Text());
    EXPECT_FALSE(edit.set_control_text(gbk("甲")));
    ASSERT_TRUE(edit.bind_control(window(), product_edit));
    EXPECT_FALSE(edit.bind_control(window(), date_edit));
    EXPECT_EQ(edit.window(), item(product_edit));

    Win32PushButton button;
    EXPECT_FALSE(button.bind_control(window(), add_group));
    Win32SpinControl spin;
    EXPECT_FALSE(spin.bind_control(window(), product_edit));
    Win32DropDownList list;
    EXPECT_FALSE(list.bind_control(window(), product_edit));
    ASSERT_TRUE(list.bind_control(window(), shop_box));
    ASSERT_TRUE(button.bind_control(window(), settings_button));

    // Edit boxes, lists and buttons take the default GUI font; labels keep the template's.
    const auto gui_font = reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
    for (const int id : {product_edit, shop_box, settings_button})
        EXPECT_EQ(SendMessageW(item(id), WM_GETFONT, 0, 0), gui_font) << "control " << id;
    EXPECT_EQ(SendMessageW(item(brand_label), WM_GETFONT, 0, 0), SendMessageW(window(), WM_GETFONT, 0, 0));

    // The colour requests of the bound edit box and of the list's parts are answered with white; those of
    // other controls are left to the system.
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof(parts);
    ASSERT_TRUE(GetComboBoxInfo(item(shop_box), &parts));
    HDC dc = GetDC(window());
    const auto white_brush = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SendMessageW(window(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(item(product_edit))),
              white_brush);
    EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    EXPECT_EQ(SendMessageW(window(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(parts.hwndItem)),
              white_brush);
    EXPECT_EQ(SendMessageW(window(), WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(parts.hwndList)),
              white_brush);
    EXPECT_NE(SendMessageW(window(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(item(date_edit))),
              white_brush);
    ReleaseDC(window(), dc);
}

TEST_F(Win32Controls, ObjectsLetGoOfAClosedWindowAndBindToTheNextOne)
{
    Win32EditBox edit;
    Win32DropDownList list;
    int changed = 0;
    list.on_selection_changed([&changed] { ++changed; });
    {
        TemplateWindow first;
        ASSERT_TRUE(edit.bind_control(first.window(), product_edit));
        ASSERT_TRUE(list.bind_control(first.window(), printer_box));
        list.add_item(gbk("打印机"));
        edit.set_control_text(gbk("跑鞋"));
    }
    EXPECT_FALSE(edit.is_bound());
    EXPECT_EQ(edit.get_control_text(), Text());
    EXPECT_FALSE(edit.set_control_text(gbk("跑鞋")));
    EXPECT_EQ(list.item_count(), 0);
    EXPECT_EQ(list.add_item(gbk("打印机")), -1);

    ASSERT_TRUE(edit.bind_control(window(), product_edit));
    ASSERT_TRUE(list.bind_control(window(), printer_box));
    list.clear_items();
    list.add_item(gbk("打印机甲"));
    list.add_item(gbk("打印机乙"));
    list.set_selection(0);
    SendMessageW(item(printer_box), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(changed, 1);
}

TEST(Win32PopupMenu, KeepsItemsStatesAndTexts)
{
    Win32PopupMenu menu;
    EXPECT_FALSE(menu.append_menu_item(gbk("耐克"), 13246));
    EXPECT_EQ(menu.menu_item_count(), 0);
    ASSERT_TRUE(menu.create_popup_menu());
    EXPECT_FALSE(menu.create_popup_menu());

    ASSERT_TRUE(menu.append_menu_item(gbk("耐克"), 13246));
    ASSERT_TRUE(menu.append_menu_item(gbk("H&M"), 13247));
    ASSERT_TRUE(menu.append_menu_item(not_gbk, 13248));
    EXPECT_EQ(menu.menu_item_count(), 3);
    EXPECT_EQ(menu.get_menu_item_id(1), 13247);
    EXPECT_EQ(menu.get_menu_item_id(3), -1);
    EXPECT_EQ(menu.get_menu_item_id(-1), -1);

    // A new item is unchecked; the state set by command identifier reads back by position.
    EXPECT_EQ(menu.get_menu_item_state(13246, false), menu_unchecked);
    EXPECT_TRUE(menu.set_menu_item_state(13246, menu_checked, false));
    EXPECT_EQ(menu.get_menu_item_state(0, true), menu_checked);
    EXPECT_EQ(GetMenuState(menu.menu(), 13246, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_TRUE(menu.set_menu_item_state(0, menu_unchecked, true));
    EXPECT_EQ(menu.get_menu_item_state(13246, false), menu_unchecked);
    EXPECT_FALSE(menu.set_menu_item_state(13999, menu_checked, false));
    EXPECT_FALSE(menu.set_menu_item_state(3, menu_checked, true));
    EXPECT_EQ(menu.get_menu_item_state(13999, false), -1);

    // Texts by command identifier or position; the menu shows them as they are.
    EXPECT_EQ(menu.get_menu_item_text(13246, false), gbk("耐克"));
    EXPECT_EQ(menu.get_menu_item_text(1, true), gbk("H&M"));
    EXPECT_EQ(menu.get_menu_item_text(13248, false), not_gbk);
    EXPECT_EQ(menu.get_menu_item_text(13999, false), Text());
    wchar_t label[32] = {};
    GetMenuStringW(menu.menu(), 0, label, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(label), wide_from_utf8("耐克"));
    GetMenuStringW(menu.menu(), 1, label, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(label), L"H&&M");

    menu.destroy_popup_menu();
    EXPECT_EQ(menu.menu_item_count(), 0);
    EXPECT_EQ(menu.get_menu_item_text(0, true), Text());
    EXPECT_FALSE(menu.append_menu_item(gbk("耐克"), 13246));
    ASSERT_TRUE(menu.create_popup_menu());
    EXPECT_EQ(menu.menu_item_count(), 0);
}

} // namespace
} // namespace vorsa::runtime::test
