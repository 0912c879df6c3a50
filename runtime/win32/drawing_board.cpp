#include "runtime/win32/drawing_board.h"

#include <algorithm>

namespace vorsa::runtime {

namespace {

HINSTANCE module_instance()
{
    return GetModuleHandleW(nullptr);
}

bool register_board_class(WNDPROC procedure)
{
    WNDCLASSEXW board{};
    board.cbSize = sizeof board;
    board.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    board.lpfnWndProc = procedure;
    board.hInstance = module_instance();
    board.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    board.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    board.lpszClassName = DrawingBoard::window_class;
    return RegisterClassExW(&board) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

DrawingBoard::DrawingBoard() = default;

DrawingBoard::~DrawingBoard()
{
    drop_copy();
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

bool DrawingBoard::create_board(HWND parent, int x, int y, int width, int height, DWORD style,
                                DWORD extended_style, int control_id)
{
    if (m_window) {
        MoveWindow(m_window, x, y, width, height, TRUE);
        return true;
    }
    if (!register_board_class(&DrawingBoard::window_procedure)) return false;
    // The window procedure learns its board from the creation parameter (WM_NCCREATE).
    CreateWindowExW(extended_style, window_class, L"", style | WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y,
                    width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control_id)),
                    module_instance(), this);
    if (!m_window) return false;
    set_background_colour(GetSysColor(COLOR_BTNFACE));
    set_mapping_mode(mapping_pixels);
    return true;
}

bool DrawingBoard::set_auto_redraw(bool on)
{
    if (!on) {
        drop_copy();
        InvalidateRect(m_window, nullptr, TRUE);
        return true;
    }
    if (!m_window) return false;
    RECT client{};
    GetClientRect(m_window, &client);
    const SIZE size{client.right - client.left, client.bottom - client.top};
    if (size.cx <= 0 || size.cy <= 0) return false;

    HDC window_dc = GetDC(m_window);
    if (!window_dc) return false;
    HDC copy_dc = CreateCompatibleDC(window_dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy; // rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap =
        copy_dc ? CreateDIBSection(window_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    ReleaseDC(m_window, window_dc);
    if (!bitmap) {
        if (copy_dc) DeleteDC(copy_dc);
        return m_copy_dc != nullptr;
    }
    HGDIOBJ previous = SelectObject(copy_dc, bitmap);
    HBRUSH background = CreateSolidBrush(background_colour());
    const RECT whole{0, 0, size.cx, size.cy};
    FillRect(copy_dc, &whole, background);
    DeleteObject(background);

    // The pixels drawn so far carry over, device pixel for device pixel.
    detach();
    if (m_copy_dc)
        BitBlt(copy_dc, 0, 0, std::min(size.cx, m_copy_size.cx), std::min(size.cy, m_copy_size.cy), m_copy_dc,
               0, 0, SRCCOPY);
    drop_copy();
    m_copy_dc = copy_dc;
    m_copy_bitmap = bitmap;
    m_copy_previous = previous;
    m_copy_bits = static_cast<const std::uint32_t*>(bits);
    m_copy_size = size;
    attach(m_copy_dc);
    InvalidateRect(m_window, nullptr, FALSE);
    return true;
}

void DrawingBoard::drop_copy()
{
    if (!m_copy_dc) return;
    detach();
    SelectObject(m_copy_dc, m_copy_previous);
    DeleteObject(m_copy_bitmap);
    DeleteDC(m_copy_dc);
    m_copy_dc = nullptr;
    m_copy_bitmap = nullptr;
    m_copy_previous = nullptr;
    m_copy_bits = nullptr;
    m_copy_size = {0, 0};
}

void DrawingBoard::set_visible(bool shown)
{
    if (m_window) ShowWindow(m_window, shown ? SW_SHOWNA : SW_HIDE);
}

bool DrawingBoard::is_visible() const
{
    return m_window && (GetWindowLongW(m_window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::uint32_t DrawingBoard::copy_pixel(int x, int y) const
{
    if (!m_copy_bits || x < 0 || y < 0 || x >= m_copy_size.cx || y >= m_copy_size.cy) return 0;
    GdiFlush(); // drawing may still be queued
    return m_copy_bits[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_copy_size.cx) +
                       static_cast<std::size_t>(x)] &
           0xFFFFFF;
}

bool DrawingBoard::has_target() const
{
    return m_window != nullptr;
}

int DrawingBoard::device_resolution(Axis axis) const
{
    if (m_copy_dc) return GdiSurface::device_resolution(axis);
    if (!m_window) return 0;
    HDC dc = GetDC(m_window);
    if (!dc) return 0;
    const int dpi = GetDeviceCaps(dc, axis == Axis::horizontal ? LOGPIXELSX : LOGPIXELSY);
    ReleaseDC(m_window, dc);
    return dpi;
}

SIZE DrawingBoard::device_pixels() const
{
    RECT client{};
    if (!m_window || !GetClientRect(m_window, &client)) return {0, 0};
    return {client.right - client.left, client.bottom - client.top};
}

HDC DrawingBoard::begin_primitive()
{
    if (m_copy_dc) return m_copy_dc;
    if (!m_window) return nullptr;
    HDC dc = GetDC(m_window);
    if (dc) m_window_state = apply_state(dc);
    return dc;
}

void DrawingBoard::end_primitive(HDC dc)
{
    if (dc == m_copy_dc) {
        // One block copy repaints it; the copy is whole, so the background need not be erased first.
        InvalidateRect(m_window, nullptr, FALSE);
        return;
    }
    restore_state(dc, m_window_state);
    ReleaseDC(m_window, dc);
}

void DrawingBoard::paint(HDC dc, const RECT& area)
{
    if (m_copy_dc) {
        // The copy's device may be in another mapping mode; its pixels are copied one to one.
        const int saved = SaveDC(m_copy_dc);
        SetMapMode(m_copy_dc, MM_TEXT);
        SetWindowOrgEx(m_copy_dc, 0, 0, nullptr);
        SetViewportOrgEx(m_copy_dc, 0, 0, nullptr);
        BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, m_copy_dc, area.left,
               area.top, SRCCOPY);
        RestoreDC(m_copy_dc, saved);
        return;
    }
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK DrawingBoard::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        auto* board = static_cast<DrawingBoard*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(board));
        if (board) board->m_window = window;
    }
    auto* board = reinterpret_cast<DrawingBoard*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!board) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window, &paint);
        if (dc) board->paint(dc, paint.rcPaint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT client{};
        GetClientRect(window, &client);
        board->paint(reinterpret_cast<HDC>(wparam), client);
        return 0;
    }
    case WM_ERASEBKGND:
        // With a copy, painting covers every pixel: erasing first would only flicker.
        if (board->m_copy_dc) return 1;
        break;
    case WM_SIZE:
        if (board->m_copy_dc) board->set_auto_redraw(true);
        break;
    case WM_NCDESTROY:
        board->drop_copy();
        board->m_window = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace vorsa::runtime
