#include "app/win32/program.h"

#include "online/vendor_server.h"
#include "online/win32/win32_sources.h"
#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "runtime/text/fatal.h"
#include "runtime/win32/delay_load.h"
#include "runtime/win32/gdi_surface.h"
#include "runtime/win32/wic_picture.h"
#include "runtime/win32/win32_interaction.h"

namespace vorsa::app {

void install_win32_program_platform()
{
    runtime::load_delayed_dlls_from_system_folder();
    runtime::install_out_of_memory_handler();
    runtime::install_win32_interaction();
    runtime::set_picture_decoder(runtime::decode_with_wic);
    runtime::set_screen_dpi_source(runtime::gdi_screen_vertical_dpi);
}

StartOptions program_options(runtime::Printer& printer)
{
    StartOptions options;
    options.server_address = online::vendor_server_address();
    options.online_sources = online::make_http_sources;
    // Listing the spooler's printers may wait for it (up to its time limit): asked for on a thread once
    // the window has been painted, in before the first key or mouse input.
    options.printers = runtime::list_printers;
    options.printers_after_first_paint = true;
    options.printer = &printer;
    return options;
}

int program_main()
{
    install_win32_program_platform();
    runtime::Printer printer;
    return start_program(program_options(printer));
}

} // namespace vorsa::app
