#include "receipt/receipt_platform.h"

namespace vorsa::receipt {

namespace {

ReceiptState& kept_state()
{
    static ReceiptState state;
    return state;
}

} // namespace

ReceiptState current_receipt_state()
{
    return kept_state();
}

void install_receipt_state(const ReceiptState& state)
{
    kept_state() = state;
}

} // namespace vorsa::receipt
