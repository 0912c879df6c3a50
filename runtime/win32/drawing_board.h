#pragma once
// The drawing board: a child window of the class "DrawBoard" that is a drawing surface in the pixel
// mapping mode. With automatic redraw on (the program switches it on at start and leaves it on) every
// primitive draws into an off-screen copy of the client area, a 32-bit DIB section selected into a
// memory device, and the window repaints itself from that copy on WM_PAINT (and WM_PRINTCLIENT). So
// covering, minimising or hiding the window never loses what was drawn, and what is drawn while the
// board is hidden shows when it is shown again. With automatic redraw off the board draws straight on
// the window, and a repaint shows the background.

#include "runtime/win32/gdi_surface.h"

#include <cstdint>
#include <windows.h>

namespace vorsa::runtime {

class DrawingBoard final : public GdiSurface
{
public:
    static constexpr const wchar_t* window_class = L"DrawBoard";

    // The board exists as an object before its window does; create_board makes the window.
    DrawingBoard();
    ~DrawingBoard() override;
    DrawingBoard(const DrawingBoard&) = delete;
    DrawingBoard& operator=(const DrawingBoard&) = delete;

    // Registers the window class (again is harmless; redrawn whole on resizing, double clicks reported,
    // arrow cursor, button-face background) and makes the board a child of `parent` at (x, y) in the
    // parent's client pixels with the given size, the style bits WS_CHILD, WS_VISIBLE and
    // WS_CLIPSIBLINGS added to `style`, and `control_id` as its identifier; reads the background colour
    // (the system's button face) and switches to the pixel mapping mode. True when the window exists. A
    // board whose window exists is moved and sized instead.
    bool create_board(HWND parent, int x, int y, int width = 200, int height = 100, DWORD style = 0,
                      DWORD extended_style = 0, int control_id = 0);

    // On: makes the off-screen copy at the client area's size, filled with the background colour and
    // keeping the pixels of an earlier copy, and draws on it from now on; false when no copy can be made
    // (the board then draws on the window). Off: drops the copy.
    bool set_auto_redraw(bool on);
    bool auto_redraw() const { return m_copy_dc != nullptr; }

    void set_visible(bool shown);
    bool is_visible() const;

    HWND window() const { return m_window; }
    // A pixel of the off-screen copy as 0x00RRGGBB; 0 outside it or without a copy. The program never
    // reads pixels back; tests do.
    std::uint32_t copy_pixel(int x, int y) const;
    SIZE copy_size() const { return m_copy_size; }

protected:
    bool has_target() const override;
    int device_resolution(Axis axis) const override;
    SIZE device_pixels() const override;
    HDC begin_primitive() override;
    void end_primitive(HDC dc) override;

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    // Copies the damaged part of the off-screen copy onto `dc` (the background without a copy).
    void paint(HDC dc, const RECT& area);
    void drop_copy();

    HWND m_window = nullptr;
    HDC m_copy_dc = nullptr;
    HBITMAP m_copy_bitmap = nullptr;
    HGDIOBJ m_copy_previous = nullptr;
    const std::uint32_t* m_copy_bits = nullptr;
    SIZE m_copy_size{0, 0};
    // The window's device during one primitive drawn without a copy, and its saved state.
    int m_window_state = 0;
};

} // namespace vorsa::runtime
