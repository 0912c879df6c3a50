#pragma once
// Printer access over the Windows spooler: winspool for the printer list, the default printer and the
// printer's settings record (DEVMODEW), and a GDI printer device (CreateDCW with "WINSPOOL") that the
// page surface draws on.
//
// One document is one page: start_document opens the document (StartDocW) and its page (StartPage),
// end_document closes the page (EndPage) and the document (EndDoc). The program issues no page start
// or end of its own, and GDI draws nothing outside a page.
//
// Every call that may wait for the spooler or the driver (loading winspool, opening the printer, its
// settings, the device, the document and page calls, deleting the device) runs on a thread of its own,
// and the window waits for it only up to the time limit: a listing or a default-printer query each,
// a whole job from prepare_printer to end_document. A call given up on finishes alone and then
// releases what it holds: a device is deleted, an open document aborted (AbortDoc), a document the
// spooler took after all deleted from its queue where the spooler still lets it (SetJobW). The drawing
// itself (fonts, text, lines, pictures) stays on the window's thread; the device is never used by two
// threads at once. winspool.drv is loaded on the first such call, not at start, so a spooler that
// hangs while the library starts cannot hold the program's start either.
//
// Printer names are the spooler's (UTF-16) from end to end; the program's texts are GBK. A character
// GBK cannot hold is written "\u" and four hexadecimal digits ("\U" and eight beyond 16 bits), and a
// "\" that would read as such an escape ("\\server\u1234" names a printer shared as "u1234") is itself
// written "\u005C"; see printer_text_from_spooler_name.

#include "runtime/controls/printer.h"
#include "runtime/text/text.h"
#include "runtime/win32/gdi_surface.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <windows.h>

namespace vorsa::runtime {

// How long the window waits for the spooler: one listing, one default-printer query, or one whole job.
inline constexpr std::chrono::milliseconds default_spooler_time_limit{8000};
void set_spooler_time_limit(std::chrono::milliseconds limit);
std::chrono::milliseconds spooler_time_limit();

// A spooler name as the program's text: its GBK text when GBK holds every character and no "\" in it
// reads as an escape, else with each such character written "\uXXXX" or "\UXXXXXXXX" (upper-case hex)
// and each such "\" written "\u005C". A lone surrogate is written "\uXXXX" as well.
Text printer_text_from_spooler_name(std::u16string_view name);
// The spooler name a printer text stands for: the exact inverse of the above. "\u" with four or "\U"
// with eight hexadecimal digits of a value from 1 to 10FFFF stands for that character (a value
// D800-DFFF for that UTF-16 unit); every other byte is GBK.
std::u16string spooler_name_from_printer_text(const Text& text);

// Replaces `names` with the names (never the descriptions) of the printers installed locally and
// reached through connections, in the spooler's order, and returns their number. With none, or no
// answer within the time limit, the list is left as it was and 0 is returned.
int list_printers(TextList& names);

// The spooler's default printer; empty when there is none or no answer within the time limit.
Text default_printer_name();

// One print job's device and spooler state (printer.cpp).
struct SpoolerJob;

// The settings record a device was made with, as the driver merged it.
struct PrinterSettings
{
    DWORD requested_fields = 0; // the field mask the request set (0xD for the receipt)
    DWORD fields = 0;           // the mask of the merged record
    int orientation = 0;
    int paper_size = 0;   // the driver's paper code; the named paper chosen for a custom size
    int paper_width = 0;  // 0.1 mm
    int paper_length = 0; // 0.1 mm
};

class Printer final : public PrintDevice
{
public:
    Printer();
    ~Printer() override;
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Opens the printer (the default printer when no name is given; an empty name goes to the spooler
    // as it is), takes its current settings (DocumentPropertiesW, DM_OUT_BUFFER), sets the field mask to
    // exactly the fields the request gives (orientation always, portrait when omitted) and their values,
    // and has the driver merge them (DM_IN_BUFFER | DM_OUT_BUFFER). A custom width and length that a
    // paper of the driver's own list matches within 1 mm is then asked for as that paper (its code in
    // place of the custom size): drivers that print only the papers they name (Wine's PostScript driver
    // among them) would otherwise drop the size. The printer device is made from the merged record.
    // False, with no device left, when any step fails or the time limit passes.
    bool prepare_printer(const std::optional<Text>& name, const PageRequest& request) override;
    bool start_document(const Text& document_name) override;
    bool end_document() override;
    void close_printer() override;
    DrawingSurface& surface() override { return m_surface; }
    GdiSurface& page_surface() { return m_surface; }

    bool prepared() const;
    // The settings of the prepared device; all 0 when idle.
    PrinterSettings settings() const;
    // The spooler's job number of the last document it took whole; 0 before the first.
    int last_job_id() const { return m_last_job_id; }

private:
    std::shared_ptr<SpoolerJob> m_job;
    GdiSurface m_surface;
    int m_last_job_id = 0;
};

} // namespace vorsa::runtime
