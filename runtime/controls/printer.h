#pragma once
// The printer as the program sees it: one object that lives as long as the program, opens a named
// printer with a page request, becomes a drawing surface on that page and wraps the drawing in one
// spooler document of one page. The spooler itself lives in the Qt edge (runtime/print/printer.h); this
// interface lets the print job run and test without a spooler.
//
// States: idle (no device) -> prepared (device, no document) -> printing (document open) -> prepared
// (after end_document) -> idle (after close_printer). prepare_printer in any state first discards an
// old device. Every failure is silent: a false result and no printout.

#include "runtime/text/text.h"

#include <optional>

namespace vorsa::runtime {

class DrawingSurface;

inline constexpr int orientation_portrait = 1;
inline constexpr int orientation_landscape = 2;

// What a job asks of the printer's settings. Lengths are in 0.1 mm; a field that is not given is left
// to the printer. A width and length given together make a custom page and win over a paper-size code.
struct PageRequest
{
    std::optional<int> paper_size;   // the platform's paper-size code (DMPAPER_*: 1 Letter, 9 A4, ...)
    std::optional<int> orientation;  // orientation_portrait or orientation_landscape; portrait when omitted
    std::optional<int> paper_width;  // 0.1 mm
    std::optional<int> paper_length; // 0.1 mm
};

class PrintDevice
{
public:
    virtual ~PrintDevice() = default;

    // Opens the printer `name` (the default printer when no name is given) with the request and makes a
    // fresh device for one job. False, with no device left, when the name is empty or unknown to the
    // spooler, the spooler cannot be reached, the request is refused or no device can be made.
    virtual bool prepare_printer(const std::optional<Text>& name, const PageRequest& request) = 0;

    // Opens one spooler document; true when the spooler accepted it. Everything drawn until
    // end_document forms its single page.
    virtual bool start_document(const Text& document_name) = 0;
    // Closes the document and hands it to the spooler; true when the spooler took it whole.
    virtual bool end_document() = 0;
    // Releases the device; a document still open is withdrawn, so no partial job is printed.
    virtual void close_printer() = 0;

    // The drawing surface on the page. Its drawing state (mapping mode, font, text colour) is kept
    // between jobs; primitives do nothing while there is no device.
    virtual DrawingSurface& surface() = 0;
};

} // namespace vorsa::runtime
