#include "app/program.h"

#include "app/main_window.h"
#include "online/vendor_server.h"
#include "runtime/text/fatal.h"
#include "runtime/print/printer.h"
#include "runtime/widgets/qt_interaction.h"
#include "runtime/qt/qt_platform.h"

#if VORSA_NOTICE_VIEW
#include "runtime/web/web_view.h"

#include <QWebEngineView>
#endif

namespace vorsa::app {

int program_main(int argc, char* argv[], const std::function<void(QApplication&)>& application_made)
{
    runtime::install_out_of_memory_handler();
#if VORSA_NOTICE_VIEW
    runtime::prepare_web_views();
#endif
    // Qt would take native Wayland wherever its plug-in is installed, with a title bar of its own that
    // maximises the fixed-size window; X11 comes first unless the user chose a platform.
    const std::string platform = runtime::preferred_qt_platform(
        qgetenv("QT_QPA_PLATFORM").toStdString(), qgetenv("DISPLAY").toStdString(),
        std::span<char* const>(argv, static_cast<std::size_t>(argc)));
    if (!platform.empty()) qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(platform));
    QApplication application(argc, argv);
    if (application_made) application_made(application);
    runtime::install_qt_platform();
    runtime::install_qt_interaction();

    runtime::Printer printer;
    StartOptions options;
    options.server_address = online::vendor_server_address();
    options.printers = runtime::list_printers;
    options.printer = &printer;
#if VORSA_NOTICE_VIEW
    // The notice page's view: its widget becomes a child of the window and goes with it.
    runtime::WebView web_view;
    options.notice_view = [&web_view](QWidget* parent, const runtime::Text& page) -> runtime::Control* {
        if (!web_view.create_web_view(parent, "about:blank", preview_left, preview_top, preview_width,
                                      preview_height))
            return nullptr;
        web_view.write_web_document(page);
        return &web_view;
    };
#endif
    return start_program(options);
}

} // namespace vorsa::app
