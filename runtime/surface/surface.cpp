#include "runtime/surface/surface.h"

#include "runtime/surface/picture.h"

#include <cassert>
#include <cmath>
#include <utility>

namespace vorsa::runtime {

namespace {

std::function<int()>& dpi_source()
{
    static std::function<int()> source;
    return source;
}

// Units per inch that to_logical_units multiplies by, per mapping mode; 0 where it does not convert.
int conversion_factor(int mode)
{
    switch (mode) {
    case 2:
        return 339;
    case 3:
        return 3387;
    case 4:
        return 133;
    case 5:
        return 1333;
    case 6:
        return 1920;
    default:
        return 0;
    }
}

int round_half_away(double value)
{
    return static_cast<int>(std::lround(value));
}

} // namespace

void set_screen_dpi_source(std::function<int()> source)
{
    dpi_source() = std::move(source);
}

std::function<int()> screen_dpi_source()
{
    return dpi_source();
}

int screen_vertical_dpi()
{
    const auto& source = dpi_source();
    const int dpi = source ? source() : 0;
    return dpi > 0 ? dpi : 96;
}

std::unique_ptr<FontDescription> make_font(const Text& face, double points, bool bold, bool italic,
                                           bool strike_out, bool underline, int escapement)
{
    return make_font_at(screen_vertical_dpi(), face, points, bold, italic, strike_out, underline, escapement);
}

std::unique_ptr<FontDescription> make_font_at(int dpi, const Text& face, double points, bool bold,
                                              bool italic, bool strike_out, bool underline, int escapement)
{
    auto font = std::make_unique<FontDescription>();
    font->face = face.substr(0, 31);
    font->height = -round_half_away(points * dpi / 72.0);
    font->weight = bold ? weight_bold : weight_default;
    font->italic = italic;
    font->strike_out = strike_out;
    font->underline = underline;
    font->escapement = escapement;
    return font;
}

DrawingSurface::DrawingSurface()
{
    // Stands for the platform's user-interface font until the first set_font: 9 points at 96 dpi.
    m_font.height = -12;
}

DrawingSurface::~DrawingSurface() = default;

double DrawingSurface::physical_units_per_inch(int mode)
{
    switch (mode) {
    case 2:
        return 254.0;
    case 3:
        return 2540.0;
    case 4:
        return 100.0;
    case 5:
        return 1000.0;
    case 6:
        return 1440.0;
    default:
        return 0.0;
    }
}

void DrawingSurface::set_mapping_mode(int mode)
{
    assert(mode >= 1 && mode <= 6);
    m_mapping_mode = mode;
    // The current font is converted once more under the new mode.
    m_font.height = to_logical_units(m_font.height, Axis::vertical);
    state_changed();
}

int DrawingSurface::to_logical_units(int length, Axis axis) const
{
    const int factor = conversion_factor(m_mapping_mode);
    if (factor == 0 || !has_target()) return length;
    const int resolution = device_resolution(axis);
    if (resolution <= 0) return length;
    return round_half_away(static_cast<double>(length) * factor / resolution);
}

void DrawingSurface::set_font(std::unique_ptr<FontDescription> font)
{
    assert(font);
    FontDescription taken = std::move(*font);
    font.reset();
    taken.face = taken.face.substr(0, 31);
    taken.height = to_logical_units(taken.height, Axis::vertical);
    taken.weight = taken.is_bold() ? weight_bold : weight_default;
    m_font = std::move(taken);
    state_changed();
}

void DrawingSurface::set_text_color(Colour colour)
{
    m_text_colour = colour & 0xFFFFFF;
    state_changed();
}

void DrawingSurface::draw_line(int x1, int y1, int x2, int y2)
{
    if (has_target()) render_line({x1, y1}, {x2, y2});
    m_position = {x2, y2};
}

void DrawingSurface::draw_rectangle(int left, int top, int right, int bottom)
{
    if (has_target()) render_rectangle(left, top, right, bottom);
}

void DrawingSurface::draw_string(std::optional<int> x, std::optional<int> y, const Text& text)
{
    if (!has_target() || text.empty()) return;
    render_text({x.value_or(m_position.x), y.value_or(m_position.y)}, text);
}

void DrawingSurface::draw_picture(const Bitmap& bitmap, int x, int y, std::optional<int> width,
                                  std::optional<int> height)
{
    if (!has_target() || bitmap.empty()) return;
    const int w = width ? *width : to_logical_units(bitmap.width, Axis::horizontal);
    const int h = height ? *height : to_logical_units(bitmap.height, Axis::vertical);
    if (w == 0 || h == 0) return;
    render_picture(bitmap, x, y, w, h);
}

void DrawingSurface::clear_board(std::optional<int> x, std::optional<int> y, std::optional<int> width,
                                 std::optional<int> height)
{
    const int left = x.value_or(0);
    const int top = y.value_or(0);
    if (has_target()) {
        const Size area = drawing_area();
        render_background(left, top, width.value_or(area.width), height.value_or(area.height));
    }
    m_position = {left, top};
}

} // namespace vorsa::runtime
