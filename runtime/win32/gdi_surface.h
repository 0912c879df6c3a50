#pragma once
// A drawing surface over a GDI device context: the printer's page, the drawing board's off-screen
// bitmap, or any memory device a test draws on.
//
// Units. Mode 1 is the device's own pixels (MM_TEXT). Every other mode is MM_ANISOTROPIC with the
// mode's units per inch mapped onto the device's pixels per inch along each axis (254 units per inch
// for mode 2, one unit 0.1 mm), origin at the device's (0, 0) and y growing downward: on a printer that
// is the top-left corner of the printable area. The y axis of MM_LOMETRIC points up; the anisotropic
// mode gives the same scale with the direction callers use, so no coordinate is ever negated.
//
// Drawing state on the device: the surface's own font (made with CreateFontIndirectW from the current
// description, its GBK face name converted to UTF-16), the text colour, a transparent text background,
// text aligned by the top-left corner of its cell, halftone stretching, and the device's default pen
// and brush (a one-pixel black line, a white interior). Text goes out as UTF-16 converted from GBK.

#include "runtime/surface/surface.h"

#include <windows.h>

namespace vorsa::runtime {

// The screen's vertical resolution in dots per inch (LOGPIXELSY of the screen's device context), the
// resolution make_font sizes fonts with: set_screen_dpi_source(gdi_screen_vertical_dpi). 0 when the
// screen cannot be asked.
int gdi_screen_vertical_dpi();

class GdiSurface : public DrawingSurface
{
public:
    GdiSurface();
    ~GdiSurface() override;

    // Binds the surface to `dc` and applies the drawing state to it (its earlier state is saved with
    // SaveDC). The caller keeps the device and detaches before deleting it or handing it to another
    // thread. The drawing state (mode, font, text colour) is kept across bindings.
    void attach(HDC dc);
    // Restores the device's own state and leaves the surface without a target.
    void detach();
    HDC device() const { return m_dc; }

    // The colour clear_board fills with: white, the colour of paper, unless set otherwise.
    void set_background_colour(Colour colour) { m_background = colour & 0xFFFFFF; }
    Colour background_colour() const { return m_background; }

protected:
    bool has_target() const override;
    int device_resolution(Axis axis) const override;
    Size drawing_area() const override;
    void render_line(Point from, Point to) override;
    void render_rectangle(int left, int top, int right, int bottom) override;
    void render_text(Point at, const Text& text) override;
    void render_picture(const Bitmap& bitmap, int x, int y, int width, int height) override;
    void render_background(int x, int y, int width, int height) override;
    void state_changed() override;

    // The device one primitive draws on, with the drawing state applied, and its release afterwards.
    // The base class draws on the attached device; a window that draws on itself gets its device for
    // each primitive. begin_primitive returns nullptr when there is nothing to draw on.
    virtual HDC begin_primitive();
    virtual void end_primitive(HDC dc);
    // The size of the device's drawing area in pixels: the bitmap selected into a memory device, the
    // printable area of a printer (HORZRES x VERTRES).
    virtual SIZE device_pixels() const;

    // Selects the font, colours, alignment, mapping mode and stretch mode into `dc`, after SaveDC;
    // returns the saved state for restore_state.
    int apply_state(HDC dc);
    void restore_state(HDC dc, int saved);

private:
    // Makes m_font match the current description.
    void update_font();

    HDC m_dc = nullptr;
    int m_saved_state = 0;
    HFONT m_font = nullptr;
    FontDescription m_font_made_for;
    Colour m_background = colour_white;
};

} // namespace vorsa::runtime
