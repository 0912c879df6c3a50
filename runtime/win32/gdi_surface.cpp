#include "runtime/win32/gdi_surface.h"

#include "runtime/surface/picture.h"
#include "runtime/text/gbk.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vorsa::runtime {

namespace {

// The face of the font a surface holds before the first set_font: the user interface's.
std::wstring default_face()
{
    LOGFONTW font{};
    if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font) == sizeof font)
        return font.lfFaceName;
    return L"MS Shell Dlg";
}

HFONT make_gdi_font(const FontDescription& description)
{
    LOGFONTW font{};
    font.lfHeight = description.height;
    font.lfEscapement = description.escapement;
    font.lfWeight = description.is_bold() ? weight_bold : FW_DONTCARE;
    font.lfItalic = description.italic;
    font.lfUnderline = description.underline;
    font.lfStrikeOut = description.strike_out;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    const std::u16string face = utf16_from_gbk(description.face);
    const std::wstring name = face.empty() ? default_face() : std::wstring(face.begin(), face.end());
    // LF_FACESIZE counts the terminating zero.
    name.copy(font.lfFaceName, std::min<std::size_t>(name.size(), LF_FACESIZE - 1));
    return CreateFontIndirectW(&font);
}

std::wstring wide_text(const Text& text)
{
    const std::u16string units = utf16_from_gbk(text);
    return std::wstring(units.begin(), units.end());
}

} // namespace

int gdi_screen_vertical_dpi()
{
    HDC screen = GetDC(nullptr);
    if (!screen) return 0;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

GdiSurface::GdiSurface() = default;

GdiSurface::~GdiSurface()
{
    detach();
    if (m_font) DeleteObject(m_font);
}

void GdiSurface::attach(HDC dc)
{
    detach();
    if (!dc) return;
    m_dc = dc;
    m_saved_state = apply_state(dc);
}

void GdiSurface::detach()
{
    if (!m_dc) return;
    restore_state(m_dc, m_saved_state);
    m_dc = nullptr;
    m_saved_state = 0;
}

int GdiSurface::apply_state(HDC dc)
{
    const int saved = SaveDC(dc);
    update_font();
    if (m_font) SelectObject(dc, m_font);
    SetTextColor(dc, text_color());
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    const int mode = mapping_mode();
    const double units = physical_units_per_inch(mode);
    if (units == 0) {
        SetMapMode(dc, MM_TEXT);
    } else {
        SetMapMode(dc, MM_ANISOTROPIC);
        const int per_inch = static_cast<int>(units);
        SetWindowExtEx(dc, per_inch, per_inch, nullptr);
        SetViewportExtEx(dc, GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY), nullptr);
        SetWindowOrgEx(dc, 0, 0, nullptr);
        SetViewportOrgEx(dc, 0, 0, nullptr);
    }
    // Halftone stretching asks for the brush origin to be set afterwards.
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    return saved;
}

void GdiSurface::restore_state(HDC dc, int saved)
{
    // Puts the device's own font back in, so that the surface's can be deleted.
    if (saved) RestoreDC(dc, saved);
}

void GdiSurface::update_font()
{
    if (m_font && m_font_made_for == current_font()) return;
    HFONT font = make_gdi_font(current_font());
    if (!font) return;
    if (m_dc) SelectObject(m_dc, font);
    if (m_font) DeleteObject(m_font);
    m_font = font;
    m_font_made_for = current_font();
}

void GdiSurface::state_changed()
{
    if (!m_dc) {
        update_font();
        return;
    }
    // Mode, colour and font again, on the state saved at attach.
    restore_state(m_dc, m_saved_state);
    m_saved_state = apply_state(m_dc);
}

bool GdiSurface::has_target() const
{
    return m_dc != nullptr;
}

int GdiSurface::device_resolution(Axis axis) const
{
    if (!m_dc) return 0;
    return GetDeviceCaps(m_dc, axis == Axis::horizontal ? LOGPIXELSX : LOGPIXELSY);
}

SIZE GdiSurface::device_pixels() const
{
    if (!m_dc) return {0, 0};
    if (GetObjectType(m_dc) == OBJ_MEMDC) {
        BITMAP bitmap{};
        if (GetObjectW(GetCurrentObject(m_dc, OBJ_BITMAP), sizeof bitmap, &bitmap) == sizeof bitmap)
            return {bitmap.bmWidth, bitmap.bmHeight};
        return {0, 0};
    }
    return {GetDeviceCaps(m_dc, HORZRES), GetDeviceCaps(m_dc, VERTRES)};
}

Size GdiSurface::drawing_area() const
{
    const SIZE pixels = device_pixels();
    const double units = physical_units_per_inch(mapping_mode());
    if (units == 0) return {pixels.cx, pixels.cy};
    const auto logical = [units](LONG length, int dpi) {
        return dpi > 0 ? static_cast<int>(std::lround(length * units / dpi)) : static_cast<int>(length);
    };
    return {logical(pixels.cx, device_resolution(Axis::horizontal)),
            logical(pixels.cy, device_resolution(Axis::vertical))};
}

HDC GdiSurface::begin_primitive()
{
    return m_dc;
}

void GdiSurface::end_primitive(HDC) {}

void GdiSurface::render_line(Point from, Point to)
{
    HDC dc = begin_primitive();
    if (!dc) return;
    MoveToEx(dc, from.x, from.y, nullptr);
    LineTo(dc, to.x, to.y);
    end_primitive(dc);
}

void GdiSurface::render_rectangle(int left, int top, int right, int bottom)
{
    HDC dc = begin_primitive();
    if (!dc) return;
    Rectangle(dc, left, top, right, bottom);
    end_primitive(dc);
}

void GdiSurface::render_text(Point at, const Text& text)
{
    HDC dc = begin_primitive();
    if (!dc) return;
    const std::wstring wide = wide_text(text);
    TextOutW(dc, at.x, at.y, wide.data(), static_cast<int>(wide.size()));
    end_primitive(dc);
}

void GdiSurface::render_picture(const Bitmap& bitmap, int x, int y, int width, int height)
{
    HDC dc = begin_primitive();
    if (!dc) return;
    // The bitmap's rows run top-down, each pixel B, G, R and a byte GDI ignores: a top-down 32-bit DIB.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bitmap.width;
    info.bmiHeader.biHeight = -bitmap.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // A negative width or height mirrors the picture, as StretchDIBits does itself.
    StretchDIBits(dc, x, y, width, height, 0, 0, bitmap.width, bitmap.height, bitmap.pixels.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
    end_primitive(dc);
}

void GdiSurface::render_background(int x, int y, int width, int height)
{
    HDC dc = begin_primitive();
    if (!dc) return;
    HBRUSH brush = CreateSolidBrush(m_background);
    if (brush) {
        RECT area{std::min(x, x + width), std::min(y, y + height), std::max(x, x + width),
                  std::max(y, y + height)};
        FillRect(dc, &area, brush);
        DeleteObject(brush);
    }
    end_primitive(dc);
}

} // namespace vorsa::runtime
