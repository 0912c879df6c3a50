#include "app/qt/program.h"

#include "app/qt/program_platform.h"
#include "app/qt/qt_counter_window.h"
#include "online/vendor_server.h"
#include "runtime/print/printer.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/text/fatal.h"

#if VORSA_HTTP_SOURCES
#include "online/qt/qt_sources.h"
#endif
#if VORSA_NOTICE_VIEW
#include "runtime/web/notice_view_module.h"
#endif

namespace vorsa::app {

int program_main(int argc, char* argv[], const std::function<void(QApplication&)>& application_made)
{
    runtime::install_out_of_memory_handler();
    // Qt would take native Wayland wherever its plug-in is installed, with a title bar of its own that
    // maximises the fixed-size window; X11 comes first unless the user chose a platform.
    const std::string platform = runtime::preferred_qt_platform(
        qgetenv("QT_QPA_PLATFORM").toStdString(), qgetenv("DISPLAY").toStdString(),
        std::span<char* const>(argv, static_cast<std::size_t>(argc)));
    if (!platform.empty()) qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platform));
    QApplication application(argc, argv);
    if (application_made) application_made(application);
    install_qt_program_platform();

    runtime::Printer printer;
    StartOptions options;
    options.server_address = online::vendor_server_address();
    // Listing the spooler's queues loads libcups with its libraries: asked for once the window is painted.
    options.printers = runtime::list_printers;
    options.printers_after_first_paint = true;
    options.printer = &printer;
#if VORSA_HTTP_SOURCES
    options.online_sources = online::make_http_sources;
#endif
#if VORSA_NOTICE_VIEW
    // The notice page's view, from its module once a page has arrived; its widget becomes a child of the
    // window and goes with it.
    // The page loads from the vendor's server only.
    std::unique_ptr<runtime::Control> notice_view;
    options.notice_view = [&notice_view, server = options.server_address](QWidget* parent,
                                                                          const runtime::Text& page) {
        notice_view = runtime::load_notice_view(parent, page, server, preview_left, preview_top,
                                                preview_width, preview_height);
        return notice_view.get();
    };
#endif
    return start_program(options);
}

} // namespace vorsa::app
