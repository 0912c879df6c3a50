#include "app/printing.h"

#include "receipt/print.h"

namespace vorsa::app {

void print_receipt(Lists& lists, runtime::PrintDevice& printer, const receipt::ReceiptData& data,
                   const receipt::ReceiptLines& lines)
{
    lists.remember_shop_values();
    receipt::run_print_job(printer, lists.printer_name(), data, lines);
}

} // namespace vorsa::app
