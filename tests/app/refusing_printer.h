#pragma once
// A printer for tests of the counter and its window that need no spooler: it records the name of every
// press of "开始打印" and refuses the job, so nothing is printed.

#include "runtime/controls/printer.h"
#include "runtime/text/text.h"

#include <optional>
#include <vector>

namespace vorsa::app::testing {

class RefusingPrinter final : public runtime::PrintDevice
{
public:
    std::vector<std::optional<runtime::Text>> asked;
    // The surface handed out while idle; the window's board serves.
    runtime::DrawingSurface* page = nullptr;

    bool prepare_printer(const std::optional<runtime::Text>& name, const runtime::PageRequest&) override
    {
        asked.push_back(name);
        return false;
    }
    bool start_document(const runtime::Text&) override { return false; }
    bool end_document() override { return false; }
    void close_printer() override {}
    runtime::DrawingSurface& surface() override { return *page; }
};

} // namespace vorsa::app::testing
