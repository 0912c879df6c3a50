// The main window as it appears on the screen once the program has bound its controls: every control is
// drawn at its rectangle, the edit boxes and lists on white, and nothing is drawn elsewhere. The window's
// pixels are read back from the screen. With VORSA_SCREENSHOT set to a file name the picture is also
// written there as a BMP file, to look at.

#include "runtime/win32/win32_controls.h"
#include "tests/runtime/win32/window_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace vorsa::runtime::test {
namespace {

constexpr COLORREF white = RGB(255, 255, 255);

// The system's colour for the inside of edit boxes and lists, changed for the test: only a control whose
// colour requests the program answers is white.
class WindowColour
{
public:
    explicit WindowColour(COLORREF colour) : m_saved(GetSysColor(COLOR_WINDOW))
    {
        const int element = COLOR_WINDOW;
        SetSysColors(1, &element, &colour);
    }
    ~WindowColour()
    {
        const int element = COLOR_WINDOW;
        SetSysColors(1, &element, &m_saved);
    }
    WindowColour(const WindowColour&) = delete;
    WindowColour& operator=(const WindowColour&) = delete;

private:
    COLORREF m_saved;
};

// The client area's pixels as the screen shows them.
class Screenshot
{
public:
    explicit Screenshot(HWND window)
    {
        RECT client{};
        GetClientRect(window, &client);
        m_width = client.right;
        m_height = client.bottom;
        m_pixels.resize(static_cast<std::size_t>(m_width * m_height));
        HDC source = GetDC(window);
        HDC memory = CreateCompatibleDC(source);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = m_width;
        info.bmiHeader.biHeight = -m_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, m_width, m_height, source, 0, 0, SRCCOPY);
        GdiFlush();
        std::memcpy(m_pixels.data(), bits, m_pixels.size() * sizeof(DWORD));
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, source);
    }

    int width() const { return m_width; }
    int height() const { return m_height; }

    // The pixel as a COLORREF (0x00BBGGRR).
    COLORREF at(int x, int y) const
    {
        const DWORD pixel = m_pixels[static_cast<std::size_t>(y * m_width + x)];
        return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    }

    // The share of the pixels of a rectangle (right and bottom excluded) that `test` accepts.
    template <class Test> double share(RECT area, Test test) const
    {
        int accepted = 0;
        int all = 0;
        for (int y = std::max(0L, area.top); y < std::min<LONG>(m_height, area.bottom); ++y)
            for (int x = std::max(0L, area.left); x < std::min<LONG>(m_width, area.right); ++x, ++all)
                accepted += test(at(x, y)) ? 1 : 0;
        return all ? static_cast<double>(accepted) / all : 0.0;
    }

    void save(const char* path) const
    {
        std::FILE* file = std::fopen(path, "wb");
        if (!file) return;
        const auto size = static_cast<DWORD>(m_pixels.size() * sizeof(DWORD));
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + size;
        BITMAPINFOHEADER info{};
        info.biSize = sizeof(info);
        info.biWidth = m_width;
        info.biHeight = -m_height;
        info.biPlanes = 1;
        info.biBitCount = 32;
        std::fwrite(&header, sizeof(header), 1, file);
        std::fwrite(&info, sizeof(info), 1, file);
        std::fwrite(m_pixels.data(), size, 1, file);
        std::fclose(file);
    }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<DWORD> m_pixels;
};

RECT inset(RECT area, int by)
{
    InflateRect(&area, -by, -by);
    return area;
}

TEST(MainWindowOnScreen, EveryControlIsDrawnAtItsPlaceWithEditBoxesAndListsOnWhite)
{
    const WindowColour yellowish(RGB(255, 255, 200));
    TemplateWindow window;
    ASSERT_NE(window.window(), nullptr);

    // Bound as the program binds them.
    std::vector<std::unique_ptr<Win32EditBox>> edits;
    std::vector<std::unique_ptr<Win32DropDownList>> lists;
    std::vector<std::unique_ptr<Win32PushButton>> buttons;
    Win32SpinControl spin;
    for (const TemplateControl& control : main_window_controls()) {
        switch (control.kind) {
        case Kind::edit:
            edits.push_back(std::make_unique<Win32EditBox>());
            ASSERT_TRUE(edits.back()->bind_control(window.window(), control.id));
            // Empty, so that nothing but the ground shows inside.
            edits.back()->set_control_text({});
            break;
        case Kind::combo_box:
            lists.push_back(std::make_unique<Win32DropDownList>());
            ASSERT_TRUE(lists.back()->bind_control(window.window(), control.id));
            break;
        case Kind::push_button:
            buttons.push_back(std::make_unique<Win32PushButton>());
            ASSERT_TRUE(buttons.back()->bind_control(window.window(), control.id));
            break;
        case Kind::spin:
            ASSERT_TRUE(spin.bind_control(window.window(), control.id));
            break;
        default:
            break;
        }
    }
    SetForegroundWindow(window.window());
    // Nothing has the focus: a focused edit box would show its caret.
    SetFocus(nullptr);
    RedrawWindow(window.window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump_pending();

    const Screenshot shot(window.window());
    if (const char* path = std::getenv("VORSA_SCREENSHOT")) shot.save(path);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const auto is_face = [face](COLORREF pixel) { return pixel == face; };
    const auto is_white = [](COLORREF pixel) { return pixel == white; };
    const auto is_ink = [face](COLORREF pixel) { return pixel != face; };

    RECT drawn{};
    for (const TemplateControl& control : main_window_controls()) {
        SCOPED_TRACE("control " + std::to_string(control.id));
        const RECT area = window.client_rect(control.id);
        UnionRect(&drawn, &drawn, &area);
        const RECT left_edge{area.left, area.top + 4, area.left + 1, area.bottom - 4};
        const RECT bottom_edge{area.left + 4, area.bottom - 1, area.right - 4, area.bottom};
        switch (control.kind) {
        case Kind::edit:
            // A sunken edge around a white inside.
            EXPECT_GT(shot.share(inset(area, 3), is_white), 0.95);
            EXPECT_GT(shot.share(left_edge, is_ink), 0.9);
            break;
        case Kind::combo_box: {
            // The field left of the arrow button is white.
            RECT field = inset(area, 4);
            field.right -= GetSystemMetrics(SM_CXVSCROLL);
            EXPECT_GT(shot.share(field, is_white), 0.9);
            EXPECT_GT(shot.share(left_edge, is_ink), 0.9);
            break;
        }
        case Kind::group_box:
        case Kind::push_button:
        case Kind::spin:
            // A frame along the left and bottom edges, on the button face.
            EXPECT_GT(shot.share(left_edge, is_ink), 0.9);
            EXPECT_GT(shot.share(bottom_edge, is_ink), 0.9);
            break;
        case Kind::label:
            // Text in the label's rectangle, on the window's ground.
            EXPECT_GT(shot.share(area, is_ink), 0.05);
            EXPECT_GT(shot.share(area, is_face), 0.4);
            break;
        }
    }

    // Beyond the controls the window is bare.
    EXPECT_EQ(shot.share(RECT{drawn.right + 1, 0, shot.width(), shot.height()}, is_face), 1.0);
    EXPECT_EQ(shot.share(RECT{0, drawn.bottom + 1, shot.width(), shot.height()}, is_face), 1.0);
}

} // namespace
} // namespace vorsa::runtime::test
