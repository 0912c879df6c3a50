#pragma once
// The receipt's one layout, drawn by the preview onto the preview picture box and by the print job onto
// the page. Both outputs draw the same elements at the same layout coordinates in the same order; they
// differ only in the parameters below. Layout units are 0.1 mm on paper; an element at layout (x, y)
// lands at surface x = trunc(K * x + X0) (X0 only for shifted elements: all but the logo) and surface
// y = trunc(K * y), picture sizes trunc(K * w) x trunc(K * h), computed in double precision.

#include "receipt/model.h"
#include "runtime/surface/surface.h"

namespace vorsa::receipt {

struct LayoutParameters
{
    double scale = 1.0;    // K
    double shift = 0.0;    // X0
    int font_a_points = 0; // column headings, bold
    int font_b_points = 0; // the title line, bold
    int font_c_points = 0; // every other text, regular
    // Clear the whole surface to its background and draw the white sheet (0, 0)-(340, 400) first.
    bool clear_and_frame = false;
    // The resolution the points are converted at (make_font_at); 0 for the screen's (make_font).
    int font_dpi = 0;
};

// The page in 0.1 mm: full size, shifted 2 mm to the left, fonts of 15, 17 and 13 points. The points
// are taken at 96 dpi whatever the screen, so that the letters on paper follow the printer's resolution
// alone: 13 points are 17 screen pixels, 2.8 mm on a 203 dpi printer.
inline constexpr LayoutParameters print_layout{1.0, -20.0, 15, 17, 13, false, runtime::reference_screen_dpi};
// The preview picture box in pixels: 340 x 400, the box the preview clears and frames.
inline constexpr int preview_width = 340;
inline constexpr int preview_height = 400;
// The preview in it: 0.3 of the printed size, fonts of 8, 10 and 8 points.
inline constexpr LayoutParameters preview_layout{0.3, 0.0, 8, 10, 8, true};

// "宋体", the face of every text on the receipt.
Text receipt_face();

// Draws the whole receipt: black text colour; with clear_and_frame the cleared box and its sheet; the
// logo and the QR code (nothing for bytes that decode to nothing); the rules; the headings in font A,
// the title in font B, the other texts in font C; then the five item rows, every row used or not, an
// empty cell drawing nothing. Reads the record and the lines, changes neither.
void draw_receipt(runtime::DrawingSurface& surface, const LayoutParameters& parameters,
                  const ReceiptData& data, const ReceiptLines& lines);

// The preview picture box, which must be in the pixel mapping mode.
void draw_receipt_preview(runtime::DrawingSurface& surface, const ReceiptData& data,
                          const ReceiptLines& lines);
// The page of a started print job, in the 0.1 mm mapping mode.
void draw_receipt_print(runtime::DrawingSurface& surface, const ReceiptData& data, const ReceiptLines& lines);

} // namespace vorsa::receipt
