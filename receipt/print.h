#pragma once
// The print job of "开始打印": the record of the last preview build and the current lines, laid out at
// full size in 0.1 mm units on one portrait 120 x 140 mm page of the remembered printer. Printing never
// rebuilds the record, so the receipt number on paper is the preview's.

#include "receipt/model.h"
#include "runtime/controls/printer.h"

namespace vorsa::receipt {

// The receipt's page: 120.0 x 140.0 mm, portrait, no paper-size code.
inline constexpr int receipt_paper_width = 1200;  // 0.1 mm
inline constexpr int receipt_paper_length = 1400; // 0.1 mm
runtime::PageRequest receipt_page_request();

// Prepares `printer_name` with the receipt's page, switches the surface to 0.1 mm units, starts one
// document with the empty name, draws the receipt and ends the document only when the start succeeded,
// and always closes the printer afterwards. Stops silently, before anything else, when the printer
// cannot be prepared.
void run_print_job(runtime::PrintDevice& printer, const Text& printer_name, const ReceiptData& data,
                   const ReceiptLines& lines);

} // namespace vorsa::receipt
