#pragma once
// The drawing board: a child widget that is a drawing surface in the pixel mapping mode. Every
// primitive is drawn on an off-screen copy of the client area, and the widget is repainted by copying
// that copy, so covering, minimising or hiding the window never loses what was drawn and drawing while
// the board is hidden shows when it is shown again. On a high-DPI screen the copy keeps the logical
// size in units but holds device pixels, so the picture stays sharp.
//
// For screen readers the board is a picture (named by its accessible name) whose description is the
// text it shows: the texts drawn on it, less those painted over since.

#include "runtime/surface/surface.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <vector>

namespace vorsa::runtime {

class DrawingBoard : public QWidget, public DrawingSurface
{
    Q_OBJECT
public:
    // The board exists as an object before its window does; create_board makes the window.
    DrawingBoard();
    ~DrawingBoard() override;

    // Makes the board a visible child of `parent` at (x, y) in the parent's client pixels with the given
    // size, reads the background colour (the palette's button face), switches to the pixel mapping mode
    // and starts the off-screen copy. True when the window exists; creating it a second time moves it.
    bool create_board(QWidget* parent, int x, int y, int width = 200, int height = 100);

    // The flag of automatic redraw. Qt widgets paint only inside paint events, so the board keeps its
    // copy either way; switching it on (again) re-makes the copy at the current size and device pixel
    // ratio, keeping the pixels drawn so far. Returns whether the copy exists.
    bool set_auto_redraw(bool on);
    bool auto_redraw() const { return m_auto_redraw; }

    void set_visible(bool shown);
    bool is_visible() const;

    QColor background_colour() const { return m_background; }
    // The texts the board shows, a line for each height they were drawn at, from the top; the texts
    // of one line from the left, a blank between two. Empty when it shows none.
    QString shown_text() const;
    // What the board shows, in device pixels (tests and benchmarks read it; the program never does).
    const QImage& off_screen_copy() const { return m_copy; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

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
    void make_copy();
    // Device pixels per logical unit of the current mapping mode, per axis.
    double unit_scale(Axis axis) const;
    // Marks the damaged logical rectangle for repainting (inflated by a pixel for stroked edges).
    void damage(int x, int y, int width, int height);
    // A text drawn with its cell's top-left corner at `at` (device pixels of the copy).
    void text_drawn(QPoint at, const QString& text);
    // Forgets the texts that start inside the painted rectangle (device pixels of the copy).
    void painted_over(const QRect& area);
    // Tells screen readers, once the drawing in progress is done, that the shown text changed.
    void announce_text_change();

    bool m_created = false;
    bool m_auto_redraw = false;
    QColor m_background;
    QImage m_copy;
    // Device pixels per widget pixel of the copy.
    double m_copy_ratio = 1.0;
    QFont m_qfont;
    struct ShownText
    {
        QPoint at;
        QString text;
    };
    std::vector<ShownText> m_texts;
    bool m_text_change_announced = false;
};

} // namespace vorsa::runtime
