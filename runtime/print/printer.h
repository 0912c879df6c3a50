#pragma once
// Printer access over the CUPS spooler. The page is painted with Qt into a PDF document of one page (a
// QPdfWriter in memory, the page surface on top) and handed to the spooler with libcups: the job is
// created when the document starts and receives the PDF when it ends. Only the page request travels
// with the job ("media" for the size, "orientation-requested" for the orientation), so a queue's other
// defaults (duplex, copies) stay its own.
//
// Every call to the spooler runs on a connection of its own with bounded waits, so a spooler that is
// down gives false at once and one that stops answering is given up after a few seconds.
//
// Printer names are the spooler's queue names (GBK here, UTF-8 at the spooler). An instance
// ("queue/instance") is addressed like its queue with the instance's options.

#include "runtime/text/bytes.h"
#include "runtime/controls/printer.h"
#include "runtime/qt/page_surface.h"
#include "runtime/text/text.h"

#include <memory>

namespace vorsa::runtime {

// The resolution that fonts convert with when the driver reports none: a thermal receipt printer's.
inline constexpr int fallback_printer_dpi = 203;

// Replaces `names` with the spooler's queues (local and connected ones, names only, instances
// excluded) in the spooler's order and returns their number. With no queue, or no spooler, the list
// is left as it was and 0 is returned.
int list_printers(TextList& names);

// The spooler's default printer (also from the LPDEST and PRINTER variables and lpoptions); empty when
// there is none or the spooler cannot be reached.
Text default_printer_name();

class Printer final : public PrintDevice
{
public:
    Printer();
    ~Printer() override;
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Looks the queue up at the spooler (an empty or unknown name, or no spooler, gives false: a name
    // is never replaced by another printer), asks it for its default resolution (fallback_printer_dpi
    // when it reports none) and makes a fresh one-page PDF device of the requested size at that
    // resolution, without margins, with the page surface attached. A width or length below 1 or above
    // 32767 tenths of a millimetre, or an orientation other than portrait or landscape, is refused.
    bool prepare_printer(const std::optional<Text>& name, const PageRequest& request) override;
    bool start_document(const Text& document_name) override;
    bool end_document() override;
    void close_printer() override;
    DrawingSurface& surface() override { return m_surface; }

    bool prepared() const;
    // The vertical resolution of the prepared queue (the one fonts convert with); 0 when idle.
    int resolution() const;
    // The spooler's number of the last document it took whole; 0 before the first.
    int last_job_id() const { return m_last_job_id; }
    // The PDF of that document as it was handed to the spooler.
    const Bytes& last_document() const { return m_last_document; }

private:
    struct Job;
    bool begin_page();

    std::unique_ptr<Job> m_job;
    PageSurface m_surface;
    int m_last_job_id = 0;
    Bytes m_last_document;
};

} // namespace vorsa::runtime
