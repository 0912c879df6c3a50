#include "receipt/preview.h"

#include "qr/qr_code.h"
#include "qr/qr_encoder.h"
#include "receipt/layout.h"
#include "runtime/controls/interaction.h"
#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"

namespace vorsa::receipt {

Bytes qr_symbol_picture(const Text& code_text)
{
    // The GBK bytes as they are, at level L. The encoder keeps nothing from one build to the next (the
    // code tables are built once for the whole run by the QR part), so each build makes its own.
    qr::QrEncoder encoder(runtime::utf8_from_gbk);
    encoder.qr_encode(code_text, qr::input_gbk_bytes, qr::smallest_version,
                      static_cast<int>(qr::ErrorLevel::low), qr::default_mask, runtime::colour_black,
                      runtime::colour_white);
    return encoder.qr_picture();
}

Bytes make_code_picture(const Text& code_text)
{
    return runtime::fit_picture(qr_symbol_picture(code_text), code_picture_side, code_picture_side);
}

void refresh_preview(PreviewContext& context)
{
    if (context.web_view_visible()) {
        context.set_web_view_visible(false);
        context.set_board_visible(true);
    }

    Text code_text;
    ReceiptData& record = context.receipt_data();
    record = collect_receipt_data(context.receipt_fields(), context.receipt_lines(), context.ticked_logos(),
                                  code_text);
    record.code_picture = make_code_picture(code_text);

    draw_receipt_preview(context.board(), record, context.receipt_lines());
    runtime::process_pending_events();
}

} // namespace vorsa::receipt
