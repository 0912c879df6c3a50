#pragma once
// A drawing surface that writes down, as readable lines, everything that reaches its pretend device:
// "line x1,y1 x2,y2", "rect l,t r,b", "clear x,y wxh", "picture WxH at x,y wxh" and
// "text x,y <height>[b] <text in UTF-8>" (b for a bold font). Texts drawn in a colour other than black
// are marked with the colour.

#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vorsa::receipt::testing {

class RecordingSurface : public runtime::DrawingSurface
{
public:
    // A device of `dpi` dots per inch in the given mapping mode: the board in mode 1, a printer's page
    // in mode 2.
    RecordingSurface(int mode, int dpi) : m_dpi(dpi) { set_mapping_mode(mode); }

    std::vector<std::string> calls;

protected:
    bool has_target() const override { return true; }
    int device_resolution(runtime::Axis) const override { return m_dpi; }
    runtime::Size drawing_area() const override { return {340, 400}; }
    void render_line(runtime::Point from, runtime::Point to) override
    {
        calls.push_back("line " + point(from) + " " + point(to));
    }
    void render_rectangle(int left, int top, int right, int bottom) override
    {
        calls.push_back("rect " + point({left, top}) + " " + point({right, bottom}));
    }
    void render_text(runtime::Point at, const runtime::Text& text) override
    {
        std::string line = "text " + point(at) + " " + std::to_string(current_font().height) +
                           (current_font().is_bold() ? "b" : "") + " " + runtime::utf8_from_gbk(text);
        if (text_color() != runtime::colour_black) {
            char colour[16];
            std::snprintf(colour, sizeof colour, " #%06X", static_cast<unsigned>(text_color()));
            line += colour;
        }
        calls.push_back(line);
    }
    void render_picture(const runtime::Bitmap& bitmap, int x, int y, int width, int height) override
    {
        calls.push_back("picture " + std::to_string(bitmap.width) + "x" + std::to_string(bitmap.height) +
                        " at " + point({x, y}) + " " + std::to_string(width) + "x" + std::to_string(height));
    }
    void render_background(int x, int y, int width, int height) override
    {
        calls.push_back("clear " + point({x, y}) + " " + std::to_string(width) + "x" +
                        std::to_string(height));
    }

private:
    int m_dpi;
    static std::string point(runtime::Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }
};

} // namespace vorsa::receipt::testing
