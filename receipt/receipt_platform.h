#pragma once
// What the receipt part keeps for the whole process, beside the core's hooks: the clock tick that the
// last receipt number was seeded with. next_receipt_number keeps it so that two builds within one tick
// go on drawing from the generator instead of showing the same number again. A test that draws
// receipt numbers holds a ReceiptPlatformGuard, which puts back this state and the core's hooks (the
// random generator's state among them) when the test ends.

#include "runtime/platform/platform.h"

#include <cstdint>
#include <optional>

namespace vorsa::receipt {

struct ReceiptState
{
    std::optional<std::uint32_t> last_number_seed; // empty: no number drawn from the clock yet
};

// The state kept now.
ReceiptState current_receipt_state();

// Replaces the state kept.
void install_receipt_state(const ReceiptState& state);

// Remembers the core's hooks and the receipt state when it is made and installs them again when it
// ends, whatever was installed or drawn meanwhile.
class ReceiptPlatformGuard : public runtime::PlatformGuard
{
public:
    ReceiptPlatformGuard() : m_saved(current_receipt_state()) {}
    ~ReceiptPlatformGuard() { install_receipt_state(m_saved); }

private:
    ReceiptState m_saved;
};

} // namespace vorsa::receipt
