#pragma once
// What the tests of the Win32 window share: the main window's template as the program expects it,
// message pumping until something has happened, the window made from the template without a modal loop,
// and GBK texts written in UTF-8.

#include "runtime/text/gbk.h"

#include <commctrl.h>
#include <functional>
#include <string>
#include <vector>
#include <windows.h>

namespace vorsa::runtime::test {

enum class Kind
{
    group_box,
    push_button,
    label,
    edit,
    combo_box,
    spin,
};

// Styles that tell the controls' behaviour apart.
enum Flag : unsigned
{
    tab_stop = 1u << 0,
    auto_scroll = 1u << 1,   // ES_AUTOHSCROLL, CBS_AUTOHSCROLL
    want_return = 1u << 2,   // multi-line edit in which Enter inserts a line break
    editable_list = 1u << 3, // CBS_DROPDOWN (else CBS_DROPDOWNLIST)
};

struct TemplateControl
{
    int id;
    Kind kind;
    const char* text; // UTF-8
    RECT units;       // left, top, right, bottom in dialog units
    unsigned flags;
};

// The 28 controls of template 1000 in template order: rectangle (left, top, width, height), caption and
// the styles the window's behaviour rests on.
inline std::vector<TemplateControl> main_window_controls()
{
    const auto rect = [](LONG left, LONG top, LONG width, LONG height) {
        return RECT{left, top, left + width, top + height};
    };
    return {
        {1014, Kind::group_box, "添加", rect(6, 27, 105, 108), 0},
        {1015, Kind::group_box, "其它", rect(6, 141, 105, 88), 0},
        {1022, Kind::push_button, "设置", rect(88, 6, 23, 16), tab_stop},
        {1004, Kind::combo_box, "", rect(27, 7, 60, 400), tab_stop},
        {1001, Kind::edit, "", rect(30, 43, 53, 12), tab_stop},
        {1024, Kind::push_button, "历史", rect(86, 42, 20, 14), tab_stop},
        {1008, Kind::edit, "", rect(30, 61, 76, 12), tab_stop | auto_scroll | want_return},
        {1012, Kind::edit, "", rect(30, 79, 76, 12), tab_stop | auto_scroll | want_return},
        {1011, Kind::edit, "1", rect(30, 97, 63, 12), tab_stop | auto_scroll | want_return},
        {1032, Kind::push_button, "清除", rect(12, 114, 32, 15), tab_stop},
        {1030, Kind::push_button, "添加预览", rect(48, 114, 58, 15), tab_stop},
        {1018, Kind::combo_box, "", rect(30, 157, 63, 252), tab_stop | auto_scroll | editable_list},
        {1019, Kind::edit, "", rect(30, 175, 76, 12), tab_stop | auto_scroll},
        {1021, Kind::edit, "店员甲", rect(30, 193, 76, 12), tab_stop | auto_scroll},
        {1028, Kind::edit, "新世界百货购物广场店", rect(30, 211, 76, 12), tab_stop | auto_scroll},
        {1007, Kind::combo_box, "", rect(6, 235, 57, 288), tab_stop},
        {1002, Kind::push_button, "开始打印", rect(68, 234, 45, 16), tab_stop},
        {1003, Kind::label, "品牌", rect(7, 10, 18, 9), 0},
        {1005, Kind::label, "商品", rect(12, 45, 18, 9), 0},
        {1006, Kind::label, "尺码", rect(12, 63, 18, 9), 0},
        {1013, Kind::label, "现价", rect(12, 81, 18, 9), 0},
        {1010, Kind::label, "数量", rect(12, 99, 18, 9), 0},
        {1029, Kind::spin, "", rect(95, 96, 12, 12), 0},
        {1016, Kind::label, "店名", rect(12, 159, 18, 9), 0},
        {1031, Kind::push_button, "X", rect(94, 157, 12, 12), tab_stop},
        {1017, Kind::label, "日期", rect(12, 177, 18, 9), 0},
        {1020, Kind::label, "店员", rect(12, 195, 18, 9), 0},
        {1027, Kind::label, "店址", rect(12, 213, 18, 9), 0},
    };
}

inline std::wstring wide_from_utf8(const std::string& utf8)
{
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size);
    wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return wide;
}

inline Text gbk(const char* utf8)
{
    return gbk_from_utf8(utf8);
}

inline std::wstring window_text(HWND window)
{
    wchar_t buffer[512] = {};
    const int length = GetWindowTextW(window, buffer, 512);
    return std::wstring(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

// Dispatches messages, with the dialog manager's keys for dialogs, until `done` says so; gives up after
// a generous number of rounds (each waits at most 50 ms for a message). True when `done` was reached.
inline bool pump_until(const std::function<bool()>& done, int rounds = 400)
{
    for (int round = 0; round < rounds; ++round) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            HWND top = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
            if (top && IsDialogMessageW(top, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return done();
}

// Dispatches what is queued now, and what that queues in turn.
inline void pump_pending()
{
    int rounds = 0;
    pump_until([&rounds] { return ++rounds > 3; }, 4);
}

// The main window made from template 1000 of the test program's resources, without a modal loop; it is
// destroyed with the object.
class TemplateWindow
{
public:
    TemplateWindow()
    {
        // The template's spin control needs its window class, as the program registers it at start.
        INITCOMMONCONTROLSEX classes{};
        classes.dwSize = sizeof(classes);
        classes.dwICC = ICC_UPDOWN_CLASS;
        InitCommonControlsEx(&classes);
        m_window =
            CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1000), nullptr, procedure, 0);
    }
    ~TemplateWindow() { destroy(); }
    TemplateWindow(const TemplateWindow&) = delete;
    TemplateWindow& operator=(const TemplateWindow&) = delete;

    HWND window() const { return m_window; }
    HWND item(int id) const { return GetDlgItem(m_window, id); }
    void destroy()
    {
        if (m_window) DestroyWindow(m_window);
        m_window = nullptr;
    }

    // The client rectangle of control `id`.
    RECT client_rect(int id) const
    {
        RECT area{};
        GetWindowRect(item(id), &area);
        MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&area), 2);
        return area;
    }

    // A rectangle in dialog units as client pixels.
    RECT pixels(RECT units) const
    {
        MapDialogRect(m_window, &units);
        return units;
    }

private:
    static INT_PTR CALLBACK procedure(HWND, UINT message, WPARAM, LPARAM)
    {
        return message == WM_INITDIALOG ? TRUE : FALSE;
    }

    HWND m_window = nullptr;
};

} // namespace vorsa::runtime::test
