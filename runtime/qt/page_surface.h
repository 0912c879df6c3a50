#pragma once
// The page surface: a drawing surface over a page being painted on any paged device (the printer, a
// PDF writer in tests). Its units are those of the mapping mode, normally 0.1 mm, measured from the
// top-left corner of the printable area with y growing downward.

#include "runtime/surface/surface.h"

#include <QFont>

class QPagedPaintDevice;
class QPainter;

namespace vorsa::runtime {

class PageSurface : public DrawingSurface
{
public:
    PageSurface() = default;
    ~PageSurface() override;

    // Binds the surface to `painter`, which is active on `device` with its origin at the top-left corner
    // of the printable area (the default of paged devices that do not paint the full page). Drawing maps
    // the mode's units to the device's real resolution; font heights convert with `reported_vertical_dpi`,
    // the resolution the printer reports (0 takes the device's own), so the printer code decides which
    // value a real printer stands for. Both objects stay the caller's and must outlive the binding. The
    // drawing state (mode, font, text colour) is kept across bindings.
    void attach(QPagedPaintDevice& device, QPainter& painter, int reported_vertical_dpi = 0);
    // Leaves the surface without a target; primitives do nothing until the next attach.
    void detach();
    bool attached() const { return m_painter != nullptr; }

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

private:
    // Device pixels per logical unit along the axis.
    double unit_scale(Axis axis) const;

    QPagedPaintDevice* m_device = nullptr;
    QPainter* m_painter = nullptr;
    int m_reported_vertical_dpi = 0;
    QFont m_qfont;
};

} // namespace vorsa::runtime
