// The drawing board as a child window: its class and placement, the off-screen copy that every
// primitive draws on, and the window repainted from that copy whenever it is uncovered or shown.
// Needs a display (VORSA_WINE_DISPLAY, a headless X server of the test's own).

#include "runtime/platform/platform.h"
#include "runtime/win32/drawing_board.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace vorsa::runtime {
namespace {

constexpr std::uint32_t black = 0x000000;
constexpr std::uint32_t white = 0xFFFFFF;

std::uint32_t rgb_of(COLORREF colour)
{
    return (static_cast<std::uint32_t>(GetRValue(colour)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(colour)) << 8) | GetBValue(colour);
}

// Lets the window handle what is queued (paints among it).
void dispatch_waiting_messages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Scribbles over the board's window behind its back, as another window lying on it would.
void cover(DrawingBoard& board)
{
    HDC dc = GetDC(board.window());
    RECT all{0, 0, 340, 400};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &all, red);
    DeleteObject(red);
    ReleaseDC(board.window(), dc);
}

class DrawingBoardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSW parent_class{};
        parent_class.lpfnWndProc = DefWindowProcW;
        parent_class.hInstance = GetModuleHandleW(nullptr);
        parent_class.lpszClassName = L"VorsaBoardTestParent";
        parent_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        RegisterClassW(&parent_class);
        parent = CreateWindowExW(0, L"VorsaBoardTestParent", L"board test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 0, 0, 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr) << "no window can be made: the test needs a display (VORSA_WINE_DISPLAY)";
        dispatch_waiting_messages();
    }
    void TearDown() override
    {
        if (parent) DestroyWindow(parent);
    }

    // A pixel of the board as the window shows it, 0x00RRGGBB.
    std::uint32_t shown(const DrawingBoard& board, int x, int y)
    {
        HDC dc = GetDC(board.window());
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(board.window(), dc);
        return rgb_of(colour);
    }
    void repaint(const DrawingBoard& board)
    {
        RedrawWindow(board.window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        dispatch_waiting_messages();
    }

    PlatformGuard m_platform;
    HWND parent = nullptr;
};

TEST_F(DrawingBoardTest, BoardIsAChildOfItsClassAtItsPlace)
{
    DrawingBoard board;
    ASSERT_TRUE(board.create_board(parent, 180, 8, 340, 400, 0, 0, 501));
    HWND window = board.window();
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    EXPECT_STREQ(name, L"DrawBoard");
    EXPECT_EQ(GetParent(window), parent);
    EXPECT_EQ(GetDlgCtrlID(window), 501);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS);
    EXPECT_EQ(GetClassLongW(window, GCL_STYLE) & (CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS),
              static_cast<DWORD>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 340);
    EXPECT_EQ(client.bottom, 400);
    POINT corner{0, 0};
    MapWindowPoints(window, parent, &corner, 1);
    EXPECT_EQ(corner.x, 180);
    EXPECT_EQ(corner.y, 8);
    EXPECT_EQ(board.mapping_mode(), mapping_pixels);
    EXPECT_EQ(board.background_colour(), GetSysColor(COLOR_BTNFACE));
    // A second board of the same class registers it again without harm.
    DrawingBoard second;
    EXPECT_TRUE(second.create_board(parent, 0, 0));
    GetClientRect(second.window(), &client);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 100);
}

TEST_F(DrawingBoardTest, WhatIsDrawnSurvivesCoveringAndHiding)
{
    DrawingBoard board;
    ASSERT_TRUE(board.create_board(parent, 180, 8, 340, 400));
    ASSERT_TRUE(board.set_auto_redraw(true));
    EXPECT_EQ(board.copy_size().cx, 340);
    EXPECT_EQ(board.copy_size().cy, 400);
    const std::uint32_t face = rgb_of(GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(board.copy_pixel(5, 5), face);

    board.clear_board();
    board.draw_rectangle(0, 0, 340, 400);
    board.draw_line(20, 100, 300, 100);
    EXPECT_EQ(board.copy_pixel(0, 0), black);
    EXPECT_EQ(board.copy_pixel(339, 399), black);
    EXPECT_EQ(board.copy_pixel(10, 10), white);
    EXPECT_EQ(board.copy_pixel(150, 100), black);

    struct Step
    {
        const char* name;
        void (*disturb)(DrawingBoard&);
    };
    const Step steps[] = {
        {"covered", cover},
        {"hidden and shown",
         [](DrawingBoard& b) {
             b.set_visible(false);
             EXPECT_FALSE(b.is_visible());
             b.set_visible(true);
             EXPECT_TRUE(b.is_visible());
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.disturb(board);
        repaint(board);
        EXPECT_EQ(shown(board, 0, 0), black);
        EXPECT_EQ(shown(board, 10, 10), white);
        EXPECT_EQ(shown(board, 150, 100), black);
        EXPECT_EQ(shown(board, 150, 101), white);
    }

    // Drawn while hidden: shown when the board is shown again.
    board.set_visible(false);
    board.draw_line(20, 200, 300, 200);
    board.set_visible(true);
    repaint(board);
    EXPECT_EQ(shown(board, 150, 200), black);

    // Printing the client area gives the copy, as a repaint does.
    HDC memory = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 340, 400);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SendMessageW(board.window(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    EXPECT_EQ(rgb_of(GetPixel(memory, 150, 200)), black);
    EXPECT_EQ(rgb_of(GetPixel(memory, 10, 10)), white);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

TEST_F(DrawingBoardTest, CopyIsRemadeKeepingItsPixelsOrDroppedForTheWindow)
{
    DrawingBoard board;
    ASSERT_TRUE(board.create_board(parent, 180, 8, 340, 400));
    ASSERT_TRUE(board.set_auto_redraw(true));
    board.draw_line(0, 50, 100, 50);

    // Again on, and after growing: the pixels drawn so far stay.
    ASSERT_TRUE(board.set_auto_redraw(true));
    EXPECT_EQ(board.copy_pixel(50, 50), black);
    MoveWindow(board.window(), 180, 8, 400, 420, TRUE);
    dispatch_waiting_messages();
    EXPECT_EQ(board.copy_size().cx, 400);
    EXPECT_EQ(board.copy_size().cy, 420);
    EXPECT_EQ(board.copy_pixel(50, 50), black);
    EXPECT_EQ(board.copy_pixel(390, 410), rgb_of(GetSysColor(COLOR_BTNFACE)));

    // Off: no copy, the board draws on the window itself.
    ASSERT_TRUE(board.set_auto_redraw(false));
    EXPECT_FALSE(board.auto_redraw());
    EXPECT_EQ(board.copy_size().cx, 0);
    dispatch_waiting_messages();
    board.draw_line(0, 300, 100, 300);
    EXPECT_EQ(shown(board, 50, 300), black);
}

} // namespace
} // namespace vorsa::runtime
