#pragma once
// Faults the program cannot go on from: an index outside a table, memory exhausted. They are reported
// through a replaceable handler (standard error by default; the window shows a message box) and then
// end the program.

#include "runtime/text/text.h"

#include <vector>

namespace vorsa::runtime {

enum class Fault
{
    index_above_count = 1,
    not_a_number = 2,
    dimension_mismatch = 3,
    index_below_one = 4,
    type_mismatch = 5,
    stack_imbalance = 6,
    no_value = 7,
    compare_equality_only = 8,
    choice_out_of_range = 9,
    bad_dimension = 10,
    bad_argument_type = 11,
};

// Shows a fault to the user: title and message are GBK. It may return; the program ends afterwards.
using FatalHandler = void (*)(const Text& title, const Text& message);

// Installs a handler; nullptr restores the default (standard error).
void set_fatal_handler(FatalHandler handler);
// The installed handler; nullptr for the default.
FatalHandler fatal_handler();

// "program internal error number is N. \r\n" + the fault's text (GBK).
Text fault_message(Fault fault);

[[noreturn]] void fatal_error(Fault fault);
// Reports "内存不足" and ends the program.
[[noreturn]] void out_of_memory();
// Makes a failed allocation anywhere end the program through out_of_memory().
void install_out_of_memory_handler();

// Element `index` (1-based) of a list; an index outside it is a fault.
template <class List> auto& element(List& list, int index)
{
    if (index < 1) fatal_error(Fault::index_below_one);
    if (static_cast<std::size_t>(index) > list.size()) fatal_error(Fault::index_above_count);
    return list[static_cast<std::size_t>(index) - 1];
}

} // namespace vorsa::runtime
