#include "receipt/print.h"

#include "receipt/layout.h"
#include "runtime/surface/surface.h"

namespace vorsa::receipt {

runtime::PageRequest receipt_page_request()
{
    runtime::PageRequest request;
    request.orientation = runtime::orientation_portrait;
    request.paper_width = receipt_paper_width;
    request.paper_length = receipt_paper_length;
    return request;
}

void run_print_job(runtime::PrintDevice& printer, const Text& printer_name, const ReceiptData& data,
                   const ReceiptLines& lines)
{
    if (!printer.prepare_printer(printer_name, receipt_page_request())) return;
    printer.surface().set_mapping_mode(runtime::mapping_tenth_mm);
    // The end result is not used: a document the spooler did not take is simply not printed.
    if (printer.start_document({})) {
        draw_receipt_print(printer.surface(), data, lines);
        printer.end_document();
    }
    printer.close_printer();
}

} // namespace vorsa::receipt
