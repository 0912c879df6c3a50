#pragma once
// "开始打印": the shop list, clerk and address are saved first, whatever happens to the print, then the
// record of the last preview build is printed on the remembered printer.

#include "app/lists.h"
#include "receipt/model.h"
#include "runtime/controls/printer.h"

namespace vorsa::app {

// The click handler's work. `data` is the record as the last preview build left it (all empty before
// the first build, so only the literal texts and rules are printed); it is printed as it is, never
// rebuilt. A printer that cannot be prepared or a document the spooler refuses ends the press silently.
void print_receipt(Lists& lists, runtime::PrintDevice& printer, const receipt::ReceiptData& data,
                   const receipt::ReceiptLines& lines);

} // namespace vorsa::app
