#pragma once
// Printer access over the CUPS spooler. The page is painted with Qt into a PDF document of one page (a
// QPdfWriter in memory, the page surface on top) and handed to the spooler with libcups: the job is
// created when the document starts and receives the PDF when it ends. Only the page request travels
// with the job ("media" for the size, "orientation-requested" for the orientation), so a queue's other
// defaults (duplex, copies) stay its own.
//
// The spooler's client library (libcups) is loaded when the spooler is first needed, not at start;
// without it there are no printers: lists stay as they are and no printer can be prepared.
//
// Every conversation with the spooler, the library's own connections included, runs on a thread of its
// own, and the caller waits for it only up to the time limit: a spooler that is down gives false at
// once, and one that hangs is given up on when the limit passes. A listing given up on only ends later.
// The job is created with the queue's own defaults (a queue that holds every job holds the receipt as
// well) and receives its document as one that more may follow: the spooler schedules nothing until the
// job is closed. It is closed once the spooler has the whole document and the window still waits, with
// the request that hands documents over, so the user needs no other right than `lp` needs; from then on
// the job is the queue's. A job whose document did not reach the spooler whole before the window gave up
// is cancelled by that thread when the spooler answers again, so a spooler that wakes up later never
// prints what the window stopped waiting for. (Only a close already sent when the limit passes may
// still print.) The limit counts for a whole job, from prepare_printer to end_document.
//
// Printer names are the spooler's queue names (GBK here, UTF-8 at the spooler). An instance
// ("queue/instance") is addressed like its queue with the instance's options. A character of a name
// that GBK cannot hold is written "\uXXXX" ("\UXXXXXXXX" beyond 16 bits) in the program's text; see
// printer_text_from_spooler_name.

#include "runtime/controls/printer.h"
#include "runtime/qt/page_surface.h"
#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace vorsa::runtime {

// The resolution that fonts convert with when the driver reports none: a thermal receipt printer's.
inline constexpr int fallback_printer_dpi = 203;

// How long the window waits for the spooler: one listing, one default-printer query, or one whole job.
inline constexpr std::chrono::milliseconds default_spooler_time_limit{8000};
void set_spooler_time_limit(std::chrono::milliseconds limit);

// The file of the spooler's client library, loaded on the next use of the spooler ("libcups.so.2").
void set_spooler_library(std::string file);

// Both settings above as one value: what the program installs with its other process-wide hooks, and
// what a test's guard puts back.
struct SpoolerHooks
{
    std::chrono::milliseconds time_limit = default_spooler_time_limit;
    std::string library = "libcups.so.2";
};
SpoolerHooks current_spooler_hooks();
// Installs both; the library is loaded anew on the next use only when its file changes.
void install_spooler_hooks(const SpoolerHooks& hooks);

// A spooler name (UTF-8) as the program's text: its GBK text when GBK holds every character, else with
// each character GBK cannot hold written as "\u" and four hexadecimal digits (or "\U" and eight), which
// survives the window's lists and the settings file unchanged. The spooler allows no "\" in a queue
// name, so no real name reads as an escape, and names GBK can hold come out exactly as plain GBK.
Text printer_text_from_spooler_name(std::string_view utf8);
// The spooler name a printer text stands for: the exact inverse of the above.
std::string spooler_name_from_printer_text(const Text& text);

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
