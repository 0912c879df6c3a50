// Dialog template 1000, icon 129 and the manifest as the program's resources carry them: the window made
// from the template has the 28 controls at their rectangles, with their texts, styles and tab order; the
// window's title, font and frame; the icon's images; the common controls the manifest asks for.

#include "runtime/win32/dialog.h"
#include "tests/runtime/win32/window_test_support.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdint>
#include <cwctype>
#include <gtest/gtest.h>
#include <oleacc.h>
#include <set>

namespace vorsa::runtime::test {
namespace {

const wchar_t* class_of(Kind kind)
{
    switch (kind) {
    case Kind::group_box:
    case Kind::push_button:
        return L"Button";
    case Kind::label:
        return L"Static";
    case Kind::edit:
        return L"Edit";
    case Kind::combo_box:
        return L"ComboBox";
    case Kind::spin:
        return L"msctls_updown32";
    }
    return L"";
}

std::wstring class_name(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool has(LONG_PTR style, LONG_PTR bits)
{
    return (style & bits) == bits;
}

// Reads a string of an extended dialog template; `at` moves past it.
std::wstring template_string(const WORD*& at)
{
    std::wstring text;
    while (*at)
        text += static_cast<wchar_t>(*at++);
    ++at;
    return text;
}

// Skips a menu, class or title field: 0xFFFF and an ordinal, or a string.
void skip_field(const WORD*& at)
{
    if (*at == 0xFFFF)
        at += 2;
    else
        template_string(at);
}

const WORD* align_to_dword(const WORD* at)
{
    return reinterpret_cast<const WORD*>((reinterpret_cast<std::uintptr_t>(at) + 3) & ~std::uintptr_t{3});
}

// Dialog template 1000 as the resource holds it (an extended template).
struct DialogTemplate
{
    DWORD style = 0;
    RECT units{};
    std::wstring title;
    WORD points = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring face;
    // Each control's identifier and rectangle (left, top, right, bottom), in template order.
    std::vector<std::pair<int, RECT>> controls;
};

DialogTemplate read_dialog_template()
{
    DialogTemplate dialog;
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(main_dialog_template), MAKEINTRESOURCEW(5));
    if (!found) return dialog;
    const auto* words = static_cast<const WORD*>(LockResource(LoadResource(nullptr, found)));
    if (!words || words[0] != 1 || words[1] != 0xFFFF) return dialog;
    // dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy.
    dialog.style = *reinterpret_cast<const DWORD*>(words + 6);
    const WORD count = words[8];
    const auto* box = reinterpret_cast<const short*>(words + 9);
    dialog.units = {box[0], box[1], box[0] + box[2], box[1] + box[3]};
    const WORD* at = words + 13;
    skip_field(at); // menu
    skip_field(at); // window class
    dialog.title = template_string(at);
    dialog.points = *at++;
    dialog.weight = *at++;
    const auto* bytes = reinterpret_cast<const BYTE*>(at);
    dialog.italic = bytes[0];
    dialog.charset = bytes[1];
    ++at;
    dialog.face = template_string(at);
    for (WORD index = 0; index < count; ++index) {
        // helpID, exStyle, style, x, y, cx, cy, id, class, title, extra count.
        at = align_to_dword(at);
        const auto* item = reinterpret_cast<const short*>(at + 6);
        const int id = static_cast<int>(*reinterpret_cast<const DWORD*>(at + 10));
        dialog.controls.push_back({id, RECT{item[0], item[1], item[0] + item[2], item[1] + item[3]}});
        at += 12;
        skip_field(at);
        skip_field(at);
        at += 1 + *at / sizeof(WORD);
    }
    return dialog;
}

// The name that screen readers announce for a window, from the system's standard accessible object.
std::wstring accessible_name(HWND window)
{
    IAccessible* accessible = nullptr;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&accessible))))
        return L"(no accessible object)";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring result;
    if (accessible->get_accName(self, &name) == S_OK && name) result = name;
    SysFreeString(name);
    accessible->Release();
    return result;
}

// One window from the template for all cases: Wine without a window manager takes two seconds to take
// a window off the screen.
class MainWindowTemplate : public ::testing::Test
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
        ASSERT_NE(shared->window(), nullptr) << "template 1000 is missing from the resources";
    }

    static TemplateWindow* shared;
};

TemplateWindow* MainWindowTemplate::shared = nullptr;

TEST_F(MainWindowTemplate, EveryControlSitsAtItsRectangleWithItsTextAndStyles)
{
    const auto controls = main_window_controls();
    const DialogTemplate resource = read_dialog_template();
    ASSERT_EQ(resource.controls.size(), controls.size());

    const TemplateWindow& window = *shared;
    int children = 0;
    for (HWND child = GetWindow(window.window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, static_cast<int>(controls.size()));

    for (const TemplateControl& control : controls) {
        SCOPED_TRACE("control " + std::to_string(control.id));
        const auto in_resource = std::find_if(resource.controls.begin(), resource.controls.end(),
                                              [&](const auto& item) { return item.first == control.id; });
        ASSERT_NE(in_resource, resource.controls.end());
        EXPECT_TRUE(EqualRect(&in_resource->second, &control.units));

        HWND item = window.item(control.id);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(class_name(item), class_of(control.kind));
        EXPECT_EQ(window_text(item), wide_from_utf8(control.text));

        // The dialog manager converts left, top, width and height each from dialog units.
        RECT expected{control.units.left, control.units.top, control.units.right - control.units.left,
                      control.units.bottom - control.units.top};
        MapDialogRect(window.window(), &expected);
        const RECT actual = window.client_rect(control.id);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        // A closed combo box is as high as the system makes it; an up-down control may take a width of its
        // own (Wine's takes 16 pixels).
        if (control.kind == Kind::spin) {
            EXPECT_LE(actual.right - actual.left, expected.right);
        } else {
            EXPECT_EQ(actual.right - actual.left, expected.right);
        }
        if (control.kind != Kind::combo_box) {
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        }

        const LONG_PTR style = GetWindowLongPtrW(item, GWL_STYLE);
        const LONG_PTR extended = GetWindowLongPtrW(item, GWL_EXSTYLE);
        EXPECT_TRUE(has(style, WS_VISIBLE));
        EXPECT_EQ(has(style, WS_TABSTOP), (control.flags & tab_stop) != 0);
        switch (control.kind) {
        case Kind::group_box:
            EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
            break;
        case Kind::push_button:
            // A push button, never the default one: Enter presses none unless it has the focus.
            EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
            break;
        case Kind::label:
            EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
            break;
        case Kind::edit:
            EXPECT_TRUE(has(extended, WS_EX_CLIENTEDGE));
            EXPECT_EQ(has(style, ES_AUTOHSCROLL), (control.flags & auto_scroll) != 0);
            EXPECT_EQ(has(style, ES_MULTILINE | ES_WANTRETURN), (control.flags & want_return) != 0);
            EXPECT_FALSE(has(style, ES_READONLY));
            EXPECT_FALSE(has(style, ES_NUMBER));
            break;
        case Kind::combo_box:
            EXPECT_EQ(style & 0x3, (control.flags & editable_list) ? CBS_DROPDOWN : CBS_DROPDOWNLIST);
            EXPECT_EQ(has(style, CBS_AUTOHSCROLL), (control.flags & auto_scroll) != 0);
            EXPECT_FALSE(has(style, CBS_SORT));
            break;
        case Kind::spin: {
            // Vertical, no buddy window, the default range (100 down to 0).
            EXPECT_FALSE(has(style, UDS_HORZ));
            EXPECT_FALSE(has(style, UDS_AUTOBUDDY));
            EXPECT_FALSE(has(style, UDS_SETBUDDYINT));
            EXPECT_EQ(SendMessageW(item, UDM_GETBUDDY, 0, 0), 0);
            int minimum = 0;
            int maximum = 0;
            SendMessageW(item, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&minimum),
                         reinterpret_cast<LPARAM>(&maximum));
            EXPECT_EQ(minimum, 100);
            EXPECT_EQ(maximum, 0);
            break;
        }
        }
    }
}

TEST_F(MainWindowTemplate, TabStopsFollowTheTemplateAndLabelsPrecedeTheirFields)
{
    const TemplateWindow& window = *shared;
    std::vector<int> expected;
    for (const TemplateControl& control : main_window_controls())
        if (control.flags & tab_stop) expected.push_back(control.id);

    std::vector<int> order;
    HWND first = GetNextDlgTabItem(window.window(), nullptr, FALSE);
    for (HWND item = first; item && order.size() <= expected.size();) {
        order.push_back(GetDlgCtrlID(item));
        item = GetNextDlgTabItem(window.window(), item, FALSE);
        if (item == first) break;
    }
    EXPECT_EQ(order, expected);

    // Screen readers name a field by the label right before it among the windows.
    const std::pair<int, int> labelled[] = {{1003, 1004}, {1005, 1001}, {1006, 1008},
                                            {1013, 1012}, {1010, 1011}, {1016, 1018},
                                            {1017, 1019}, {1020, 1021}, {1027, 1028}};
    for (const auto& [label, field] : labelled) {
        SCOPED_TRACE("field " + std::to_string(field));
        EXPECT_EQ(GetDlgCtrlID(GetWindow(window.item(field), GW_HWNDPREV)), label);
        // The system's accessible object of an edit box carries that name (Wine has none for combo boxes).
        if (class_name(window.item(field)) == L"Edit") {
            EXPECT_EQ(accessible_name(window.item(field)), window_text(window.item(label)));
        }
    }
}

TEST_F(MainWindowTemplate, WindowHasItsTitleFontFrameAndSize)
{
    const DialogTemplate resource = read_dialog_template();
    EXPECT_EQ(resource.title, wide_from_utf8("Vorsa小票打印系统 1.5"));
    EXPECT_EQ(resource.face, wide_from_utf8("宋体"));
    EXPECT_EQ(resource.points, 9);
    EXPECT_EQ(resource.weight, 400);
    EXPECT_EQ(resource.italic, 0);
    EXPECT_EQ(resource.units.right - resource.units.left, 355);
    EXPECT_EQ(resource.units.bottom - resource.units.top, 277);

    const TemplateWindow& window = *shared;
    EXPECT_EQ(window_text(window.window()), wide_from_utf8("Vorsa小票打印系统 1.5"));

    const LONG_PTR style = GetWindowLongPtrW(window.window(), GWL_STYLE);
    EXPECT_TRUE(has(style, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE));
    EXPECT_FALSE(has(style, WS_MAXIMIZEBOX));
    EXPECT_FALSE(has(style, WS_THICKFRAME));
    EXPECT_FALSE(has(style, WS_CHILD));

    RECT client{};
    GetClientRect(window.window(), &client);
    RECT expected{0, 0, 355, 277};
    MapDialogRect(window.window(), &expected);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);

    // Centred on the screen's work area.
    RECT frame{};
    GetWindowRect(window.window(), &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window.window(), MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);

    // The template font: 9 points of the screen's resolution.
    LOGFONTW used{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window.window(), WM_GETFONT, 0, 0)), sizeof(used), &used);
    EXPECT_EQ(std::wstring(used.lfFaceName), wide_from_utf8("宋体"));
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(used.lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
}

// The images of a group icon resource: width, height and bits per pixel of each.
std::set<std::tuple<int, int, int>> group_icon_images(int id)
{
    std::set<std::tuple<int, int, int>> images;
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));
    if (!found) return images;
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    const WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
    for (WORD index = 0; index < count; ++index) {
        const BYTE* entry = bytes + 6 + 14 * index;
        const int width = entry[0] ? entry[0] : 256;
        const int height = entry[1] ? entry[1] : 256;
        images.insert({width, height, *reinterpret_cast<const WORD*>(entry + 6)});
    }
    return images;
}

TEST_F(MainWindowTemplate, IconHasImagesOf48And32And16PixelsAt32BitsAndBecomesTheBigIcon)
{
    const std::set<std::tuple<int, int, int>> expected = {{48, 48, 32}, {32, 32, 32}, {16, 16, 32}};
    EXPECT_EQ(group_icon_images(program_icon_resource), expected);

    // Each size loads as an icon with an alpha channel: some pixels fully transparent, some opaque.
    for (const int size : {48, 32, 16}) {
        SCOPED_TRACE("size " + std::to_string(size));
        auto* icon = static_cast<HICON>(LoadImageW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(program_icon_resource), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAPINFO header{};
        header.bmiHeader.biSize = sizeof(header.bmiHeader);
        header.bmiHeader.biWidth = size;
        header.bmiHeader.biHeight = -size;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 32;
        std::vector<DWORD> pixels(static_cast<std::size_t>(size * size));
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(size), pixels.data(), &header,
                            DIB_RGB_COLORS),
                  size);
        ReleaseDC(nullptr, screen);
        int transparent = 0;
        int opaque = 0;
        for (const DWORD pixel : pixels) {
            transparent += (pixel >> 24) == 0;
            opaque += (pixel >> 24) == 0xFF;
        }
        EXPECT_GT(transparent, 0);
        EXPECT_GT(opaque, 0);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }

    const TemplateWindow& window = *shared;
    HICON big = load_big_icon(nullptr, program_icon_resource);
    ASSERT_NE(big, nullptr);
    SendMessageW(window.window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(window.window(), WM_GETICON, ICON_BIG, 0)), big);
}

TEST(ProgramManifest, LoadsTheCommonControlsOfVersion6)
{
    // The program's common controls come from the side-by-side assembly the manifest names, not from the
    // system folder's version 5.
    HMODULE controls = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(controls, nullptr);
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(controls, path, MAX_PATH), 0u);
    std::wstring name(path);
    for (wchar_t& unit : name)
        unit = static_cast<wchar_t>(towlower(unit));
    EXPECT_NE(name.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
        << name;
}

} // namespace
} // namespace vorsa::runtime::test
