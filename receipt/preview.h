#pragma once
// The preview build: after every "添加预览" and "清除" it fills the receipt record, makes the QR code
// picture and draws the layout on the preview picture box at 0.3 of the printed size.

#include "receipt/model.h"

#include <functional>
#include <vector>

namespace vorsa::runtime {
class DrawingSurface;
}

namespace vorsa::receipt {

// Side of the square code picture in pixels (drawn at 280 x 280 layout units).
inline constexpr int code_picture_side = 300;

// The QR symbol of the code text as picture bytes (one pixel per module, quiet zone included): the GBK
// bytes as they are, automatic version, level L, default mask, black on white. Empty when the encoder
// makes no picture.
Bytes qr_symbol_picture(const Text& code_text);

// The code picture: the symbol stretched to 300 x 300 pixels as a 32-bit BMP. With no symbol it is the
// 0 x 0 BMP, which decodes to nothing, so the layout draws no code.
Bytes make_code_picture(const Text& code_text);

// What the preview build needs from the main window.
class PreviewContext
{
public:
    virtual ~PreviewContext() = default;

    // The preview picture box.
    virtual runtime::DrawingSurface& board() = 0;
    virtual void set_board_visible(bool shown) = 0;
    // The web view that shows the notice page in the preview's place; false when there is none.
    virtual bool web_view_visible() const = 0;
    virtual void set_web_view_visible(bool shown) = 0;

    // The window's fields as they are now.
    virtual ReceiptFields receipt_fields() const = 0;
    virtual const std::vector<Bytes>& ticked_logos() const = 0;
    virtual const ReceiptLines& receipt_lines() const = 0;
    // The record that the build overwrites whole and a later print reuses.
    virtual ReceiptData& receipt_data() = 0;
};

// The build: hides a visible web view for good and shows the board; fills the record (new number,
// fields, logo, total) and its code picture; draws the preview; then dispatches the window events that
// are waiting, so the board repaints and clicks queued meanwhile are handled.
void refresh_preview(PreviewContext& context);

} // namespace vorsa::receipt
