#pragma once
// The drawing surface: the small drawing state (unit system, current font, text colour, current
// position) and the handful of primitives that the receipt layout and the start-up title picture use.
// The preview picture box (a drawing board) and the printer's page are the two surfaces; both live in
// the Qt edge, this header is the core's whole view of them.
//
// Coordinates are logical units of the current mapping mode, given with y growing downward in every
// mode (the surface hides devices whose y axis points up). A surface draws in integers: callers truncate
// their real positions toward zero before passing them.

#include "runtime/text/text.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vorsa::runtime {

struct Bitmap;

enum class Axis
{
    horizontal,
    vertical
};

// Mapping modes the program uses: one unit is one device pixel, or 0.1 mm from the top-left corner of
// the printable area. Modes 3 to 6 (0.01 mm, 0.01 inch, 0.001 inch, 1/1440 inch) are accepted too.
inline constexpr int mapping_pixels = 1;
inline constexpr int mapping_tenth_mm = 2;

// Colours are 0x00BBGGRR.
using Colour = std::uint32_t;
inline constexpr Colour colour_black = 0x000000;
inline constexpr Colour colour_white = 0xFFFFFF;

// Weights: 0 asks for the face's default weight; 401 or more counts as bold.
inline constexpr int weight_default = 0;
inline constexpr int weight_bold = 800;

// A font as the caller describes it. The height is in the units of whoever holds the description: in
// screen pixels as make_font returns it, in the surface's logical units once a surface has taken it.
// A negative height asks for the character height (the em, without internal leading), a positive one
// for the cell height, 0 for the face's default size.
struct FontDescription
{
    Text face; // GBK, at most 31 bytes are used
    int height = 0;
    int weight = weight_default;
    bool italic = false;
    bool underline = false;
    bool strike_out = false;
    int escapement = 0; // angle of the text line in tenths of a degree, counter-clockwise

    bool is_bold() const { return weight >= 401; }
    friend bool operator==(const FontDescription&, const FontDescription&) = default;
};

// Where make_font reads the screen's vertical resolution in dots per inch. Without a source (or with an
// empty one) the screen counts as 96 dpi; the Qt layer installs none, as its window is laid out in
// logical pixels of a 96 dpi screen whatever the desktop's font resolution.
void set_screen_dpi_source(std::function<int()> source);
std::function<int()> screen_dpi_source();
int screen_vertical_dpi();

// The screen resolution that point sizes are meant at where no screen takes part: a printed page's
// letters follow the printer's resolution and nothing else.
inline constexpr int reference_screen_dpi = 96;

// A font of `points` points on the screen: height -(points * dpi / 72, rounded half away from zero),
// weight 800 when bold and the default weight otherwise. At 96 dpi 8 points give -11 and 13 give -17.
std::unique_ptr<FontDescription> make_font(const Text& face, double points, bool bold = false,
                                           bool italic = false, bool strike_out = false,
                                           bool underline = false, int escapement = 0);
// The same at a given resolution instead of the screen's.
std::unique_ptr<FontDescription> make_font_at(int dpi, const Text& face, double points, bool bold = false,
                                              bool italic = false, bool strike_out = false,
                                              bool underline = false, int escapement = 0);

struct Point
{
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size
{
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// The surface's state and operations. Implementations provide the device: its resolution, the size of
// its drawing area and the primitives, all in logical units of the current mode with y downward.
// Without a target (before the board window exists, outside a print job) every primitive does nothing
// and to_logical_units returns its input.
class DrawingSurface
{
public:
    DrawingSurface();
    virtual ~DrawingSurface();
    DrawingSurface(const DrawingSurface&) = delete;
    DrawingSurface& operator=(const DrawingSurface&) = delete;

    int mapping_mode() const { return m_mapping_mode; }
    // Stores the mode and converts the current font's height once more under it (a font current across
    // a mode change is scaled again; callers set a fresh font after every change). Modes 1 to 6.
    void set_mapping_mode(int mode);

    // A length in device pixels turned into logical units: length * factor / dots per inch along the
    // axis, rounded half away from zero, with the factors 339 (mode 2), 3387, 133, 1333, 1920 (modes 3
    // to 6). Unchanged in mode 1 or without a target. Mode 2's factor makes a converted length come out
    // four thirds of its physical size; font heights on paper follow that rule.
    int to_logical_units(int length, Axis axis) const;

    // Takes ownership of the description (the caller makes a new one for every call), converts its
    // height with to_logical_units(height, vertical) and makes it current: weight 800 when it counts as
    // bold, the default weight otherwise.
    void set_font(std::unique_ptr<FontDescription> font);
    // The current font as the surface holds it (height in logical units).
    const FontDescription& current_font() const { return m_font; }

    void set_text_color(Colour colour);
    Colour text_color() const { return m_text_colour; }

    Point current_position() const { return m_position; }

    // One pixel wide black line from (x1, y1) to (x2, y2): the start point is drawn, the end point is
    // not. The current position ends at (x2, y2).
    void draw_line(int x1, int y1, int x2, int y2);
    // Black outline, white interior; the right column and the bottom row are outside: (0, 0, 340, 400)
    // covers x 0..339 and y 0..399.
    void draw_rectangle(int left, int top, int right, int bottom);
    // One line of GBK text, the character cell's top-left corner at (x, y), in the current font and
    // text colour, on a transparent background, never clipped, wrapped or broken at line breaks. An
    // omitted coordinate comes from the current position, which the text does not move.
    void draw_string(std::optional<int> x, std::optional<int> y, const Text& text);
    void draw_string(int x, int y, const Text& text)
    {
        draw_string(std::optional<int>{x}, std::optional<int>{y}, text);
    }
    // The whole bitmap stretched into the rectangle at (x, y), copying its pixels with a smoothing
    // filter. An omitted width or height is the bitmap's pixel size converted by to_logical_units; a
    // negative size mirrors the picture. The caller keeps the bitmap.
    void draw_picture(const Bitmap& bitmap, int x, int y, std::optional<int> width = std::nullopt,
                      std::optional<int> height = std::nullopt);
    // Fills the rectangle (default: the whole drawing area; an omitted x or y counts as 0) with the
    // background colour and moves the current position to (x, y).
    void clear_board(std::optional<int> x = std::nullopt, std::optional<int> y = std::nullopt,
                     std::optional<int> width = std::nullopt, std::optional<int> height = std::nullopt);

    // Units per inch that a mode really maps to on the device (254 for mode 2); 0 for mode 1.
    static double physical_units_per_inch(int mode);

protected:
    virtual bool has_target() const = 0;
    // Dots per inch of the target along the axis, as to_logical_units divides by.
    virtual int device_resolution(Axis axis) const = 0;
    // The drawing area in logical units (the board's client area, the printable area of the page).
    virtual Size drawing_area() const = 0;

    // Primitives, called only while there is a target, in logical units with y downward.
    virtual void render_line(Point from, Point to) = 0;
    virtual void render_rectangle(int left, int top, int right, int bottom) = 0;
    virtual void render_text(Point at, const Text& text) = 0;
    virtual void render_picture(const Bitmap& bitmap, int x, int y, int width, int height) = 0;
    virtual void render_background(int x, int y, int width, int height) = 0;
    // The current font, text colour or mapping mode changed; the device re-selects them.
    virtual void state_changed() {}

private:
    int m_mapping_mode = mapping_tenth_mm;
    FontDescription m_font;
    Colour m_text_colour = colour_black;
    Point m_position;
};

} // namespace vorsa::runtime
